#include "hid/paced_backend.h"

#include <algorithm>
#include <thread>

namespace gps {

PacedBackend::PacedBackend(HidBackend& inner, std::chrono::microseconds frame)
    : inner_(inner), frame_(std::max(frame, std::chrono::microseconds(1))),
      epoch_(Clock::now()) {}

std::vector<std::string> PacedBackend::EnumerateInterfaces() {
  return inner_.EnumerateInterfaces();
}

std::optional<HidAttributes> PacedBackend::QueryAttributes(const std::string& path) {
  return inner_.QueryAttributes(path);
}

std::string PacedBackend::QuerySerial(const std::string& path) {
  return inner_.QuerySerial(path);
}

HidOpenResult PacedBackend::OpenData(const std::string& path, HidAccess access) {
  const HidOpenResult result = inner_.OpenData(path, access);
  if (result.handle != kInvalidHidHandle) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_[result.handle] = path;
  }
  return result;
}

// Frames are counted on one clock from the backend's start. A report goes in
// the first frame that has not begun yet and that its interface has not used:
// a host that is late loses the frames it missed, as on the bus, and one that
// is early waits.
PacedBackend::Clock::time_point PacedBackend::NextFrame(HidHandle handle) {
  const int64_t now = (Clock::now() - epoch_) / frame_ + 1;
  std::lock_guard<std::mutex> lock(mutex_);
  auto path = paths_.find(handle);
  int64_t& last = lastFrame_[path == paths_.end() ? std::string() : path->second];
  last = std::max(last + 1, now);
  return epoch_ + frame_ * last;
}

TransferResult PacedBackend::Transfer(HidHandle handle, HidDirection direction,
                                      uint8_t* buffer, uint32_t length, uint32_t boundMs,
                                      const StopEvent& stop) {
  if (direction == HidDirection::Write) {
    std::this_thread::sleep_until(NextFrame(handle));
    if (stop.IsSet()) return {TransferStatus::Stopped, 0};
  }
  return inner_.Transfer(handle, direction, buffer, length, boundMs, stop);
}

TransferResult PacedBackend::Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) {
  return inner_.Flush(handle, boundMs, stop);
}

std::optional<HidReportLengths> PacedBackend::ReportLengths(HidHandle handle) {
  return inner_.ReportLengths(handle);
}

void PacedBackend::Cancel(HidHandle handle) { inner_.Cancel(handle); }

void PacedBackend::Close(HidHandle handle) {
  inner_.Close(handle);
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.erase(handle);
}

DeviceClaim PacedBackend::ClaimDevice(const std::string& path) {
  return inner_.ClaimDevice(path);
}

}  // namespace gps
