#include "ui/cli/help_text.h"

#include <gtest/gtest.h>

#include <string>

#include "ui/cli/cli_options.h"

namespace gps {
namespace {

// The Chinese help tells of every option and every exit status that the
// English one does, each status with the same last text, and none in English.
TEST(ChineseHelp, HasEveryOptionAndStatusOfTheEnglishHelp) {
  const std::string english = HelpText();
  const std::string chinese = ChineseHelpText();
  for (const char* option : {"--wait[=", "--all", "--device ID", "--station", "--record FILE",
                             "--list", "--trace",
                             "--simulate[=N]", "--version", "-h, --help", "[FILE]"}) {
    SCOPED_TRACE(option);
    EXPECT_NE(english.find(option), std::string::npos);
    EXPECT_NE(chinese.find(option), std::string::npos);
  }
  for (const ExitStatusRow& row : ExitStatusTable()) {
    SCOPED_TRACE(row.status);
    const std::string number = std::to_string(row.status);
    const std::string start = std::string(4 - number.size(), ' ') + number + "  ";
    const size_t at = chinese.find("\n" + start);
    ASSERT_NE(at, std::string::npos);
    const size_t end = chinese.find('\n', at + 1);
    const std::string line = chinese.substr(at + 1, end - at - 1);
    // Its meaning is written in Chinese: not the English words.
    EXPECT_EQ(line.find(row.meaning.substr(0, 12)), std::string::npos) << line;
    if (!row.text.empty()) {
      EXPECT_EQ(chinese.compare(end + 1, 8 + row.text.size(), "        " + row.text), 0);
    }
  }
}

TEST(ChineseHelp, ChineseLocalesAreKnownByTheirLanguage) {
  struct Case {
    const char* locale;
    bool chinese;
  };
  for (const Case& c : {Case{"zh_TW.UTF-8", true}, Case{"zh-TW", true}, Case{"zh_CN", true},
                        Case{"zh", true}, Case{"ZH-hk", true}, Case{"en_US.UTF-8", false},
                        Case{"C", false}, Case{"", false}, Case{"zu_ZA", false}}) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(IsChineseLocale(c.locale), c.chinese);
  }
}

}  // namespace
}  // namespace gps
