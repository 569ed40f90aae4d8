#include "protocol/device_probe.h"

#include <gtest/gtest.h>

#include "protocol/messages.h"
#include "tests/test_support.h"

namespace gps {
namespace {

TEST(DeviceProbe, TellsEachOutcomeApartAndLeavesNothingOpen) {
  struct Case {
    const char* name;
    bool plugged;
    SimFaults faults;
    ProbeOutcome outcome;
    std::string_view text;
  };
  auto refused = [](HidOpenError why) {
    SimFaults f;
    f.refuseReadOpen = f.refuseWriteOpen = true;
    f.refusal = why;
    return f;
  };
  const Case cases[] = {
      {"present", true, SimFaults{}, ProbeOutcome::Present, text::kDeviceConnected},
      {"absent", false, SimFaults{}, ProbeOutcome::Absent, text::kDeviceConnectFailed},
      {"no permission", true, refused(HidOpenError::AccessDenied), ProbeOutcome::NoPermission,
       text::kDeviceNoPermission},
      {"held by another program", true, refused(HidOpenError::Busy), ProbeOutcome::Busy,
       text::kDeviceBusy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimConfig config;
    config.faults = c.faults;
    test::SimRig rig(config);
    if (!c.plugged) rig.device.Unplug();
    const ProbeResult result = ProbeDevice(rig.link);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.text, c.text);
    EXPECT_EQ(rig.bus.OpenHandles(), 0u);
  }
}

// A device with our identifiers but reports of another length runs another
// firmware: the probe says so, and nothing is left open or sent.
TEST(DeviceProbe, ADeviceWithOtherReportsIsNotThisFirmware) {
  SimConfig config;
  config.reportLengths = {65, 9};
  test::SimRig rig(config);
  const ProbeResult result = ProbeDevice(rig.link);
  EXPECT_EQ(result.outcome, ProbeOutcome::WrongFirmware);
  EXPECT_EQ(result.text, text::kDeviceWrongFirmware);
  EXPECT_EQ(rig.bus.OpenHandles(), 0u);
  EXPECT_EQ(rig.device.OutputReportCount(), 0u);
}

}  // namespace
}  // namespace gps
