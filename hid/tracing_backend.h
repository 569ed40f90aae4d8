// A backend that passes every call on to another one and writes down what
// went over the link: each open and close, and each report sent or received
// in hex, one line with a time stamp each. Support asks for this when a
// device misbehaves; a front end wraps its backend in it only when the user
// asked for a trace, so an update without one pays nothing for it.
//
// A line looks like
//   [    0.004211] out 65: 00 71 0e 0a 00 00 00 01 00 ...
//   [    0.104711] in 65: 00 19 00 00 00 ...
//   [    0.304711] in timed out
//   [    0.305102] out failed (WriteFile: 1167): 00 71 0e ...
//   [    0.305544] open read /dev/hidraw3: access denied (hid_open_path: 13, Permission denied)
// The time stamp counts seconds since the backend was made. A failed open or
// transfer names, in brackets, the platform's call that failed and its code
// (and hidapi's text), where the platform gave one.
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

#include "hid/forwarding_backend.h"

namespace gps {

class TracingBackend : public ForwardingBackend {
 public:
  TracingBackend(HidBackend& inner, std::ostream& out);

  // Enumeration, attribute and serial queries and cancels pass unwritten: a
  // program that waits for the device makes them several times a second.
  HidOpenResult OpenData(const std::string& path, HidAccess access) override;
  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override;
  TransferResult Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) override;
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override;
  void Close(HidHandle handle) override;
  DeviceClaim ClaimDevice(const std::string& path) override;

 private:
  void Line(const std::string& text);

  std::ostream& out_;
  std::mutex mutex_;  // one line at a time, whichever thread writes it
  const std::chrono::steady_clock::time_point start_;
};

}  // namespace gps
