// The platform seam of the device link.
//
// CHidDevice (hid_device.h) holds the logic that is the same everywhere:
// which interface to pick, the order of opens, what a transfer's outcome
// means, the order of cancels and closes. Everything that talks to an
// operating system, or stands in for one, implements this interface:
//
//   backend_win32.cc    SetupDi/HidD enumeration, overlapped ReadFile/WriteFile
//   backend_hidapi.cc   the distribution's hidapi (hidraw) library
//   backend_webhid.cc   the browser's WebHID (the web page, in WebAssembly)
//   sim_device.cc       an in-process device for tests and demos
//
// Contract for every entry:
//   - No entry throws. Errors are reported through the closed set of results
//     below; backends translate errno/GetLastError at this boundary.
//   - Transfer blocks the calling thread, but never longer than `boundMs`, and
//     returns early with Stopped as soon as `stop` is set.
//   - Reports have the Windows shape on both sides of the seam: 65 bytes,
//     report identifier first, and a completed transfer counts that byte.
//   - A write may be accepted before the platform has settled it (WebHID keeps
//     a few output reports in flight to keep the wire busy). A failure of an
//     accepted report is returned by a later write on that handle or by
//     Flush; the link flushes before it calls an exchange done.
//   - Cancel ends whatever the calling thread still has outstanding on the
//     handle and returns only when the platform no longer uses its buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hid/stop_event.h"

namespace gps {

// A data handle of a backend. kInvalidHidHandle plays the part of
// INVALID_HANDLE_VALUE: a handle is either open or this value.
using HidHandle = std::intptr_t;
constexpr HidHandle kInvalidHidHandle = -1;

struct HidAttributes {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t version = 0;
};

// The lengths of the input and output reports an interface declares, in
// bytes, report identifier included.
struct HidReportLengths {
  uint32_t input = 0;
  uint32_t output = 0;
};

// Why a data open failed, as far as the platform can tell.
enum class HidOpenError {
  None,          // it opened
  AccessDenied,  // no permission (on Linux, the mode of /dev/hidraw*)
  Busy,          // another program holds the device exclusively
  Gone,          // the device left between enumeration and open
  Other,
  // Set by the link, never by a backend: both handles opened, but the
  // device's reports are not the 65 bytes of this device's firmware.
  UnexpectedReports,
};

struct HidOpenResult {
  HidHandle handle = kInvalidHidHandle;
  HidOpenError error = HidOpenError::Other;
};

enum class HidAccess { Read, Write };
enum class HidDirection { Read, Write };

enum class TransferStatus {
  Completed,  // the transfer went through; `count` is what it moved
  Failed,     // the platform refused or failed it (device gone, no access)
  TimedOut,   // it did not complete within the bound and was cancelled
  Stopped,    // the stop event ended the wait; the transfer was cancelled
};

struct TransferResult {
  TransferStatus status = TransferStatus::Failed;
  uint32_t count = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // Paths of the present HID interfaces, in the platform's enumeration order.
  virtual std::vector<std::string> EnumerateInterfaces() = 0;

  // Opens the path for querying only, reads its attributes and closes it
  // again. Empty when the interface cannot be queried. It does not ask the
  // device anything, so a slow device cannot hold it up.
  virtual std::optional<HidAttributes> QueryAttributes(const std::string& path) = 0;

  // The serial number of the interface, empty where it has none. The device
  // itself is asked, which a sleeping device may take long to answer: ask
  // only interfaces whose identifiers matched.
  virtual std::string QuerySerial(const std::string& path) = 0;

  // Opens a data handle, sharing reading and writing with other openers.
  virtual HidOpenResult OpenData(const std::string& path, HidAccess access) = 0;

  // One report in `direction` on `handle`: `buffer` holds `length` bytes.
  virtual TransferResult Transfer(HidHandle handle, HidDirection direction,
                                  uint8_t* buffer, uint32_t length,
                                  uint32_t boundMs, const StopEvent& stop) = 0;

  // Waits until every output report accepted on `handle` has gone out, at
  // most `boundMs` for each: Completed when all went, else how the first
  // one that did not go ended. Backends that settle each write inside
  // Transfer have nothing outstanding.
  virtual TransferResult Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) {
    (void)handle, (void)boundMs, (void)stop;
    return {TransferStatus::Completed, 0};
  }

  // The report lengths that the device behind an open data handle declares;
  // empty where the platform does not tell.
  virtual std::optional<HidReportLengths> ReportLengths(HidHandle handle) = 0;

  virtual void Cancel(HidHandle handle) = 0;
  virtual void Close(HidHandle handle) = 0;
};

// The backend of the platform this program was built for: Win32 on Windows,
// hidapi elsewhere. It lives for the whole process.
HidBackend& PlatformHidBackend();

}  // namespace gps
