#include "hid/device_view_backend.h"

#include <utility>

#include "hid/attached_devices.h"
#include "hid/device_match.h"
#include "hid/hid_device.h"

namespace gps {

DeviceViewBackend::DeviceViewBackend(HidBackend& inner, Rule shows)
    : ForwardingBackend(inner), shows_(std::move(shows)) {}

DeviceViewBackend::Rule DeviceViewBackend::Pinned(std::string path, std::string serial) {
  return [path = std::move(path), serial = std::move(serial)](const std::string& p,
                                                              const Serial& serialOf) {
    return p == path && (serial.empty() || serialOf() == serial);
  };
}

DeviceViewBackend::Rule DeviceViewBackend::Named(std::string id) {
  return [id = std::move(id)](const std::string& p, const Serial& serialOf) {
    return p == id || serialOf() == id;
  };
}

bool DeviceViewBackend::Shows(const std::string& path) {
  return IsDevice(inner().QueryAttributes(path), HID_VENDOR_ID, HID_PRODUCT_ID) &&
         shows_(path, [&] { return inner().QuerySerial(path); });
}

std::vector<std::string> DeviceViewBackend::EnumerateInterfaces() {
  std::vector<std::string> shown;
  for (std::string& path : inner().EnumerateInterfaces())
    if (Shows(path)) shown.push_back(std::move(path));
  return shown;
}

std::optional<HidAttributes> DeviceViewBackend::QueryAttributes(const std::string& path) {
  if (!Shows(path)) return std::nullopt;
  return inner().QueryAttributes(path);
}

std::string DeviceViewBackend::QuerySerial(const std::string& path) {
  return Shows(path) ? inner().QuerySerial(path) : std::string();
}

// An interface outside the view is, for this job, not on the bus.
HidOpenResult DeviceViewBackend::OpenData(const std::string& path, HidAccess access) {
  if (!Shows(path)) return {kInvalidHidHandle, HidOpenError::Gone};
  return inner().OpenData(path, access);
}

std::optional<DeviceViewBackend> FirstDeviceView(HidBackend& bus) {
  const std::vector<AttachedDevice> devices = AttachedDevices(bus);
  if (devices.empty()) return std::nullopt;
  return std::optional<DeviceViewBackend>(
      std::in_place, bus, DeviceViewBackend::Pinned(devices[0].path, devices[0].serial));
}

}  // namespace gps
