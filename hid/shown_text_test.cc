#include "hid/shown_text.h"

#include <gtest/gtest.h>

#include <string>

namespace gps {
namespace {

TEST(ShownText, ControlsAndInvalidUtf8AreWrittenOut) {
  struct Case {
    std::string raw;
    std::string shown;
  };
  const Case cases[] = {
      {"code_data.bin", "code_data.bin"},
      {"資料庫 café.bin", "資料庫 café.bin"},
      {"C:\\data\\x.bin", "C:\\data\\x.bin"},  // backslashes stay
      {"\x1b]0;title\x07\x1b[2J", "\\e]0;title\\x07\\e[2J"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"del\x7f", "del\\x7F"},
      {"caf\xe9.bin", "caf\\xE9.bin"},             // Latin-1
      {"\xa5\xbf\xa6\x62.bin", "\\xA5\\xBF\\xA6b.bin"},  // Big5 (its second byte may be ASCII)
      {"\xc0\xaf", "\\xC0\\xAF"},                  // overlong "/"
      {"\xed\xa0\x80", "\\xED\\xA0\\x80"},         // a surrogate
      {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
      {"cut\xe6\x96", "cut\\xE6\\x96"},            // a sequence cut short
      {"\xc2\x9b" "2J", "\\u009B2J"},              // the C1 sequence introducer
      {"gpj.\xe2\x80\xae" "exe", "gpj.\\u202Eexe"},  // right-to-left override
      {"😀", "😀"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShownText(c.raw), c.shown) << c.shown;
  }
}

}  // namespace
}  // namespace gps
