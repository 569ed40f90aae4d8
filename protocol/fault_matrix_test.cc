// A small update against every fault the simulated device can show: it must
// end with the failing stage's text, within its bound, with no link left
// open, and never claim success.
#include <gtest/gtest.h>

#include <chrono>

#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "tests/test_support.h"

namespace gps {
namespace {

using test::RecordingReporter;
using test::SimRig;

std::string S(std::string_view text) { return std::string(text); }

// A 1000-byte update takes 25 output reports: erase, write command, 16 data
// reports, header erase, write command, 4 data reports, restart.
constexpr uint64_t kReportsOfASmallUpdate = 25;

struct UpdateRun {
  UpdateOutcome outcome;
  std::vector<std::string> statuses;
  uint64_t reportsTaken;
  uint64_t handlesLeftOpen;
  std::chrono::milliseconds took;
};

UpdateRun Update(SimRig& rig) {
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  std::vector<uint8_t> image(1000 + 512, 0);
  for (std::size_t i = 0; i < 1000; ++i) image[i] = static_cast<uint8_t>(i * 7 + 1);
  const auto start = std::chrono::steady_clock::now();
  const UpdateOutcome outcome = job.UpdateDatabase(image.data(), 1000);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return {outcome, reporter.Only("status:"), rig.device.OutputReportCount(),
          rig.bus.OpenHandles(), took};
}

bool Claims(const std::vector<std::string>& statuses, std::string_view text) {
  return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
}

TEST(FaultMatrix, UnplugAfterEachReportInTurn) {
  for (uint64_t n = 1; n < kReportsOfASmallUpdate; ++n) {
    SCOPED_TRACE("unplugged after report " + std::to_string(n));
    SimConfig config;
    config.faults.unplugAfterReports = n;
    SimRig rig(config);
    const UpdateRun run = Update(rig);
    EXPECT_NE(run.outcome, UpdateOutcome::Succeeded);
    EXPECT_NE(run.statuses.back(), S(text::kUpdateSucceeded));
    EXPECT_EQ(run.reportsTaken, n);
    EXPECT_EQ(run.handlesLeftOpen, 0u);
    EXPECT_LT(run.took.count(), 2000);
    if (n == 1) {
      // The erase went out but its monitor lost the device: no page follows.
      EXPECT_EQ(run.statuses.back(), S(text::kEraseFlashFailed));
    }
  }
}

TEST(FaultMatrix, EachFaultEndsWithItsStagesText) {
  struct Case {
    const char* name;
    SimFaults faults;
    std::chrono::milliseconds gap;
    UpdateOutcome outcome;
    std::vector<std::string> lastStatuses;  // the run's final status texts
    uint64_t reportsTaken;
  };
  auto faults = [](auto set) {
    SimFaults f;
    set(f);
    return f;
  };
  const std::chrono::milliseconds none{0};
  const std::string dbFailed = S(text::kDatabaseWriteFailed);
  const std::string eraseFailed = S(text::kEraseFlashFailed);
  const Case cases[] = {
      {"write open refused", faults([](SimFaults& f) { f.refuseWriteOpen = true; }), none,
       UpdateOutcome::EraseFailed, {S(text::kEraseCommandError), eraseFailed}, 0},
      {"read open refused", faults([](SimFaults& f) { f.refuseReadOpen = true; }), none,
       UpdateOutcome::EraseFailed,
       {S(text::kErasing), S(text::kEraseMessageError), eraseFailed}, 1},
      {"erase command fails", faults([](SimFaults& f) { f.failWriteAt = 1; }), none,
       UpdateOutcome::EraseFailed, {S(text::kEraseCommandError), eraseFailed}, 0},
      {"write command fails", faults([](SimFaults& f) { f.failWriteAt = 2; }), none,
       UpdateOutcome::WriteFailed, {S(text::kWriteCommandError), dbFailed}, 1},
      {"data report fails", faults([](SimFaults& f) { f.failWriteAt = 3; }), none,
       UpdateOutcome::WriteFailed, {S(text::kWriteDataError), dbFailed}, 2},
      {"data report stalls", faults([](SimFaults& f) { f.stallWriteAt = 10; }), none,
       UpdateOutcome::WriteFailed, {S(text::kWriteDataError), dbFailed}, 9},
      {"data report claims no bytes",
       faults([](SimFaults& f) { f.shortCountAt = 4; f.shortCount = 0; }), none,
       UpdateOutcome::WriteFailed, {S(text::kWriteDataError), dbFailed}, 4},
      {"header erase fails", faults([](SimFaults& f) { f.failWriteAt = 19; }), none,
       UpdateOutcome::EraseFailed,
       {S(text::kDatabaseWritten), S(text::kEraseCommandError), eraseFailed}, 18},
      {"header page fails", faults([](SimFaults& f) { f.failWriteAt = 21; }), none,
       UpdateOutcome::WriteFailed,
       {S(text::kWritingDatabase), S(text::kWriteDataError), dbFailed}, 20},
      {"restart fails", faults([](SimFaults& f) { f.failWriteAt = 25; }), none,
       UpdateOutcome::RestartFailed,
       {S(text::kUpdateSucceeded), S(text::kRestartCommandError), S(text::kRestartFailed)}, 24},
      {"no over", faults([](SimFaults& f) { f.sendOver = false; }), none,
       UpdateOutcome::EraseFailed, {S(text::kEraseMessageError), eraseFailed}, 1},
      {"only zero-byte reads", faults([](SimFaults& f) { f.zeroByteReads = UINT32_MAX; }), none,
       UpdateOutcome::EraseFailed, {S(text::kEraseMessageError), eraseFailed}, 1},
      {"progress slower than the bound", SimFaults{}, std::chrono::milliseconds(500),
       UpdateOutcome::EraseFailed, {S(text::kEraseMessageError), eraseFailed}, 1},
      {"short reads", faults([](SimFaults& f) { f.readChunk = 16; }), none,
       UpdateOutcome::Succeeded, {S(text::kUpdateSucceeded)}, 25},
      {"some zero-byte reads", faults([](SimFaults& f) { f.zeroByteReads = 3; }), none,
       UpdateOutcome::Succeeded, {S(text::kUpdateSucceeded)}, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimConfig config;
    config.faults = c.faults;
    config.progressGap = c.gap;
    SimRig rig(config);
    const UpdateRun run = Update(rig);
    EXPECT_EQ(run.outcome, c.outcome);
    ASSERT_GE(run.statuses.size(), c.lastStatuses.size());
    EXPECT_EQ(std::vector<std::string>(run.statuses.end() - static_cast<std::ptrdiff_t>(
                                                               c.lastStatuses.size()),
                                       run.statuses.end()),
              c.lastStatuses);
    if (c.outcome != UpdateOutcome::Succeeded && c.outcome != UpdateOutcome::RestartFailed) {
      EXPECT_FALSE(Claims(run.statuses, text::kUpdateSucceeded));
    }
    EXPECT_EQ(run.reportsTaken, c.reportsTaken);
    EXPECT_EQ(run.handlesLeftOpen, 0u);
    EXPECT_LT(run.took.count(), 3000);
  }
}

// Nothing is sent, and the outcome says why, apart from a failed erase.
TEST(FaultMatrix, NoDeviceAtAll) {
  SimRig rig;
  rig.device.Unplug();
  const UpdateRun run = Update(rig);
  EXPECT_EQ(run.outcome, UpdateOutcome::NoDevice);
  EXPECT_EQ(run.reportsTaken, 0u);
  EXPECT_EQ(run.statuses,
            (std::vector<std::string>{S(text::kDeviceConnectFailed), S(text::kEraseFlashFailed)}));
}

TEST(FaultMatrix, AStopEndsTheUpdateAtItsNextTransfer) {
  SimRig rig;
  rig.stop.Set();
  const UpdateRun run = Update(rig);
  EXPECT_EQ(run.outcome, UpdateOutcome::EraseFailed);
  EXPECT_EQ(run.statuses,
            (std::vector<std::string>{S(text::kEraseCommandError), S(text::kEraseFlashFailed)}));
  // The erase command itself completed before its wait saw the stop; nothing
  // follows it.
  EXPECT_EQ(run.reportsTaken, 1u);
  EXPECT_FALSE(rig.stop.IsSet());
}

}  // namespace
}  // namespace gps
