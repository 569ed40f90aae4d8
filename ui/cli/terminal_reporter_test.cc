// The single update's reporter on a terminal and in a log.
#include "ui/cli/terminal_reporter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "ui/cli/text_width.h"

namespace gps {
namespace {

// The bar as drawn: `cells` wide, `filled` of them filled, then `text`.
std::string Bar(int cells, int filled, const std::string& text) {
  return "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(cells - filled), ' ') + "] " + text;
}
// The bar wiped out with spaces.
std::string Cleared(std::size_t columns) { return "\r" + std::string(columns, ' ') + "\r"; }

TEST(TerminalReporter, StatusLinesOnOutputAndProgressOnErrors) {
  std::ostringstream out, err;
  const auto now = std::chrono::steady_clock::now();
  TerminalReporter::Settings view{TerminalReporter::Progress::Bar, [] { return 40; },
                                  [now] { return now; }};
  TerminalReporter bar(out, err, view);
  bar.SetProgressRange(4);
  bar.SetProgressPosition(2);
  bar.SetProgressPosition(2);  // unchanged: not drawn again
  bar.SetProgressPosition(4);
  bar.SetProgressPosition(0);  // shorter: the end of "100%" is covered
  bar.SetStatusText("正在寫入資料庫...");
  bar.ShowMessage("Can't find code_data.bin");
  EXPECT_EQ(out.str(), "正在寫入資料庫...\n");
  // 40 columns: one kept free, the brackets and the space, the text. Carriage
  // returns and spaces only: no escape sequence, which a Windows console
  // would print as text.
  EXPECT_EQ(err.str(), Bar(34, 0, "0%") + Bar(33, 16, "50%") + Bar(32, 32, "100%") +
                           Bar(34, 0, "0%") + Cleared(39) + Bar(34, 0, "0%") + Cleared(39) +
                           "Can't find code_data.bin\n");

  for (auto progress : {TerminalReporter::Progress::Lines, TerminalReporter::Progress::None}) {
    std::ostringstream out2, plainErr;
    TerminalReporter plain(out2, plainErr, {progress, nullptr, nullptr});
    plain.SetProgressRange(4);
    plain.SetProgressPosition(9);
    EXPECT_EQ(plainErr.str(), "");  // no job, no step: nothing to log
  }
}

TEST(TerminalReporter, TheBarFitsTheTerminalAndFollowsAResize) {
  std::ostringstream out, err;
  int columns = 40;
  const auto now = std::chrono::steady_clock::now();
  TerminalReporter bar(out, err, {TerminalReporter::Progress::Bar, [&columns] { return columns; },
                                  [now] { return now; }});
  bar.BeginJob(MAX_DATABASE_SIZE);
  bar.StageBegins(JobStage::Erase);
  bar.SetStatusText(text::kErasing);
  bar.SetProgressRange(100);
  // The erase is a tenth of the largest image's job: half of it is 5 %.
  const std::string step = "步驟 1/2 清除中 5%";
  struct Case {
    int columns;
    std::string drawn;
  };
  const Case cases[] = {
      {40, Bar(18, 0, step)},
      {100, Bar(60, 3, step)},  // no wider than that
      {25, Bar(19, 0, "5%")},   // the words go first
      {6, "\r5%   "},  // what is left of the longer bar is covered
      {40, Bar(18, 0, step)},
  };
  for (const Case& c : cases) {
    columns = c.columns;
    err.str("");
    bar.SetProgressPosition(50);
    EXPECT_EQ(err.str(), c.drawn) << c.columns;
    EXPECT_LT(DisplayWidth(c.drawn) - 1, static_cast<std::size_t>(c.columns));
  }
  EXPECT_EQ(DisplayWidth("步驟 1/2，5%"), 12u);
}

}  // namespace
}  // namespace gps
