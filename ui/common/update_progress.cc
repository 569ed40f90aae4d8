#include "ui/common/update_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

using std::chrono::duration;
using std::chrono::seconds;
using Milliseconds = duration<double, std::milli>;

// What each part costs on a real device. A page is four reports, and the
// wire takes about 1.2 ms for each; the erase depends on the flash chip, so
// its figure is a guess (a 64 KiB block erase of common NOR flash, spread
// over its 16 sectors). Both set only how the percentage is split between
// the steps and what the time left assumes for a step not yet begun; a step
// under way is timed by its own pace.
constexpr double kPageMs = 4 * 1.2;
constexpr double kSectorMs = 10;
// The header: one sector erased and one page written.
constexpr double kHeaderMs = kSectorMs + kPageMs;

// No time left is shown before the job has run this long: until then the
// pace is not known well enough for a figure worth reading.
constexpr seconds kEstimateAfter{10};
// A step's own pace counts once it has run this long.
constexpr seconds kPaceAfter{2};

}  // namespace

void UpdateProgress::Begin(uint64_t imageLength, Clock::time_point now) {
  *this = UpdateProgress();
  m_running = true;
  m_begin = now;
  const uint64_t sectors = imageLength / SECTOR_SIZE + (imageLength % SECTOR_SIZE != 0);
  m_eraseCost = sectors * kSectorMs;
  m_writeCost = (imageLength / PAGE_SIZE + 1) * kPageMs;
}

void UpdateProgress::OnStage(JobStage stage, Clock::time_point now) {
  if (!m_running) return;
  Stage next = m_stage;
  switch (stage) {
    case JobStage::Erase:
      if (m_stage == Stage::Idle) next = Stage::Erase;
      break;
    case JobStage::Write:
      if (m_stage == Stage::Idle || m_stage == Stage::Erase) next = Stage::Write;
      break;
    case JobStage::ImageWritten:
      m_imageWritten = true;
      if (m_stage == Stage::Write) m_fraction = 1;
      break;
    case JobStage::Header:
      if (m_imageWritten) next = Stage::Header;
      break;
    case JobStage::Done:
      if (m_imageWritten) next = Stage::Done;
      break;
  }
  if (next == m_stage) return;
  m_stage = next;
  m_stageBegin = now;
  m_fraction = 0;
}

void UpdateProgress::OnRange(uint32_t upper) { m_range = upper; }

void UpdateProgress::OnPosition(uint32_t position, Clock::time_point) {
  if (!m_running || m_stage == Stage::Idle || m_stage == Stage::Done || m_range == 0) return;
  // An operation puts its bar back to 0 when it ends, and the erase ends on
  // its sector count, which may lie anywhere: neither takes back what was
  // done.
  const double fraction = std::min<double>(position, m_range) / m_range;
  m_fraction = std::max(m_fraction, fraction);
}

void UpdateProgress::End(Clock::time_point now) {
  if (!m_running) return;
  m_running = false;
  m_end = now;
}

int UpdateProgress::Step() const {
  switch (m_stage) {
    case Stage::Idle: return 0;
    case Stage::Erase: return 1;
    default: return 2;
  }
}

double UpdateProgress::StageCost(Stage stage) const {
  switch (stage) {
    case Stage::Erase: return m_eraseCost;
    case Stage::Write: return m_writeCost;
    case Stage::Header: return kHeaderMs;
    default: return 0;
  }
}

// How much of `stage` is done, judged from the current stage.
double UpdateProgress::StageFraction(Stage stage) const {
  if (m_stage == Stage::Done || stage < m_stage) return 1;
  if (stage > m_stage) return 0;
  return m_fraction;
}

int UpdateProgress::Percent() const {
  if (m_stage == Stage::Done) return 100;
  double done = 0;
  double total = 0;
  for (Stage stage : {Stage::Erase, Stage::Write, Stage::Header}) {
    done += StageCost(stage) * StageFraction(stage);
    total += StageCost(stage);
  }
  // 100 % means done: the header and the restart are still to come.
  return std::min(99, static_cast<int>(std::floor(100 * done / total)));
}

int UpdateProgress::StepPercent() const {
  if (m_stage == Stage::Done) return 100;
  if (m_stage == Stage::Idle) return 0;
  return std::min(100, static_cast<int>(std::floor(100 * m_fraction)));
}

std::optional<seconds> UpdateProgress::TimeLeft(Clock::time_point now) const {
  if (!m_running || m_stage == Stage::Idle || m_stage == Stage::Done) return std::nullopt;
  if (now - m_begin < kEstimateAfter) return std::nullopt;
  // The step under way at its own pace once that is known, the steps after
  // it at a real device's pace.
  const auto inStage = Milliseconds(now - m_stageBegin).count();
  double left = 0;
  if (m_fraction > 0 && inStage >= Milliseconds(kPaceAfter).count()) {
    left = inStage * (1 - m_fraction) / m_fraction;
  } else {
    left = StageCost(m_stage) * (1 - m_fraction);
  }
  for (Stage stage : {Stage::Write, Stage::Header}) {
    if (stage > m_stage) left += StageCost(stage);
  }
  return std::chrono::ceil<seconds>(Milliseconds(left));
}

uint32_t UpdateProgress::BarPosition() const {
  if (m_stage == Stage::Idle || m_stage == Stage::Done) return 0;
  return static_cast<uint32_t>(std::lround(m_fraction * m_range));
}

std::string UpdateProgress::StepText(Measure measure) const {
  const std::string_view step = Step() == 1 ? text::kStepErasing : text::kStepWriting;
  return std::string(step) + " " + std::to_string(Percent(measure)) + "%";
}

std::string UpdateProgress::Line(Clock::time_point now, Measure measure) const {
  if (!m_running || m_stage == Stage::Idle || m_stage == Stage::Done) return {};
  std::string line = StepText(measure);
  if (const auto left = TimeLeft(now))
    line += std::string(text::kTimeLeftPrefix) + RoughDuration(*left);
  return line;
}

std::string UpdateProgress::EndLine(Measure measure) const {
  if (m_running || m_stage == Stage::Idle) return {};
  if (m_stage == Stage::Done) {
    return std::string(text::kFinishedPrefix) + std::string(text::kTookPrefix) +
           ExactDuration(std::chrono::round<seconds>(m_end - m_begin));
  }
  return std::string(text::kStoppedAtPrefix) + StepText(measure) + std::string(text::kComma) +
         std::string(text::kTookPrefix) +
         ExactDuration(std::chrono::round<seconds>(m_end - m_begin));
}

std::string RoughDuration(seconds duration) {
  const auto s = std::max<int64_t>(duration.count(), 1);
  if (s >= 120) return std::to_string((s + 59) / 60) + std::string(text::kMinutes);
  return std::to_string((s + 4) / 5 * 5) + std::string(text::kSeconds);
}

std::string ExactDuration(seconds duration) {
  const auto s = std::max<int64_t>(duration.count(), 0);
  if (s < 60) return std::to_string(s) + std::string(text::kSeconds);
  char secondsPart[8];
  std::snprintf(secondsPart, sizeof secondsPart, "%02d", static_cast<int>(s % 60));
  return std::to_string(s / 60) + std::string(text::kMinute) + secondsPart +
         std::string(text::kSeconds);
}

}  // namespace gps
