// The simulated devices behind gps-update-cli --simulate[=N]: each with its
// own flash, serial number and erase pace, on one bus, as several devices on
// one host's USB ports would be.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "hid/sim_bus.h"
#include "sim/sim_device.h"
#include "protocol/update_job.h"

namespace gps {

class DemoDevices {
 public:
  // One device sits at "sim:0416:b500" with no serial number, as a single
  // device always has; several sit at "sim:0416:b500:1" onward, with the
  // serial numbers "SIM-01" onward.
  explicit DemoDevices(unsigned count);

  SimBus& Bus() { return bus_; }

  // After an update: what the device called `name` (its serial number or
  // path) took, and, when its update succeeded, whether its flash holds
  // `image`, the bytes that were sent (not the file read again, which may
  // have changed meanwhile), and its header.
  void Describe(const std::string& name, const LoadedImage& image, bool succeeded,
                std::ostream& err) const;
  void DescribeFirst(const LoadedImage& image, bool succeeded, std::ostream& err) const;

 private:
  struct Device {
    std::string path;
    std::string serial;
    std::unique_ptr<SimDevice> device;
  };
  void Describe(const Device& device, const LoadedImage& image, bool succeeded,
                std::ostream& err) const;

  std::vector<Device> devices_;
  SimBus bus_;
};

}  // namespace gps
