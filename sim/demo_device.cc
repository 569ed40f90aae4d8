#include "sim/demo_device.h"

namespace gps {

SimConfig DemoDeviceConfig(unsigned index) {
  SimConfig config;
  config.progress = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  config.progressGap = std::chrono::milliseconds(300 + 30 * index);
  config.recordReports = false;
  config.flashStorage = SimFlash::Storage::Digests;
  return config;
}

}  // namespace gps
