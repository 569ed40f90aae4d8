#include "hid/device_view_backend.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/sim_bus.h"
#include "sim/sim_device.h"

namespace gps {
namespace {

TEST(DeviceView, APinnedDeviceIsNotReplacedByTheNextOneAtItsPath) {
  SimDevice first, next;
  SimBus bus;
  bus.AddInterface({"sim:0", HID_VENDOR_ID, HID_PRODUCT_ID, true, &first, "FIRST"});
  bus.AddInterface({"sim:0", HID_VENDOR_ID, HID_PRODUCT_ID, true, &next, "NEXT"});
  next.Unplug();
  DeviceViewBackend view(bus, DeviceViewBackend::Pinned("sim:0", "FIRST"));
  EXPECT_EQ(view.EnumerateInterfaces(), std::vector<std::string>{"sim:0"});
  first.Unplug();
  next.Plug();  // the platform hands the path on
  EXPECT_EQ(view.EnumerateInterfaces(), std::vector<std::string>{});
  EXPECT_FALSE(view.QueryAttributes("sim:0"));
  EXPECT_EQ(view.OpenData("sim:0", HidAccess::Write).error, HidOpenError::Gone);
}

}  // namespace
}  // namespace gps
