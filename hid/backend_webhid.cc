// The device link's backend in the browser: WebHID, for the web page.
//
// The core runs on the page's thread and each of these calls waits on a
// WebHID promise through Asyncify (EM_ASYNC_JS): the core's code stays
// blocking while the browser keeps running. The JavaScript half,
// backend_webhid.js, holds the HIDDevice objects, one shared connection per
// device, the input reports that arrived for each read handle, and the
// output reports still in flight (and queued behind them) on each write
// handle.
//
// Every call answers: a JavaScript fault ends as a failed call (safely()),
// never as a core that waits for ever.
//
// A path is "webhid:" and the device's number on the JavaScript side. The
// page can see only devices the user has granted it, so enumeration lists
// exactly those that are plugged in.
#include <emscripten.h>

#include <charconv>
#include <string_view>

#include "hid/hid_backend.h"

namespace gps {
namespace {

constexpr std::string_view kPathPrefix = "webhid:";
constexpr int kMaxDevices = 32;

EM_ASYNC_JS(int, WebHidEnumerate, (int* numbers, int max), {
  const list = await gpsWebHid.safely(() => gpsWebHid.enumerate(), []);
  const n = Math.min(list.length, max);
  for (let i = 0; i < n; i++) HEAP32[(numbers >> 2) + i] = list[i];
  return n;
});

EM_JS(int, WebHidAttributes, (int number, uint16_t* ids), {
  const device = gpsWebHid.devices[number];
  if (!device) return 0;
  HEAPU16[ids >> 1] = device.vendorId;
  HEAPU16[(ids >> 1) + 1] = device.productId;
  return 1;
});

EM_JS(int, WebHidReportLengths, (int handle, uint32_t* lengths), {
  const found = gpsWebHid.reportLengths(handle);
  if (!found) return 0;
  HEAPU32[lengths >> 2] = found.input;
  HEAPU32[(lengths >> 2) + 1] = found.output;
  return 1;
});

EM_ASYNC_JS(int, WebHidOpen, (int number, int read, int* error), {
  const [handle, why] = await gpsWebHid.safely(() => gpsWebHid.open(number, read !== 0), [-1, 4]);
  HEAP32[error >> 2] = why;
  return handle;
});

EM_ASYNC_JS(int, WebHidRead, (int handle, uint8_t* buffer, uint32_t length, uint32_t boundMs,
                              int stop, uint32_t* count), {
  const [result, n] = await gpsWebHid.safely(
      () => gpsWebHid.read(handle, buffer, length, boundMs, stop), [1, 0]);
  HEAPU32[count >> 2] = n;
  return result;
});

// An output report is taken without a pause of the core: handed to WebHID,
// or queued behind the window of reports in flight and handed over by
// JavaScript as soon as one of those has gone. Only when the queue is full
// too does the write wait, through Asyncify (each such pause unwinds and
// rewinds the core's whole stack, which costs more than a report), until a
// window's worth of room is free; WebHID meanwhile keeps a full window.
EM_JS(int, WebHidSend, (int handle, const uint8_t* buffer, uint32_t length, int stop), {
  return gpsWebHid.send(handle, buffer, length, stop);
});

EM_ASYNC_JS(int, WebHidMakeRoom, (int handle, uint32_t boundMs, int stop), {
  return await gpsWebHid.safely(() => gpsWebHid.makeRoom(handle, boundMs, stop), 1);
});

EM_ASYNC_JS(int, WebHidFlush, (int handle, uint32_t boundMs, int stop), {
  return await gpsWebHid.safely(() => gpsWebHid.flush(handle, boundMs, stop), 1);
});

EM_ASYNC_JS(void, WebHidClose, (int handle), {
  await gpsWebHid.safely(() => gpsWebHid.close(handle), undefined);
});

// WebHidSend's answer for a report handed over that filled the window.
constexpr int kWindowFull = 4;

int StopNumber(const StopEvent& stop) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(stop.NativeHandle()));
}

// The device's number in a path made by EnumerateInterfaces, or -1.
int Number(const std::string& path) {
  if (path.compare(0, kPathPrefix.size(), kPathPrefix) != 0) return -1;
  int number = -1;
  const char* first = path.data() + kPathPrefix.size();
  const char* last = path.data() + path.size();
  const auto [end, error] = std::from_chars(first, last, number);
  return error == std::errc() && end == last ? number : -1;
}

TransferStatus Status(int result) {
  switch (result) {
    case 0: return TransferStatus::Completed;
    case 2: return TransferStatus::TimedOut;
    case 3: return TransferStatus::Stopped;
    default: return TransferStatus::Failed;
  }
}

HidOpenError OpenError(int error) {
  switch (error) {
    case 0: return HidOpenError::None;
    case 1: return HidOpenError::AccessDenied;
    case 2: return HidOpenError::Busy;
    case 3: return HidOpenError::Gone;
    default: return HidOpenError::Other;
  }
}

class WebHidBackend : public HidBackend {
 public:
  std::vector<std::string> EnumerateInterfaces() override {
    int numbers[kMaxDevices];
    const int count = WebHidEnumerate(numbers, kMaxDevices);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
      paths.push_back(std::string(kPathPrefix) + std::to_string(numbers[i]));
    return paths;
  }

  // WebHID gives neither a release number nor a serial number: a serial
  // number is empty, as where a platform has none.
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override {
    uint16_t ids[2] = {};
    const int number = Number(path);
    if (number < 0 || !WebHidAttributes(number, ids)) return std::nullopt;
    HidAttributes attributes;
    attributes.vendorId = ids[0];
    attributes.productId = ids[1];
    return attributes;
  }

  std::string QuerySerial(const std::string&) override { return {}; }

  HidOpenResult OpenData(const std::string& path, HidAccess access) override {
    const int number = Number(path);
    if (number < 0) return {kInvalidHidHandle, HidOpenError::Gone};
    int error = 0;
    const int handle = WebHidOpen(number, access == HidAccess::Read ? 1 : 0, &error);
    if (handle < 0) return {kInvalidHidHandle, OpenError(error)};
    return {handle, HidOpenError::None};
  }

  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
    const int id = static_cast<int>(handle);
    if (direction == HidDirection::Read) {
      uint32_t count = 0;
      const int result = WebHidRead(id, buffer, length, boundMs, StopNumber(stop), &count);
      return {Status(result), count};
    }
    int result = WebHidSend(id, buffer, length, StopNumber(stop));
    if (result == kWindowFull) result = WebHidMakeRoom(id, boundMs, StopNumber(stop));
    return {Status(result), result == 0 ? length : 0};
  }

  TransferResult Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) override {
    return {Status(WebHidFlush(static_cast<int>(handle), boundMs, StopNumber(stop))), 0};
  }

  // From the report descriptor that the browser parsed; empty when it
  // describes no report.
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override {
    uint32_t lengths[2] = {};
    if (!WebHidReportLengths(static_cast<int>(handle), lengths)) return std::nullopt;
    return HidReportLengths{lengths[0], lengths[1]};
  }

  // Every wait of a transfer ends inside Transfer, and the reports it handed
  // to WebHID are copies: nothing here still uses the caller's buffer.
  void Cancel(HidHandle) override {}

  void Close(HidHandle handle) override { WebHidClose(static_cast<int>(handle)); }
};

}  // namespace

HidBackend& PlatformHidBackend() {
  static WebHidBackend backend;
  return backend;
}

}  // namespace gps
