// The device link's backend on Linux and other hosts with hidapi.
//
// hidapi hands over reports of a device without numbered reports as 64 bytes
// with no identifier, and takes output reports with the identifier byte 0 in
// front. The link works with reports shaped as on Windows (65 bytes,
// identifier first, counted whole), so this backend adds and counts that
// byte on the way in.
#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <unordered_map>

#include "hid/device_lock_posix.h"
#include "hid/hid_backend.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;

// hid_read_timeout cannot be interrupted, so a read waits in slices this
// long and looks at the stop event between them.
constexpr int kReadSliceMs = 20;

hid_device* Device(HidHandle handle) { return reinterpret_cast<hid_device*>(handle); }

HidOpenError OpenErrorFrom(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return HidOpenError::AccessDenied;
    case EBUSY: return HidOpenError::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO: return HidOpenError::Gone;
    default: return HidOpenError::Other;
  }
}

// hidapi gives serial numbers and error texts as wide strings; both are
// ASCII (USB serials, strerror's English).
std::string AsciiText(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text)
    out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

// What hidapi says of its last failure on `device` (null: of an open), with
// the errno of the system call beneath it, taken by the caller right after
// the failed call, before anything else can change it.
PlatformCause Cause(const char* call, int error, hid_device* device) {
  return {call, error, AsciiText(hid_error(device))};
}

class HidapiBackend : public HidBackend {
 public:
  HidapiBackend() { hid_init(); }
  ~HidapiBackend() override { hid_exit(); }

  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths;
    std::lock_guard<std::mutex> lock(mutex_);
    attributes_.clear();
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* d = all; d; d = d->next) {
      paths.emplace_back(d->path);
      attributes_[d->path] = {d->vendor_id, d->product_id, d->release_number};
      serials_[d->path] = AsciiText(d->serial_number);
    }
    hid_free_enumeration(all);
    return paths;
  }

  // hidapi reads the identifiers from the system's device records while it
  // enumerates, without opening the device; they are kept from there.
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = attributes_.find(path);
    if (found == attributes_.end()) return std::nullopt;
    return found->second;
  }

  // hidapi reads the serial number while it enumerates, from the same
  // records: the device is not asked again.
  std::string QuerySerial(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = serials_.find(path);
    return found == serials_.end() ? std::string() : found->second;
  }

  HidOpenResult OpenData(const std::string& path, HidAccess) override {
    // hid_open_path frees and replaces hidapi's one global error text, so
    // the jobs of several devices (gps-update-cli --all) open one at a time.
    std::lock_guard<std::mutex> lock(mutex_);
    errno = 0;
    hid_device* device = hid_open_path(path.c_str());
    // hidapi gives up right after open(2) on /dev/hidraw*, so errno is its.
    const int error = errno;
    if (device) return {reinterpret_cast<HidHandle>(device), HidOpenError::None, {}};
    return {kInvalidHidHandle, OpenErrorFrom(error), Cause("hid_open_path", error, nullptr)};
  }

  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs,
                          const StopEvent& stop) override {
    if (length < 2) return {};
    if (stop.IsSet()) return {TransferStatus::Stopped, 0};
    if (direction == HidDirection::Write) {
      // The kernel bounds an interrupt output transfer itself (5 s in usbhid).
      const int n = hid_write(Device(handle), buffer, length);
      if (n < 0) return {TransferStatus::Failed, 0, Cause("hid_write", errno, Device(handle))};
      // Some hosts count the identifier byte, some do not.
      const uint32_t count = static_cast<uint32_t>(n) == length - 1 ? length
                                                                     : static_cast<uint32_t>(n);
      return {TransferStatus::Completed, count, {}};
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - Clock::now()).count();
      if (left <= 0) return {TransferStatus::TimedOut, 0};
      const int slice = static_cast<int>(std::min<int64_t>(left, kReadSliceMs));
      const int n = hid_read_timeout(Device(handle), buffer + 1, length - 1, slice);
      if (n < 0) {
        return {TransferStatus::Failed, 0, Cause("hid_read_timeout", errno, Device(handle))};
      }
      if (n > 0) {
        buffer[0] = 0x00;
        return {TransferStatus::Completed, static_cast<uint32_t>(n) + 1};
      }
      if (stop.IsSet()) return {TransferStatus::Stopped, 0};
    }
  }

  // hidapi 0.13 hands out neither the report descriptor nor the report
  // lengths, so the link cannot check them here.
  std::optional<HidReportLengths> ReportLengths(HidHandle) override { return std::nullopt; }

  void Cancel(HidHandle) override {
    // Transfers run to their end inside Transfer; nothing is outstanding.
  }

  void Close(HidHandle handle) override { hid_close(Device(handle)); }

  // hidapi's paths are the /dev/hidraw* nodes themselves.
  DeviceClaim ClaimDevice(const std::string& path) override { return ClaimDeviceNode(path); }

 private:
  std::mutex mutex_;  // hidapi's calls that touch its global state
  std::unordered_map<std::string, HidAttributes> attributes_;
  std::unordered_map<std::string, std::string> serials_;
};

}  // namespace

HidBackend& PlatformHidBackend() {
  static HidapiBackend backend;
  return backend;
}

}  // namespace gps
