#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocol/messages.h"
#include "ui/cli/cli_options.h"
#include "ui/cli/terminal_reporter.h"
#include "ui/common/instance_guard.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

TEST(CliOptions, Parsing) {
  struct Case {
    std::vector<std::string> args;
    std::string file;
    bool simulate;
    bool error;
  };
  const Case cases[] = {
      {{}, "code_data.bin", false, false},
      {{"image.bin"}, "image.bin", false, false},
      {{"--simulate", "image.bin"}, "image.bin", true, false},
      {{"--", "-odd-name.bin"}, "-odd-name.bin", false, false},
      {{"a.bin", "b.bin"}, "", false, true},
      {{"--frobnicate"}, "", false, true},
  };
  for (const Case& c : cases) {
    const CliOptions o = ParseCliOptions(c.args);
    EXPECT_EQ(!o.error.empty(), c.error) << o.error;
    if (c.error) continue;
    EXPECT_EQ(o.file, fs::path(c.file));
    EXPECT_EQ(o.simulate, c.simulate);
  }
}

TEST(TerminalReporter, StatusLinesOnOutputAndABarOnlyOnATerminal) {
  std::ostringstream out, err, plainErr;
  TerminalReporter bar(out, err, true);
  bar.SetProgressRange(4);
  bar.SetProgressPosition(2);
  bar.SetProgressPosition(2);  // unchanged: not drawn again
  bar.SetStatusText("正在寫入資料庫...");
  bar.ShowMessage("Can't find code_data.bin");
  EXPECT_EQ(out.str(), "正在寫入資料庫...\n");
  EXPECT_EQ(err.str(), "\r[" + std::string(0, '#') + std::string(40, ' ') + "] 0%" +
                           "\r[" + std::string(20, '#') + std::string(20, ' ') + "] 50%" +
                           "\r\033[K" + "Can't find code_data.bin\n");

  std::ostringstream out2;
  TerminalReporter plain(out2, plainErr, false);
  plain.SetProgressRange(4);
  plain.SetProgressPosition(9);
  EXPECT_EQ(plainErr.str(), "");
}

// Runs the built program in `dir` and returns its exit status; its output
// lands in dir/out and dir/err.
int RunCli(const fs::path& dir, const std::string& args) {
  const std::string command = "cd '" + dir.string() + "' && XDG_RUNTIME_DIR='" + dir.string() +
                              "' '" GPS_CLI_PATH "' " + args + " >out 2>err";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const fs::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("gps-cli-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void WriteImage(std::size_t size) {
    std::ofstream(dir_ / "code_data.bin", std::ios::binary) << std::string(size, 'x');
  }
  fs::path dir_;
};

TEST_F(CliProgram, UpdatesTheSimulatedDevice) {
  WriteImage(5000);
  EXPECT_EQ(RunCli(dir_, "--simulate"), kExitSuccess) << Slurp(dir_ / "err");
  EXPECT_EQ(Slurp(dir_ / "out"),
            "正在清除...\n正在寫入資料庫...\n資料庫寫入成功!\n正在寫入資料庫...\n更新成功!\n");
}

TEST_F(CliProgram, ExitStatusesOfTheFailingStages) {
  EXPECT_EQ(RunCli(dir_, "--simulate"), kExitFile);
  EXPECT_EQ(Slurp(dir_ / "err").rfind("Can't find code_data.bin\n", 0), 0u);

  // This machine has no such device on its USB bus.
  WriteImage(100);
  EXPECT_EQ(RunCli(dir_, ""), kExitErase);
  EXPECT_EQ(Slurp(dir_ / "out"), std::string(text::kDeviceConnectFailed) + "\n" +
                                     std::string(text::kEraseFlashFailed) + "\n");

  EXPECT_EQ(RunCli(dir_, "--no-such-option"), kExitUsage);
  EXPECT_EQ(RunCli(dir_, "--help"), kExitSuccess);
  EXPECT_NE(Slurp(dir_ / "out").find("Exit status:"), std::string::npos);
}

TEST_F(CliProgram, ASecondCopyIsRefused) {
  WriteImage(100);
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  const auto guard = InstanceGuard::Acquire();
  ASSERT_EQ(guard->state(), InstanceGuard::State::Held);
  EXPECT_EQ(RunCli(dir_, "--simulate"), kExitAlreadyRunning);
  EXPECT_EQ(Slurp(dir_ / "err"), std::string(text::kSoftwareInUse) + "\n");
  EXPECT_EQ(Slurp(dir_ / "out"), "");
}

}  // namespace
}  // namespace gps
