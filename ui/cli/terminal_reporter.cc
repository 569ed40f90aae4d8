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

void TerminalReporter::ClearBar() {
  if (shownPercent_ < 0) return;
  err_ << "\r\033[K" << std::flush;
  shownPercent_ = -1;
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
  err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
       << std::string(static_cast<std::size_t>(kBarCells - filled), ' ') << "] "
       << percent << "%" << std::flush;
}

}  // namespace gps
