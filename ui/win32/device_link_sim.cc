#include <chrono>

#include "hid/sim_device.h"
#include "ui/win32/device_link.h"

namespace gps {
namespace {

// The erase takes a few seconds, with progress in steps of ten, as on a real
// device, so that the dialog's erase stage can be watched and photographed.
SimConfig PacedDevice() {
  SimConfig config;
  config.progress = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  config.progressGap = std::chrono::milliseconds(400);
  config.recordReports = false;
  return config;
}

}  // namespace

HidBackend& UpdateBackend() {
  static SimDevice device(PacedDevice());
  static SimBus bus(device);
  return bus;
}

}  // namespace gps
