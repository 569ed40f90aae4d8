// The claim on a device node, for the hidapi backend and its tests.
#pragma once

#include <string>

#include "hid/device_lock.h"

namespace gps {

// flock(LOCK_EX | LOCK_NB) on the node at `path` (a /dev/hidraw* node, or
// any file a test stands in with). The lock belongs to the node, not to a
// user, so a program of any user that can open the node meets it. Busy when
// another holds it; no claim and not busy when the node cannot be opened.
DeviceClaim ClaimDeviceNode(const std::string& path);

}  // namespace gps
