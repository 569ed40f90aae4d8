// The bus as one job may see it: a backend that passes calls on to another
// one but shows only the device's interfaces that a rule lets through.
//
// A front end that updates one chosen device (gps-update-cli --device), or
// each of several devices on a thread of its own (--all), gives every job
// such a view. The job's operations find "the first matching interface" as
// they always do, and in the view that is its own device and never another:
// a device plugged in meanwhile is not in the view, and a device that left is
// missing from it rather than replaced by the next one on the bus.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "hid/forwarding_backend.h"

namespace gps {

class DeviceViewBackend : public ForwardingBackend {
 public:
  // `shows` decides, from an interface's path and its serial number, whether
  // it is in the view. Only interfaces with the device's vendor and product
  // are put to it, and it asks for the serial number only when it needs it:
  // on some platforms that asks the device.
  using Serial = std::function<std::string()>;
  using Rule = std::function<bool(const std::string& path, const Serial& serial)>;

  DeviceViewBackend(HidBackend& inner, Rule shows);

  // The interface at `path`, and only while it reports `serial` where one was
  // known: on Linux a hidraw node's number is handed to the next device that
  // arrives, so the path alone could name another device later.
  static Rule Pinned(std::string path, std::string serial);
  // The interfaces whose path or serial number is `id`.
  static Rule Named(std::string id);

  // An interface outside the view is not enumerated, has no attributes or
  // serial number, and cannot be opened; what goes over a handle opened in
  // the view passes unchanged.
  std::vector<std::string> EnumerateInterfaces() override;
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override;
  std::string QuerySerial(const std::string& path) override;
  HidOpenResult OpenData(const std::string& path, HidAccess access) override;

 private:
  bool Shows(const std::string& path);

  Rule shows_;
};

// A view that holds the first of the device's interfaces on `bus` now, and
// only it, for good: a desktop program updates that one even when several
// are attached. Empty when none is.
std::optional<DeviceViewBackend> FirstDeviceView(HidBackend& bus);

}  // namespace gps
