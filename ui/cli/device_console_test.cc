// What --all and --station show while several jobs run: lines marked with
// each device's name, and bars below them where they fit.
#include "ui/cli/device_console.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace gps {
namespace {

TEST(DeviceConsole, OnATerminalTheBarsStayBelowTheLines) {
  std::ostringstream out, err;
  DeviceConsole console(out, err, {"A", "BB"}, true);
  console.Reporter(0).SetStatusText("s1");
  console.Reporter(1).SetProgressRange(4);
  console.Reporter(1).SetProgressPosition(1);
  console.Reporter(1).SetProgressPosition(1);  // unchanged: not drawn again
  console.ClearBars();
  EXPECT_EQ(out.str(), "A: s1\n");
  const std::string empty = "[" + std::string(30, ' ') + "]   0%";
  const std::string quarter = "[" + std::string(7, '#') + std::string(23, ' ') + "]  25%";
  EXPECT_EQ(err.str(),
            // Drawn after the first line, redrawn in place, taken away.
            "\033[KA  " + empty + "\n\033[KBB " + empty +
            "\r\033[1A\033[KA  " + empty + "\n\033[KBB " + quarter +
            "\r\033[1A\033[J");
  EXPECT_EQ(console.LastText(0), "s1");
}

// Bars only where they fit: a bar line wider than the terminal or more bars
// than it has rows would be redrawn over the wrong lines; progress lines
// then, as in a log. A terminal that does not say its size gets bars.
TEST(DeviceConsoleBars, OnlyWhereTheyFitTheTerminal) {
  const std::vector<std::string> two = {"A-0001", "A-0002"};
  const std::vector<std::string> sixteen(16, "A-0001");
  struct Case {
    const char* name;
    const std::vector<std::string>* names;
    int columns, rows;
    bool bars;
  };
  const Case cases[] = {
      {"80 x 24", &two, 80, 24, true},
      {"size unknown", &two, 0, 0, true},
      {"narrower than a bar line", &two, 40, 24, false},
      {"a bar line to the last column", &two, 44, 24, false},
      {"one column to spare", &two, 45, 24, true},
      {"more bars than rows", &sixteen, 80, 12, false},
      {"as many bars as rows", &sixteen, 80, 16, false},  // the cursor's line too
      {"a row to spare", &sixteen, 80, 17, true},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    DeviceConsole console(out, err, *c.names, true, c.columns, c.rows);
    EXPECT_EQ(console.DrawsBars(), c.bars) << c.name;
    if (!c.bars) {
      console.Reporter(0).SetProgressRange(10);
      console.Reporter(0).SetProgressPosition(5);
      EXPECT_EQ(err.str(), "A-0001: 50%\n") << c.name;  // a line, no cursor movement
    }
  }
}

// A station's jobs come and go: a bar for each running job, a line of the
// station's own above them, and no bar left once the jobs have ended.
TEST(DeviceConsole, AStationsBarsFollowItsRunningJobs) {
  std::ostringstream out, err;
  DeviceConsole console(out, err, {}, true);
  const std::size_t a = console.Add("A");
  const std::size_t b = console.Add("B");
  console.Finish(a);
  console.Line("Station: 1 updated, 0 failed so far.");
  const std::size_t c = console.Add("C");
  EXPECT_EQ(c, a);  // the ended job's place is taken again
  console.Finish(b);
  console.Finish(c);
  EXPECT_EQ(out.str(), "Station: 1 updated, 0 failed so far.\n");
  const std::string empty = "[" + std::string(30, ' ') + "]   0%";
  EXPECT_EQ(err.str(),
            "\033[KA " + empty +                                   // A alone
            "\r\033[J\033[KA " + empty + "\n\033[KB " + empty +    // and B below it
            "\r\033[1A\033[J\033[KB " + empty +                    // A ended
            "\r\033[J\033[KB " + empty +                          // the line went above
            "\r\033[J\033[KC " + empty + "\n\033[KB " + empty +    // C in A's place
            "\r\033[1A\033[J\033[KC " + empty +                    // B ended
            "\r\033[J");                                         // C ended: no bar left
}

}  // namespace
}  // namespace gps
