#include "bench/paced_backend.h"

#include <algorithm>
#include <thread>

namespace gps {

PacedBackend::PacedBackend(HidBackend& inner, std::chrono::microseconds frame)
    : ForwardingBackend(inner), frame_(std::max(frame, std::chrono::microseconds(1))),
      epoch_(Clock::now()) {}

HidOpenResult PacedBackend::OpenData(const std::string& path, HidAccess access) {
  const HidOpenResult result = inner().OpenData(path, access);
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
  return inner().Transfer(handle, direction, buffer, length, boundMs, stop);
}

void PacedBackend::Close(HidHandle handle) {
  inner().Close(handle);
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.erase(handle);
}

}  // namespace gps
