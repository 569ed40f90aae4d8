#include "hid/device_view.h"

#include <utility>

namespace gps {

DeviceViewBackend::DeviceViewBackend(HidBackend& inner, Rule shows)
    : inner_(inner), shows_(std::move(shows)) {}

DeviceViewBackend::Rule DeviceViewBackend::Pinned(std::string path, std::string serial) {
  return [path = std::move(path), serial = std::move(serial)](const std::string& p,
                                                              const HidAttributes& a) {
    return p == path && (serial.empty() || a.serial == serial);
  };
}

DeviceViewBackend::Rule DeviceViewBackend::Named(std::string id) {
  return [id = std::move(id)](const std::string& p, const HidAttributes& a) {
    return p == id || (!a.serial.empty() && a.serial == id);
  };
}

bool DeviceViewBackend::Shows(const std::string& path) {
  const std::optional<HidAttributes> attributes = inner_.QueryAttributes(path);
  return attributes && shows_(path, *attributes);
}

std::vector<std::string> DeviceViewBackend::EnumerateInterfaces() {
  std::vector<std::string> shown;
  for (std::string& path : inner_.EnumerateInterfaces())
    if (Shows(path)) shown.push_back(std::move(path));
  return shown;
}

std::optional<HidAttributes> DeviceViewBackend::QueryAttributes(const std::string& path) {
  std::optional<HidAttributes> attributes = inner_.QueryAttributes(path);
  if (!attributes || !shows_(path, *attributes)) return std::nullopt;
  return attributes;
}

// An interface outside the view is, for this job, not on the bus.
HidOpenResult DeviceViewBackend::OpenData(const std::string& path, HidAccess access) {
  if (!Shows(path)) return {kInvalidHidHandle, HidOpenError::Gone};
  return inner_.OpenData(path, access);
}

TransferResult DeviceViewBackend::Transfer(HidHandle handle, HidDirection direction,
                                           uint8_t* buffer, uint32_t length, uint32_t boundMs,
                                           const StopEvent& stop) {
  return inner_.Transfer(handle, direction, buffer, length, boundMs, stop);
}

void DeviceViewBackend::Cancel(HidHandle handle) { inner_.Cancel(handle); }
void DeviceViewBackend::Close(HidHandle handle) { inner_.Close(handle); }

}  // namespace gps
