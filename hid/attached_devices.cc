#include "hid/attached_devices.h"

#include <algorithm>

#include "hid/device_match.h"
#include "hid/hid_device.h"

namespace gps {

std::vector<AttachedDevice> AttachedDevices(HidBackend& backend) {
  std::vector<AttachedDevice> devices;
  for (const std::string& path : MatchingInterfaces(backend, HID_VENDOR_ID, HID_PRODUCT_ID)) {
    // Only our own devices are asked: on some platforms that asks the device.
    devices.push_back({path, backend.QuerySerial(path), {}});
  }
  for (AttachedDevice& device : devices) {
    const auto sameSerial = std::count_if(devices.begin(), devices.end(), [&](const auto& d) {
      return d.serial == device.serial;
    });
    device.name = !device.serial.empty() && sameSerial == 1 ? device.serial : device.path;
  }
  return devices;
}

}  // namespace gps
