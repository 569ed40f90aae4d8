// A view of one device (hid/device_view_backend.h) that also counts the output
// reports that went through it, for the record of the job.
#pragma once

#include <atomic>
#include <cstdint>

#include "hid/device_view_backend.h"

namespace gps {

class CountingDeviceView : public DeviceViewBackend {
 public:
  using DeviceViewBackend::DeviceViewBackend;

  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
    TransferResult result =
        DeviceViewBackend::Transfer(handle, direction, buffer, length, boundMs, stop);
    if (direction == HidDirection::Write && result.status == TransferStatus::Completed) ++sent_;
    return result;
  }
  uint64_t ReportsSent() const { return sent_; }

 private:
  std::atomic<uint64_t> sent_{0};
};

}  // namespace gps
