// The device's interfaces on the bus, each with the short name that
// gps-update-cli uses for it when it updates several at once.
#pragma once

#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace gps {

struct AttachedDevice {
  std::string path;
  std::string serial;  // empty where the platform gives none
  // Its serial number; its path when it has none, or when another attached
  // device carries the same one (devices of one batch sometimes do).
  std::string name;
};

// Every interface with the device's vendor and product, in the platform's
// order: the order in which --list prints them. Opens nothing.
std::vector<AttachedDevice> AttachedDevices(HidBackend& backend);

}  // namespace gps
