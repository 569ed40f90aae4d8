#include "sim/demo_device.h"
#include "ui/win32/device_link.h"

namespace gps {

HidBackend& UpdateBackend() {
  static DemoDevice demo;
  return demo.bus;
}

}  // namespace gps
