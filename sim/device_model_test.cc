#include "sim/device_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "hid/hid_device.h"
#include "protocol/command_block.h"

namespace gps {
namespace {

using Clock = DeviceModel::Clock;
using std::chrono::milliseconds;

// The payload of a command report as the host frames it.
std::vector<uint8_t> Command(uint16_t code, uint32_t a1, uint32_t a2) {
  uint8_t report[REPORT_SIZE];
  FrameCommand(code, a1, a2, report);
  return std::vector<uint8_t>(report + 1, report + REPORT_SIZE);
}

// The model fed directly, as a driver without the simulated bus feeds it
// (a USB gadget's 64-byte reports have no identifier), with times of its
// own: each erase plans its messages at its pace from the command's time,
// and a new erase drops what the last had not sent.
TEST(DeviceModel, PlansTheEraseMessagesAtItsPaceFromTheCommandsTime) {
  DeviceModel model(SimFlash::Storage::Bytes, {{10, 20}, {}, milliseconds(100), true});
  EXPECT_FALSE(model.NextInputReport(0));
  const Clock::time_point t0{};
  model.Receive(Command(CMD_ERASE_SECTORS, 10, 1).data(), t0);

  std::vector<std::pair<uint64_t, milliseconds>> planned;
  std::vector<uint8_t> firstBytes;
  for (auto r = model.NextInputReport(0); r; r = model.NextInputReport(r->number + 1)) {
    planned.emplace_back(r->number, std::chrono::duration_cast<milliseconds>(r->sentAt - t0));
    firstBytes.push_back(r->payload[0]);
  }
  EXPECT_EQ(planned, (std::vector<std::pair<uint64_t, milliseconds>>{
                         {0, milliseconds(100)}, {1, milliseconds(200)}, {2, milliseconds(300)}}));
  EXPECT_EQ(firstBytes, (std::vector<uint8_t>{10, 20, 'o'}));

  model.Receive(Command(CMD_ERASE_SECTORS, 8, 1).data(), t0 + milliseconds(150));
  const auto next = model.NextInputReport(1);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->number, 3u);  // the first erase's last two are never sent
  EXPECT_EQ(next->sentAt, t0 + milliseconds(250));
  EXPECT_EQ(next->payload[0], 10);
}

// The device checks every command with its own reading of the bytes: the
// host's framing is not taken on trust.
TEST(DeviceModel, ChecksEveryCommandItself) {
  DeviceModel model(SimFlash::Storage::Bytes, {});
  struct Case {
    const char* name;
    std::size_t byte;  // payload byte changed, or 64 for none
    int restarts;
    int rejected;
  };
  const Case cases[] = {
      {"as framed", 64, 1, 0},
      {"checksum off by one", 14, 1, 1},
      {"checksum's high byte", 17, 1, 2},
      {"signature", 11, 1, 3},
      {"a restart argument", 3, 1, 4},
      {"the code", 0, 1, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> payload = Command(CMD_RESTART, RESTART_ARG1, RESTART_ARG2);
    if (c.byte < payload.size()) {
      payload[c.byte] ^= 1;
      // A changed argument or code with a checksum to match, so that only
      // the device's own rule can refuse it.
      if (c.byte < 14) {
        uint32_t sum = 0;
        for (int i = 0; i < 14; ++i) sum += payload[i];
        for (int i = 0; i < 4; ++i) payload[14 + i] = static_cast<uint8_t>(sum >> (8 * i));
      }
    }
    model.Receive(payload.data(), Clock::now());
    EXPECT_EQ(model.Restarts(), c.restarts);
    EXPECT_EQ(model.RejectedCommands(), c.rejected);
  }
}

// What a driver can tell of the device (the test VM's gadget program writes
// it out): each command as the device decoded it, with the data reports a
// page write got. A port reset (an unplug) ends a page write part-way and
// drops the erase messages not yet sent, so that what comes next is read
// as a command again; the flash keeps what was written.
TEST(DeviceModel, RecordsItsCommandsAndEndsAPageWriteAtAPortReset) {
  DeviceModel model(SimFlash::Storage::Bytes, {});
  model.RecordCommands(true);
  const Clock::time_point t = Clock::now();
  model.Receive(Command(CMD_ERASE_SECTORS, 10, 1).data(), t);
  model.Receive(Command(CMD_WRITE_PAGES, 160, 2).data(), t);
  const std::vector<uint8_t> data(64, 0x5A);
  for (int i = 0; i < 3; ++i) model.Receive(data.data(), t);  // 3 of the 8 data reports
  EXPECT_TRUE(model.NextInputReport(0));
  model.PortReset();
  EXPECT_FALSE(model.NextInputReport(0));
  model.Receive(Command(CMD_RESTART, RESTART_ARG1, RESTART_ARG2).data(), t);
  model.Receive(Command(CMD_RESTART, 1, 2).data(), t);  // framed right, wrong arguments

  using Row = std::tuple<uint16_t, uint32_t, uint32_t, bool, uint64_t>;
  std::vector<Row> rows;
  for (const DeviceModel::Command& c : model.Commands())
    rows.emplace_back(c.code, c.arg1, c.arg2, c.accepted, c.dataReports);
  EXPECT_EQ(rows, (std::vector<Row>{{CMD_ERASE_SECTORS, 10, 1, true, 0},
                                    {CMD_WRITE_PAGES, 160, 2, true, 3},
                                    {CMD_RESTART, RESTART_ARG1, RESTART_ARG2, true, 0},
                                    {CMD_RESTART, 1, 2, false, 0}}));
  EXPECT_EQ(model.Restarts(), 1);
  EXPECT_EQ(model.Flash().Read(0xA000 + 2 * 64, 65),
            [] { std::vector<uint8_t> v(64, 0x5A); v.push_back(0xFF); return v; }());
}

}  // namespace
}  // namespace gps
