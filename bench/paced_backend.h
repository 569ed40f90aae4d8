// A backend that moves output reports at the pace of the wire: at most one
// per frame on each interface, as a full-speed interrupt endpoint with a
// 1 ms interval does. The simulated bus takes a report at once; wrapped in
// this, it takes as long as a real device would, so that what runs in
// parallel on several devices can be measured against one device alone.
//
// Each interface keeps its own frames, as each device has its own endpoint:
// devices never wait for each other, only for their own previous report.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "hid/forwarding_backend.h"

namespace gps {

class PacedBackend : public ForwardingBackend {
 public:
  using Clock = std::chrono::steady_clock;

  PacedBackend(HidBackend& inner, std::chrono::microseconds frame);

  HidOpenResult OpenData(const std::string& path, HidAccess access) override;
  // An output report waits for the next frame of its interface that no
  // earlier report took, then goes to the inner backend. The wait is at most
  // about one frame; a stop set before it ends the transfer as Stopped.
  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override;
  void Close(HidHandle handle) override;

 private:
  Clock::time_point NextFrame(HidHandle handle);

  const std::chrono::microseconds frame_;
  const Clock::time_point epoch_;
  std::mutex mutex_;
  std::map<HidHandle, std::string> paths_;  // open handles and their interface
  std::map<std::string, int64_t> lastFrame_;  // per interface, the last frame taken
};

}  // namespace gps
