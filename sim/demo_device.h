// The simulated device that the programs update with --simulate (and
// Update-sim.exe on Windows): one pace and one way of keeping its flash for
// all three front ends.
#pragma once

#include "hid/sim_bus.h"
#include "sim/sim_device.h"

namespace gps {

// A device that takes its time over the erase, with progress in steps of
// ten as a real one sends it, so that the erase can be followed (and
// photographed) in every front end: ten messages 300 ms apart. It keeps only
// digests of its flash, so that a measurement of the program's memory
// counts the host's own and not a second copy of the image. Of several demo
// devices on one bus, each further one (`index` 1 onward) erases 30 ms a
// message more slowly, so that their bars are seen to move on their own.
SimConfig DemoDeviceConfig(unsigned index = 0);

// The demo device on a bus of its own, for the whole run of a program.
struct DemoDevice {
  DemoDevice() : device(DemoDeviceConfig()), bus(device) {}
  SimDevice device;
  SimBus bus;
};

}  // namespace gps
