#include "hid/sim_bus.h"

#include <gtest/gtest.h>

#include <thread>
#include <variant>

#include "hid/hid_device.h"
#include "tests/hid_fakes.h"

namespace gps {
namespace {

using test::PlannedPeer;

struct Reader {
  Reader(SimBus& onBus, StopEvent& stopEvent) : bus(onBus), stop(stopEvent) {
    handle = bus.OpenData("sim:0416:b500", HidAccess::Read).handle;
  }
  // The payload of one read, or its status when it did not complete.
  std::variant<std::vector<uint8_t>, TransferStatus> Read(uint32_t boundMs = 200) {
    uint8_t buffer[REPORT_SIZE] = {};
    const TransferResult r =
        bus.Transfer(handle, HidDirection::Read, buffer, REPORT_SIZE, boundMs, stop);
    if (r.status != TransferStatus::Completed) return r.status;
    return std::vector<uint8_t>(buffer + 1, buffer + r.count);
  }
  SimBus& bus;
  StopEvent& stop;
  HidHandle handle;
};

std::vector<uint8_t> Filled(std::size_t n, uint8_t fill) { return std::vector<uint8_t>(n, fill); }

// Each read handle has its own queue: what was sent before it opened never
// reaches it, and a read takes at most its chunk, running on from one report
// into the next.
TEST(SimBus, EachReadHandleQueuesWhatWasSentWhileItWasOpen) {
  PlannedPeer peer;
  peer.delivery.chunk = 40;
  SimBus bus(peer);
  StopEvent stop;
  peer.Plan(0, std::chrono::milliseconds(-10), 0xA0);  // sent before the reader opened
  Reader reader(bus, stop);
  peer.Plan(1, std::chrono::milliseconds(0), 0xA1);
  peer.Plan(5, std::chrono::milliseconds(0), 0xA5);  // 2 to 4 were dropped
  std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a clock tick apart
  Reader late(bus, stop);

  using Payload = std::vector<uint8_t>;
  Payload second = Filled(24, 0xA1);
  second.resize(40, 0xA5);
  EXPECT_EQ(std::get<Payload>(reader.Read()), Filled(40, 0xA1));
  EXPECT_EQ(std::get<Payload>(reader.Read()), second);
  EXPECT_EQ(std::get<Payload>(reader.Read()), Filled(40, 0xA5));
  EXPECT_EQ(std::get<Payload>(reader.Read()), Filled(8, 0xA5));
  EXPECT_EQ(std::get<TransferStatus>(reader.Read(30)), TransferStatus::TimedOut);
  EXPECT_EQ(std::get<TransferStatus>(late.Read(30)), TransferStatus::TimedOut);
}

TEST(SimBus, AStalledWriteEndsAtTheStop) {
  PlannedPeer peer;
  peer.answer = SimPeer::WriteAnswer::Kind::Stalled;
  SimBus bus(peer);
  StopEvent stop;
  const HidHandle write = bus.OpenData("sim:0416:b500", HidAccess::Write).handle;
  uint8_t report[REPORT_SIZE] = {};
  std::thread stopper([&] { stop.Set(); });
  const TransferResult result =
      bus.Transfer(write, HidDirection::Write, report, REPORT_SIZE, 60000, stop);
  stopper.join();
  EXPECT_EQ(result.status, TransferStatus::Stopped);
  EXPECT_EQ(peer.taken.size(), 1u);
}

}  // namespace
}  // namespace gps
