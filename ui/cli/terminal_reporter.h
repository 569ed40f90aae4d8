// The command-line program's reporter: status texts as lines on standard
// output, messages on standard error, and a progress bar on standard error
// when that is a terminal.
#pragma once

#include <cstdint>
#include <ostream>

#include "protocol/update_reporter.h"

namespace gps {

class TerminalReporter : public UpdateReporter {
 public:
  TerminalReporter(std::ostream& out, std::ostream& err, bool drawBar);

  void SetStatusText(std::string_view text) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPosition(uint32_t position) override;
  void ShowMessage(std::string_view text) override;

 private:
  void ClearBar();
  void DrawBar();

  std::ostream& out_;
  std::ostream& err_;
  const bool drawBar_;
  uint32_t upper_ = 100;
  uint32_t position_ = 0;
  int shownPercent_ = -1;  // what the bar on screen shows; -1: no bar drawn
  std::size_t shownWidth_ = 0;  // characters of the widest bar on this line
};

}  // namespace gps
