#include "ui/cli/terminal_reporter.h"

#include <algorithm>
#include <string>

namespace gps {
namespace {
constexpr int kBarCells = 40;
}

TerminalReporter::TerminalReporter(std::ostream& out, std::ostream& err, bool drawBar)
    : out_(out), err_(err), drawBar_(drawBar) {}

void TerminalReporter::SetStatusText(std::string_view text) {
  ClearBar();
  out_ << text << '\n' << std::flush;
}

void TerminalReporter::SetProgressRange(uint32_t upper) {
  upper_ = upper;
  position_ = 0;
  DrawBar();
}

void TerminalReporter::SetProgressPosition(uint32_t position) {
  position_ = position;
  DrawBar();
}

void TerminalReporter::ShowMessage(std::string_view text) {
  ClearBar();
  err_ << text << '\n' << std::flush;
}

// The bar's line is overwritten with spaces: carriage returns are all the
// control a console needs, with no escape sequence that a Windows console
// without virtual terminal processing would print as text.
void TerminalReporter::ClearBar() {
  if (shownPercent_ < 0) return;
  err_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
  shownPercent_ = -1;
  shownWidth_ = 0;
}

// Redraws only when the percentage changes: a large image moves the bar
// 65,000 times, and the terminal need not see each.
void TerminalReporter::DrawBar() {
  if (!drawBar_) return;
  const uint32_t shown = std::min(position_, upper_);
  const int percent = upper_ == 0 ? 0 : static_cast<int>(uint64_t{shown} * 100 / upper_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  const int filled = percent * kBarCells / 100;
  std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(kBarCells - filled), ' ') + "] " +
                    std::to_string(percent) + "%";
  // "0%" after "100%" is shorter: spaces cover what is left of the longer.
  if (bar.size() < shownWidth_) bar.append(shownWidth_ - bar.size(), ' ');
  shownWidth_ = bar.size();
  err_ << '\r' << bar << std::flush;
}

}  // namespace gps
