#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "hid/hid_device.h"
#include "protocol/command_block.h"
#include "tests/test_support.h"

namespace gps {
namespace {

using test::SimRig;

// Opens a link on the rig's device.
struct Link {
  explicit Link(SimRig& rig) : transfer(rig.link) {
    opened = transfer.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID);
  }
  bool Command(uint16_t code, uint32_t a1, uint32_t a2) {
    FrameCommand(code, a1, a2, transfer.m_report);
    return Write(transfer.m_report);
  }
  bool Write(const uint8_t* report) {
    return transfer.m_device.WriteReport(report, REPORT_SIZE, nullptr);
  }
  bool Data(uint8_t fill) {
    uint8_t report[REPORT_SIZE];
    std::memset(report, fill, sizeof report);
    report[0] = 0;
    return Write(report);
  }
  // The payload of one read, or nothing when the read failed.
  std::optional<std::vector<uint8_t>> Read() {
    uint32_t n = 0;
    if (!transfer.m_device.ReadReport(transfer.m_report, REPORT_SIZE, &n))
      return std::nullopt;
    return std::vector<uint8_t>(transfer.m_report + 1, transfer.m_report + n);
  }
  CHidTransfer transfer;
  bool opened = false;
};

TEST(SimDevice, FlashIsNorFlash) {
  SimRig rig;
  Link link(rig);
  ASSERT_TRUE(link.opened);
  EXPECT_EQ(rig.device.ReadFlash(0xA000, 1)[0], SIM_UNERASED);

  // Sector 10 erased; the write's second page lands in unerased sector 11.
  ASSERT_TRUE(link.Command(CMD_ERASE_SECTORS, 10, 1));
  EXPECT_EQ(rig.device.ReadFlash(0xA000, 4096), std::vector<uint8_t>(4096, 0xFF));
  ASSERT_TRUE(link.Command(CMD_WRITE_PAGES, 175, 2));
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(link.Data(0x5A));
  EXPECT_EQ(rig.device.ReadFlash(175 * 256, 256), std::vector<uint8_t>(256, 0x5A));
  EXPECT_EQ(rig.device.ReadFlash(176 * 256, 256), std::vector<uint8_t>(256, 0x5A & SIM_UNERASED));
  EXPECT_EQ(rig.device.WriteDefects(), 256u);
  EXPECT_EQ(rig.device.OutputReportCount(), 10u);
  EXPECT_EQ(rig.device.RejectedCommands(), 0);
}

TEST(SimDevice, RejectsABadChecksumOrSignature) {
  SimRig rig;
  Link link(rig);
  uint8_t report[REPORT_SIZE];
  FrameCommand(CMD_ERASE_SECTORS, 10, 1, report);
  report[15] ^= 1;  // checksum
  ASSERT_TRUE(link.Write(report));
  FrameCommand(CMD_ERASE_SECTORS, 10, 1, report);
  report[11] = 'X';  // signature
  ASSERT_TRUE(link.Write(report));
  EXPECT_EQ(rig.device.RejectedCommands(), 2);
  EXPECT_EQ(rig.device.ReadFlash(0xA000, 1)[0], SIM_UNERASED);
}

TEST(SimDevice, EraseMessagesReachOnlyReadersThatWereOpen) {
  SimConfig config;
  config.progress = {50};
  SimRig rig(config);
  Link before(rig);
  Link eraser(rig);
  ASSERT_TRUE(eraser.Command(CMD_ERASE_SECTORS, 10, 1));
  Link after(rig);  // opened once the device had answered

  auto first = before.Read();
  ASSERT_TRUE(first);
  EXPECT_EQ((*first)[0], 50);
  auto second = before.Read();
  ASSERT_TRUE(second);
  EXPECT_EQ(std::memcmp(second->data(), "over", 4), 0);
  EXPECT_FALSE(after.Read()) << "a reader opened too late must time out";
}

TEST(SimDevice, PacedMessagesReachAReaderOpenedPartWay) {
  SimConfig config;
  config.progress = {10, 20, 30};
  config.progressGap = std::chrono::milliseconds(30);
  SimRig rig(config);
  Link eraser(rig);
  ASSERT_TRUE(eraser.Command(CMD_ERASE_SECTORS, 10, 1));
  Link reader(rig);
  std::vector<uint8_t> firstBytes;
  while (auto payload = reader.Read()) {
    firstBytes.push_back((*payload)[0]);
    if ((*payload)[0] == 'o') break;
  }
  EXPECT_EQ(firstBytes, (std::vector<uint8_t>{10, 20, 30, 'o'}));
}

TEST(SimDevice, ShortReadsSplitThePayload) {
  SimConfig config;
  config.progress = {7};
  config.faults.readChunk = 32;
  SimRig rig(config);
  Link reader(rig);
  Link eraser(rig);
  ASSERT_TRUE(eraser.Command(CMD_ERASE_SECTORS, 10, 1));
  auto a = reader.Read();
  auto b = reader.Read();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 32u);
  EXPECT_EQ(b->size(), 32u);
  EXPECT_EQ((*a)[0], 7);
}

TEST(SimDevice, UnpluggedAfterTheNthReport) {
  SimConfig config;
  config.faults.unplugAfterReports = 2;
  SimRig rig(config);
  Link link(rig);
  EXPECT_TRUE(link.Data(1));
  EXPECT_TRUE(link.Data(2));
  EXPECT_FALSE(link.Data(3));
  EXPECT_FALSE(link.Read());
  EXPECT_TRUE(rig.bus.EnumerateInterfaces().empty());
  EXPECT_FALSE(Link(rig).opened);
}

TEST(SimDevice, AStalledWriteEndsAtTheBoundOrAtOnceOnStop) {
  SimConfig config;
  config.faults.stallWriteAt = 1;
  SimRig rig(config);
  rig.link.bounds.writeMs = 60000;
  Link link(rig);
  std::thread stopper([&] { rig.stop.Set(); });
  EXPECT_FALSE(link.Data(1));  // ends when the stop arrives, long before the bound
  stopper.join();
  EXPECT_FALSE(rig.stop.IsSet()) << "the stop that ended the transfer is consumed";
  EXPECT_EQ(rig.device.OutputReportCount(), 0u);
}

}  // namespace
}  // namespace gps
