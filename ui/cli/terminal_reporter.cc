#include "ui/cli/terminal_reporter.h"

#include <algorithm>

#include "ui/cli/text_width.h"
#include "ui/common/failure_advice.h"

namespace gps {
namespace {

// A terminal that does not say how wide it is.
constexpr int kDefaultColumns = 80;
// A bar narrower than this says too little to be worth its room; a wider one
// than this is no easier to read.
constexpr int kNarrowestBar = 10;
constexpr int kWidestBar = 60;
// Even without a change of percentage, the time left is brought up to date
// this often.
constexpr auto kRedrawEvery = std::chrono::seconds(1);

}  // namespace

TerminalReporter::TerminalReporter(std::ostream& out, std::ostream& err, Settings settings)
    : out_(out), err_(err), settings_(std::move(settings)) {}

TerminalReporter::Clock::time_point TerminalReporter::Now() const {
  return settings_.now ? settings_.now() : Clock::now();
}

void TerminalReporter::BeginJob(uint32_t imageLength) {
  progress_.Begin(imageLength, Now());
  loggedStep_ = 0;
  loggedTenth_ = -1;
}

void TerminalReporter::EndJob(UpdateOutcome outcome, bool stoppedByUser,
                              const std::string& fileName, uint64_t fileSize) {
  progress_.End(Now());
  ClearBar();
  JobEnd end;
  end.outcome = outcome;
  end.deviceTouched = progress_.DeviceTouched();
  end.stoppedByUser = stoppedByUser;
  end.fileName = fileName;
  end.fileSize = fileSize;
  if (const std::string_view stop = StopStatusText(end); !stop.empty())
    out_ << stop << '\n' << std::flush;
  if (const std::string advice = Advice(end, FrontEnd::CommandLine); !advice.empty())
    err_ << advice << '\n';
  if (const std::string line = progress_.EndLine(); !line.empty()) err_ << line << '\n';
  err_ << std::flush;
}

void TerminalReporter::StageBegins(JobStage stage) { progress_.OnStage(stage, Now()); }

void TerminalReporter::SetStatusText(std::string_view text) {
  ClearBar();
  out_ << text << '\n' << std::flush;
  ShowProgress();
}

void TerminalReporter::SetProgressRange(uint32_t upper) {
  upper_ = upper;
  position_ = 0;
  progress_.OnRange(upper);
  ShowProgress();
}

void TerminalReporter::SetProgressPosition(uint32_t position) {
  position_ = position;
  progress_.OnPosition(position, Now());
  ShowProgress();
}

void TerminalReporter::ShowMessage(std::string_view text) {
  ClearBar();
  err_ << text << '\n' << std::flush;
}

// The bar's line is overwritten with spaces: carriage returns are all the
// control a console needs, with no escape sequence that a Windows console
// without virtual terminal processing would print as text.
void TerminalReporter::ClearBar() {
  if (drawnBar_.empty()) return;
  err_ << '\r' << std::string(drawnWidth_, ' ') << '\r' << std::flush;
  drawnBar_.clear();
  drawnWidth_ = 0;
  drawnPercent_ = -1;
}

std::string TerminalReporter::BarLine(int columns) const {
  // Before a job has begun, the bar alone, as the job's operation sets it.
  const int percent =
      progress_.Step() > 0
          ? progress_.Percent()
          : (upper_ == 0 ? 0 : static_cast<int>(uint64_t{std::min(position_, upper_)} * 100 / upper_));
  const std::string percentText = std::to_string(percent) + "%";
  std::string text = progress_.Line(Now());
  if (text.empty()) text = percentText;
  // The last column stays free: some terminals wrap on reaching it.
  const int room = (columns > 0 ? columns : kDefaultColumns) - 1 - 3;
  int cells = room - static_cast<int>(DisplayWidth(text));
  if (cells < kNarrowestBar) {
    text = percentText;
    cells = room - static_cast<int>(DisplayWidth(text));
  }
  if (cells < 1) return text;
  cells = std::min(cells, kWidestBar);
  const int filled = percent * cells / 100;
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(cells - filled), ' ');
  bar += "] ";
  bar += text;
  return bar;
}

// A large image moves the bar 65,000 times: the terminal sees it only when
// what it shows changes.
void TerminalReporter::ShowProgress() {
  const Clock::time_point now = Now();
  if (settings_.progress == Progress::Lines) {
    if (progress_.Step() == 0) return;
    const int tenth = progress_.Percent() / 10;
    if (progress_.Step() == loggedStep_ && tenth <= loggedTenth_) return;
    const std::string line = progress_.Line(now);
    if (line.empty()) return;
    loggedStep_ = progress_.Step();
    loggedTenth_ = tenth;
    err_ << line << '\n' << std::flush;
    return;
  }
  // After "更新成功!" the bar has nothing more to say; the job's end clears it.
  if (settings_.progress != Progress::Bar || progress_.stage() == UpdateProgress::Stage::Done)
    return;
  const int columns = settings_.columns ? settings_.columns() : 0;
  const int percent = progress_.Step() > 0 ? progress_.Percent() : static_cast<int>(position_);
  if (percent == drawnPercent_ && columns == drawnColumns_ && now - drawnAt_ < kRedrawEvery)
    return;
  drawnPercent_ = percent;
  drawnColumns_ = columns;
  drawnAt_ = now;
  const std::string line = BarLine(columns);
  if (line == drawnBar_) return;
  // Over the line drawn before; spaces cover what is left of a longer one,
  // as far as the terminal is wide.
  const std::size_t width = DisplayWidth(line);
  const std::size_t room = static_cast<std::size_t>(columns > 0 ? columns : kDefaultColumns) - 1;
  const std::size_t cover =
      drawnWidth_ > width && room > width ? std::min(drawnWidth_, room) - width : 0;
  err_ << '\r' << line << std::string(cover, ' ') << std::flush;
  drawnBar_ = line;
  drawnWidth_ = width;
}

}  // namespace gps
