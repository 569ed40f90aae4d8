// Which device the program talks to. Update.exe links device_link_usb.cc
// (the USB device through the Win32 backend); Update-sim.exe links
// device_link_sim.cc (an in-process simulated device, for tests and demos).
#pragma once

#include "hid/hid_backend.h"

namespace gps {

// The backend for the probe and the updates; it lives for the whole process.
HidBackend& UpdateBackend();

}  // namespace gps
