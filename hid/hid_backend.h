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
//   sim_bus.cc          an in-process bus for tests and demos (sim_bus.h)
//
// Contract for every entry (each entry below adds its own line):
//   - No entry throws. Errors are reported through the closed set of results
//     below, which is all a caller branches on; beside it, a failed open or
//     transfer carries the platform's own cause (the failing call and its
//     code), for the trace that support reads.
//   - Reports have the Windows shape on both sides of the seam: 65 bytes,
//     report identifier first, and a completed transfer counts that byte.
//   - A write may be accepted before the platform has settled it (WebHID keeps
//     a few output reports in flight to keep the wire busy). A failure of an
//     accepted report is returned by a later write on that handle or by
//     Flush; the link flushes before it calls an exchange done.
//   - Any entry may be called from any thread. A handle belongs to one
//     thread at a time: the thread that makes its transfers also cancels
//     and closes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hid/device_lock.h"
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

// The platform's own word on a failure: the call that failed and its code
// (errno, GetLastError()), and its text where the platform gives one
// (hidapi's hid_error). Empty (no call) where the platform said nothing: a
// stop, a time-out, or a failure the backend found itself.
struct PlatformCause {
  const char* call = nullptr;  // a string literal, the call's name
  int64_t code = 0;
  std::string text;
};

struct HidOpenResult {
  // A constructor rather than an aggregate, so that a result without a
  // cause is written {handle, error}.
  HidOpenResult(HidHandle h = kInvalidHidHandle, HidOpenError e = HidOpenError::Other,
                PlatformCause c = {})
      : handle(h), error(e), cause(std::move(c)) {}

  HidHandle handle;
  HidOpenError error;
  PlatformCause cause;  // why it failed, when it did
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
  TransferResult(TransferStatus s = TransferStatus::Failed, uint32_t n = 0, PlatformCause c = {})
      : status(s), count(n), cause(std::move(c)) {}

  TransferStatus status;
  uint32_t count;  // bytes moved, report identifier included
  PlatformCause cause;  // why it failed, when the platform failed it
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // Paths of the present HID interfaces, in the platform's enumeration order.
  // Blocks while the platform enumerates (milliseconds; it opens nothing and
  // is cheap enough to call several times a second). Empty when the
  // enumeration fails.
  virtual std::vector<std::string> EnumerateInterfaces() = 0;

  // Opens the path for querying only, reads its attributes and closes it
  // again. Blocks for as long as that open and query take (milliseconds);
  // it does not ask the device anything, so a slow device cannot hold it up,
  // and it never leaves anything open. Empty when the interface cannot be
  // queried.
  virtual std::optional<HidAttributes> QueryAttributes(const std::string& path) = 0;

  // The serial number of the interface, empty where it has none. The device
  // itself is asked, which a sleeping device may take long to answer (it
  // blocks until the platform gives up): ask only interfaces whose
  // identifiers matched.
  virtual std::string QuerySerial(const std::string& path) = 0;

  // Opens a data handle, sharing reading and writing with other openers.
  // Blocks for the open itself (milliseconds). A handle, or
  // kInvalidHidHandle with the cause in `error` and `cause`.
  virtual HidOpenResult OpenData(const std::string& path, HidAccess access) = 0;

  // One report in `direction` on `handle`: `buffer` holds `length` bytes.
  // Blocks the calling thread, never longer than `boundMs`, and returns
  // early with Stopped as soon as `stop` is set (a stop already set keeps
  // the report from going out). Completed with the bytes moved; Failed (the
  // platform refused it, the device is gone, the handle is not open);
  // TimedOut or Stopped, the transfer cancelled and its buffer no longer in
  // the platform's use. Never consumes the stop event: the link resets it.
  virtual TransferResult Transfer(HidHandle handle, HidDirection direction,
                                  uint8_t* buffer, uint32_t length,
                                  uint32_t boundMs, const StopEvent& stop) = 0;

  // Waits until every output report accepted on `handle` has gone out, at
  // most `boundMs` for each, and returns early with Stopped when `stop` is
  // set: Completed when all went, else how the first one that did not go
  // ended. Backends that settle each write inside
  // Transfer have nothing outstanding.
  virtual TransferResult Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) {
    (void)handle, (void)boundMs, (void)stop;
    return {TransferStatus::Completed, 0};
  }

  // The report lengths that the device behind an open data handle declares;
  // empty where the platform does not tell. Does not block on the device.
  virtual std::optional<HidReportLengths> ReportLengths(HidHandle handle) = 0;

  // Ends whatever the calling thread still has outstanding on the handle
  // and returns only when the platform no longer uses its buffer. Bounded
  // by the platform's cancellation (milliseconds); no result.
  virtual void Cancel(HidHandle handle) = 0;
  // Releases the handle, which is not valid afterwards. Does not wait for
  // the device; no result. Called once for each handle opened.
  virtual void Close(HidHandle handle) = 0;

  // Claims the interface at `path` for one whole update against every other
  // program and job (device_lock.h). Never waits: busy at once when someone
  // else holds it. A backend that passes calls on to another one passes
  // this on too, so that every view of one bus meets the same claims.
  virtual DeviceClaim ClaimDevice(const std::string& path) { return ClaimInProcess(this, path); }
};

// The backend of the platform this program was built for: Win32 on Windows,
// hidapi elsewhere. It lives for the whole process.
HidBackend& PlatformHidBackend();

}  // namespace gps
