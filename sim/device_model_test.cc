#include "sim/device_model.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
}  // namespace gps
