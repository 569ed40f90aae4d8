#include "hid/tracing_backend.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "hid/hid_device.h"
#include "tests/hid_fakes.h"

namespace gps {
namespace {

// The trace without its time stamps, one entry per line.
std::vector<std::string> Entries(const std::string& trace) {
  const std::regex stamped(R"(\[ *\d+\.\d{6}\] (.*))");
  std::vector<std::string> entries;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, stamped)) << line;
    entries.push_back(m[1]);
  }
  return entries;
}

// The update's own tests show the completed transfers; here are the ways a
// link can go wrong, as support would read them.
TEST(TracingBackend, WritesDownFailedOpensAndTransfers) {
  test::PlannedPeer device;
  device.refuseWrite = HidOpenError::Busy;
  SimBus bus(device);
  std::ostringstream out;
  TracingBackend tracer(bus, out);
  StopEvent stop;
  LinkSettings link;
  link.backend = &tracer;
  link.stop = &stop;
  link.bounds.readMs = 20;

  CHidTransfer transfer(link);
  ASSERT_TRUE(transfer.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  uint8_t report[REPORT_SIZE] = {0x00, 0xAB, 0x01};
  EXPECT_FALSE(transfer.m_device.ReadReport(report, REPORT_SIZE, nullptr));
  transfer.m_device.Close();

  device.refuseWrite = HidOpenError::None;
  device.answer = SimPeer::WriteAnswer::Kind::Refused;
  ASSERT_TRUE(transfer.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  EXPECT_FALSE(transfer.m_device.WriteReport(report, 3, nullptr));
  transfer.m_device.Close();

  EXPECT_EQ(Entries(out.str()), (std::vector<std::string>{
                                    "open read sim:0416:b500: handle 0",
                                    "open write sim:0416:b500: busy",
                                    "in timed out",
                                    "close handle 0",
                                    "open read sim:0416:b500: handle 1",
                                    "open write sim:0416:b500: handle 2",
                                    "reports of handle 2: in 65, out 65",
                                    "out failed: 00 ab 01",
                                    "close handle 1",
                                    "close handle 2",
                                }));
}

// The platform's own cause of a failure goes beside the closed set's word:
// the call, its code and, where the platform gives one, its text.
TEST(TracingBackend, NamesThePlatformsCauseOfAFailure) {
  class FailingPlatform : public ForwardingBackend {
   public:
    using ForwardingBackend::ForwardingBackend;
    HidOpenResult OpenData(const std::string&, HidAccess access) override {
      if (access == HidAccess::Read)
        return {kInvalidHidHandle, HidOpenError::AccessDenied,
                {"hid_open_path", 13, "Permission denied"}};
      return {7, HidOpenError::None, {}};
    }
    TransferResult Transfer(HidHandle, HidDirection, uint8_t*, uint32_t, uint32_t,
                            const StopEvent&) override {
      return {TransferStatus::Failed, 0, {"WriteFile", 1167, {}}};
    }
  };
  test::PlannedPeer device;
  SimBus bus(device);
  FailingPlatform platform(bus);
  std::ostringstream out;
  TracingBackend tracer(platform, out);
  StopEvent stop;
  EXPECT_EQ(tracer.OpenData("/dev/hidraw3", HidAccess::Read).cause.code, 13);
  const HidHandle write = tracer.OpenData("/dev/hidraw3", HidAccess::Write).handle;
  uint8_t report[2] = {0x00, 0x71};
  EXPECT_STREQ(tracer.Transfer(write, HidDirection::Write, report, 2, 100, stop).cause.call,
               "WriteFile");
  EXPECT_EQ(Entries(out.str()),
            (std::vector<std::string>{
                "open read /dev/hidraw3: access denied (hid_open_path: 13, Permission denied)",
                "open write /dev/hidraw3: handle 7",
                "out failed (WriteFile: 1167): 00 71",
            }));
}

}  // namespace
}  // namespace gps
