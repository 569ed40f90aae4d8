// The command-line program's reporter: status texts as lines on standard
// output, messages on standard error, and the whole job's progress on
// standard error: a bar drawn in place on a terminal, as wide as the
// terminal is now; in a log, a line at each step and every 10 %.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "protocol/update_job.h"
#include "protocol/update_reporter.h"
#include "ui/common/update_progress.h"

namespace gps {

class TerminalReporter : public UpdateReporter {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Progress {
    Bar,    // standard error is a terminal
    Lines,  // standard error is a file or a pipe
    None,   // something else writes there (the trace)
  };
  struct Settings {
    Progress progress = Progress::None;
    // The terminal's width now, in columns; null or 0 when it does not say.
    std::function<int()> columns;
    // Null: the steady clock.
    std::function<Clock::time_point()> now;
  };

  TerminalReporter(std::ostream& out, std::ostream& err, Settings settings);

  // A job on an image of `imageLength` bytes begins.
  void BeginJob(uint32_t imageLength);
  // It has ended: what follows its own texts. A stop the user asked for
  // gets its status text, a failure its advice on standard error, and a
  // job that reached the device the time it took.
  void EndJob(UpdateOutcome outcome, bool stoppedByUser, const std::string& fileName,
              uint64_t fileSize);

  void SetStatusText(std::string_view text) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPosition(uint32_t position) override;
  void ShowMessage(std::string_view text) override;
  void StageBegins(JobStage stage) override;

 private:
  Clock::time_point Now() const;
  void ShowProgress();
  void ClearBar();
  std::string BarLine(int columns) const;

  std::ostream& out_;
  std::ostream& err_;
  const Settings settings_;
  UpdateProgress progress_;
  uint32_t upper_ = 100;
  uint32_t position_ = 0;
  // What is on screen: the bar's line as drawn, or the last line's step and
  // tenth of the job.
  std::string drawnBar_;
  std::size_t drawnWidth_ = 0;  // its columns
  int drawnPercent_ = -1;
  int drawnColumns_ = 0;
  Clock::time_point drawnAt_{};
  int loggedStep_ = 0;
  int loggedTenth_ = -1;
};

}  // namespace gps
