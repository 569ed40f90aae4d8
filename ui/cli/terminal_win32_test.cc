#include <gtest/gtest.h>

#include "ui/cli/terminal.h"

namespace gps {
namespace {

// A file name in Chinese reaches the program whole, whatever the system's
// code page, and quoting works as the command line has it.
TEST(CliArguments, ComeInUtf8FromTheWideCommandLine) {
  EXPECT_EQ(ArgumentsOfCommandLine(
                L"gps-update-cli.exe --simulate \"C:\\\u8cc7\u6599 \u593e\\\u8cc7\u6599.bin\""),
            (std::vector<std::string>{"--simulate", "C:\\資料 夾\\資料.bin"}));
  EXPECT_EQ(ArgumentsOfCommandLine(L"gps-update-cli.exe"), std::vector<std::string>{});
}

}  // namespace
}  // namespace gps
