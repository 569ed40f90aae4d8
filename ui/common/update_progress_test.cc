#include "ui/common/update_progress.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "tests/test_support.h"

namespace gps {
namespace {

using Clock = UpdateProgress::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Feeds the job's reports into the model as a front end would, with a clock
// that moves 1 ms per report, and notes what the user would read.
class ProgressFeed : public UpdateReporter {
 public:
  explicit ProgressFeed(uint32_t length) { progress.Begin(length, now); }
  void StageBegins(JobStage stage) override { progress.OnStage(stage, Tick()); }
  void SetStatusText(std::string_view) override {
    Tick();
    Note();
  }
  void SetProgressRange(uint32_t upper) override { progress.OnRange(upper); }
  void SetProgressPosition(uint32_t position) override {
    progress.OnPosition(position, Tick());
    Note();
  }
  void ShowMessage(std::string_view) override {}

  Clock::time_point Tick() { return now += milliseconds(1); }
  void Note() {
    steps.push_back(progress.Step());
    percents.push_back(progress.Percent());
  }

  Clock::time_point now{};
  UpdateProgress progress;
  std::vector<int> steps;
  std::vector<int> percents;
};

TEST(UpdateProgress, FollowsWholeJobsToTheirEnd) {
  struct Case {
    uint32_t length;
    uint64_t unplugAfter;  // output reports; 0: never
    bool plugged = true;
    UpdateOutcome outcome;
    std::string endLine;  // its start
    // Where the bar is left after a failure (range, position).
    uint32_t barRange = 0;
    uint32_t barPosition = 0;
  };
  const Case cases[] = {
      {1000, 0, true, UpdateOutcome::Succeeded, "更新完成，共用時 0 秒"},
      {70000, 0, true, UpdateOutcome::Succeeded, "更新完成，共用時 "},
      // Unplugged halfway through the image's pages: 274 pages, 1096 data reports.
      {70000, 600, true, UpdateOutcome::WriteFailed, "更新停止於步驟 2/2 寫入中 ", 274, 150},
      // Gone after the erase command: the monitor never hears "over".
      {70000, 1, true, UpdateOutcome::EraseFailed, "更新停止於步驟 1/2 清除中 ", 100, 0},
      // Never there: nothing reached the device, and nothing is said of steps.
      {70000, 0, false, UpdateOutcome::NoDevice, "", 100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + " bytes, unplugged after " +
                 std::to_string(c.unplugAfter));
    test::SimRig rig;
    SimFaults faults;
    faults.unplugAfterReports = c.unplugAfter;
    rig.device.SetFaults(faults);
    if (!c.plugged) rig.device.Unplug();
    ProgressFeed feed(c.length);
    std::vector<uint8_t> image(c.length + 512u, 0x5A);
    EXPECT_EQ(UpdateJob(feed, rig.link).UpdateDatabase(image.data(), c.length), c.outcome);
    feed.progress.End(feed.Tick());

    for (std::size_t i = 1; i < feed.percents.size(); ++i) {
      ASSERT_GE(feed.percents[i], feed.percents[i - 1]) << "at report " << i;
      ASSERT_GE(feed.steps[i], feed.steps[i - 1]) << "at report " << i;
    }
    const bool succeeded = c.outcome == UpdateOutcome::Succeeded;
    EXPECT_EQ(feed.progress.DeviceTouched(), c.plugged);
    EXPECT_EQ(feed.progress.Percent() == 100, succeeded);
    // 100 % comes with "更新成功!" only.
    EXPECT_EQ(std::count(feed.percents.begin(), feed.percents.end(), 100), succeeded ? 1 : 0);
    if (c.plugged) {
      EXPECT_EQ(feed.steps.back(), c.unplugAfter == 1 ? 1 : 2);
      EXPECT_GT(std::count(feed.steps.begin(), feed.steps.end(), 1), 0);
    }
    EXPECT_EQ(feed.progress.EndLine().rfind(c.endLine, 0), 0u) << feed.progress.EndLine();
    EXPECT_EQ(feed.progress.Line(feed.now), "");  // the job has ended
    if (!succeeded) {
      EXPECT_EQ(feed.progress.BarRange(), c.barRange);
      EXPECT_EQ(feed.progress.BarPosition(), c.barPosition);
    }
  }
}

// The largest image, with the clock set by hand: how the percentage is
// split between erase and write, and when and how the time left is told.
TEST(UpdateProgress, SplitsTheLargestImageAndEstimatesTheTimeLeft) {
  const Clock::time_point t0{};
  UpdateProgress progress;
  progress.Begin(MAX_DATABASE_SIZE, t0);
  EXPECT_EQ(progress.Line(t0), "");

  progress.OnStage(JobStage::Erase, t0);
  progress.OnRange(100);
  progress.OnPosition(0, t0);
  EXPECT_EQ(progress.Line(t0 + seconds(9)), "步驟 1/2 清除中 0%");  // too early to tell
  // No erase message yet: the erase and the write at a real device's pace
  // (4086 sectors at 10 ms, 65,377 pages of four 1.2 ms reports).
  EXPECT_EQ(progress.TimeLeft(t0 + seconds(12)), seconds(355));

  // Half the erase in 20 s: its other half takes as long, then the write.
  progress.OnPosition(50, t0 + seconds(20));
  EXPECT_EQ(progress.Percent(), 5);
  EXPECT_EQ(progress.TimeLeft(t0 + seconds(20)), seconds(334));
  EXPECT_EQ(progress.Line(t0 + seconds(20)), "步驟 1/2 清除中 5%，剩餘約 6 分鐘");
  // Beside a bar of the step's own, the step's share: the bar's half.
  EXPECT_EQ(progress.Line(t0 + seconds(20), UpdateProgress::Measure::Step),
            "步驟 1/2 清除中 50%，剩餘約 6 分鐘");
  // The erase ends on its sector count, and its bar goes back to 0.
  progress.OnPosition(4086, t0 + seconds(40));
  progress.OnPosition(0, t0 + seconds(40));
  EXPECT_EQ(progress.Percent(), 11);

  progress.OnStage(JobStage::Write, t0 + seconds(40));
  progress.OnRange(65377);
  progress.OnPosition(0, t0 + seconds(40));
  EXPECT_EQ(progress.Step(), 2);
  // Half the pages in 150 s: the other half takes as long.
  progress.OnPosition(32688, t0 + seconds(190));
  EXPECT_EQ(progress.Percent(), 55);
  EXPECT_EQ(progress.Line(t0 + seconds(190)), "步驟 2/2 寫入中 55%，剩餘約 3 分鐘");
  // Four fifths in 240 s: the last fifth at that pace.
  progress.OnPosition(52000, t0 + seconds(280));
  EXPECT_EQ(progress.TimeLeft(t0 + seconds(280)), seconds(62));
  EXPECT_EQ(progress.Line(t0 + seconds(280)), "步驟 2/2 寫入中 81%，剩餘約 65 秒");
  EXPECT_EQ(progress.Line(t0 + seconds(280), UpdateProgress::Measure::Step),
            "步驟 2/2 寫入中 79%，剩餘約 65 秒");

  progress.OnPosition(65377, t0 + seconds(340));
  progress.OnPosition(0, t0 + seconds(340));
  progress.OnStage(JobStage::ImageWritten, t0 + seconds(340));
  progress.OnStage(JobStage::Header, t0 + seconds(340));
  progress.OnRange(1);
  EXPECT_EQ(progress.stage(), UpdateProgress::Stage::Header);
  EXPECT_EQ(progress.Percent(), 99);  // the header is still to come
  EXPECT_EQ(progress.StepPercent(), 0);  // its bar: one page, not yet written
  progress.OnPosition(1, t0 + seconds(341));
  progress.OnStage(JobStage::Done, t0 + seconds(341));
  EXPECT_EQ(progress.Percent(), 100);
  EXPECT_EQ(progress.StepPercent(), 100);
  progress.End(t0 + seconds(342));
  EXPECT_EQ(progress.EndLine(), "更新完成，共用時 5 分 42 秒");
  EXPECT_EQ(progress.TimeLeft(t0 + seconds(342)), std::nullopt);
}

TEST(UpdateProgress, Durations) {
  const std::pair<int, const char*> rough[] = {
      {0, "5 秒"}, {1, "5 秒"}, {5, "5 秒"}, {6, "10 秒"}, {119, "120 秒"},
      {120, "2 分鐘"}, {121, "3 分鐘"}, {354, "6 分鐘"}};
  for (const auto& [s, text] : rough) EXPECT_EQ(RoughDuration(seconds(s)), text) << s;
  const std::pair<int, const char*> exact[] = {
      {0, "0 秒"}, {59, "59 秒"}, {60, "1 分 00 秒"}, {302, "5 分 02 秒"}, {3600, "60 分 00 秒"}};
  for (const auto& [s, text] : exact) EXPECT_EQ(ExactDuration(seconds(s)), text) << s;
}

}  // namespace
}  // namespace gps
