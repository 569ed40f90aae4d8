// The look for the device that the programs make when they start: is it
// there, and can it be used?
#pragma once

#include <string>
#include <string_view>

#include "hid/hid_device.h"

namespace gps {

enum class ProbeOutcome {
  Present,       // found, and both data handles opened
  Absent,        // no interface with our vendor and product
  NoPermission,  // found, but the user may not open it
  Busy,          // found, but another program holds it
  CannotOpen,    // found, but it would not open for another reason
  WrongFirmware, // found, but its reports are not this firmware's 65 bytes
};

struct ProbeResult {
  ProbeOutcome outcome = ProbeOutcome::Absent;
  std::string_view text;  // the status text that tells the user
  std::string path;       // the interface found, if any
};

// Opens the device once and closes it again; nothing stays open.
ProbeResult ProbeDevice(const LinkSettings& link = {});

}  // namespace gps
