// How far an update is, as a whole: the job reports each device operation
// on its own (the erase's bar runs 0..100, then the write's 0..pages), and
// this follows those reports to tell the user one step of two, one
// percentage across erase and write, and, once it can be estimated, the time
// left.
//
// A front end feeds it the job's reports and stages in the order the job
// made them, with the time each one arrived; it needs no clock and no thread
// of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/update_reporter.h"

namespace gps {

class UpdateProgress {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Stage { Idle, Erase, Write, Header, Done };

  // What a percentage counts: the whole job, across erase and write (beside
  // a bar that runs once, as the command line's does), or the step under
  // way, as far as its own bar has gone (beside a bar that each device
  // operation runs from 0 to its own range, as the dialogs' does).
  enum class Measure { WholeJob, Step };

  // A job for an image of `imageLength` bytes begins (the file's size as it
  // is on disk: 0 when it is not there).
  void Begin(uint64_t imageLength, Clock::time_point now);
  // The job's reports, as the front end receives them.
  void OnStage(JobStage stage, Clock::time_point now);
  void OnRange(uint32_t upper);
  void OnPosition(uint32_t position, Clock::time_point now);
  // The job has returned, whatever its outcome.
  void End(Clock::time_point now);

  Stage stage() const { return m_stage; }
  bool Running() const { return m_running; }
  // 1 during the erase, 2 from the write on; 0 before the erase began.
  int Step() const;
  // The whole job, 0 to 100; 100 only once the update has succeeded.
  int Percent() const;
  // The step under way, 0 to 100, as its bar shows it (never falling back
  // within the step); 100 once the update has succeeded.
  int StepPercent() const;
  int Percent(Measure measure) const {
    return measure == Measure::WholeJob ? Percent() : StepPercent();
  }
  // True once the erase command has gone out: from then on a failure may
  // have left the device without a complete database.
  bool DeviceTouched() const { return m_stage != Stage::Idle; }
  // Known after the job has run for a while; empty before, and after it.
  std::optional<std::chrono::seconds> TimeLeft(Clock::time_point now) const;
  // Where the bar stood when the job stopped, in the range of the step it
  // stopped in: each step puts its bar back to 0 as it ends, but after a
  // failure the bar is left where it got to, so that the user sees how far
  // the update went. Only meaningful after End of a job that did not succeed.
  uint32_t BarRange() const { return m_range; }
  uint32_t BarPosition() const;

  // While the job runs: "步驟 2/2 寫入中 64%" and, once known,
  // "，剩餘約 3 分鐘"; empty before the first step and after the job.
  std::string Line(Clock::time_point now, Measure measure = Measure::WholeJob) const;
  // After End: "更新完成，共用時 5 分 02 秒" or "更新停止於步驟 2/2 寫入中
  // 64%，共用時 …"; empty when the job never reached the device.
  std::string EndLine(Measure measure = Measure::WholeJob) const;

 private:
  double StageFraction(Stage stage) const;
  double StageCost(Stage stage) const;
  std::string StepText(Measure measure) const;

  Stage m_stage = Stage::Idle;
  bool m_running = false;
  bool m_imageWritten = false;  // every page of the image reached the device
  Clock::time_point m_begin{};
  Clock::time_point m_end{};
  Clock::time_point m_stageBegin{};
  uint32_t m_range = 100;
  double m_fraction = 0;  // of the current stage, never falling back
  // Expected cost of each part in milliseconds of a real device.
  double m_eraseCost = 0;
  double m_writeCost = 0;
};

// "3 分鐘", "45 秒" (for a time left: rounded up, coarser as it grows).
std::string RoughDuration(std::chrono::seconds duration);
// "5 分 02 秒", "12 秒" (for a time taken).
std::string ExactDuration(std::chrono::seconds duration);

}  // namespace gps
