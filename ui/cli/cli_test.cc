#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "protocol/messages.h"
#include "ui/cli/cli_options.h"
#include "ui/common/instance_guard.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

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
  // The demo checks the simulated flash against the file: 5000 bytes are
  // 20 pages, the last one padded with zeros.
  EXPECT_NE(Slurp(dir_ / "err").find("20 of 20 page(s) match the image; header page at 0x8000 "
                                     "matches\n"),
            std::string::npos)
      << Slurp(dir_ / "err");
}

TEST_F(CliProgram, ExitStatusesOfTheFailingStages) {
  EXPECT_EQ(RunCli(dir_, "--simulate"), kExitFile);
  EXPECT_EQ(Slurp(dir_ / "err").rfind("Can't find code_data.bin\n", 0), 0u);

  // This machine has no such device on its USB bus.
  WriteImage(100);
  EXPECT_EQ(RunCli(dir_, ""), kExitNoDevice);
  EXPECT_EQ(Slurp(dir_ / "out"), std::string(text::kDeviceConnectFailed) + "\n");

  EXPECT_EQ(RunCli(dir_, "--list"), kExitNoDevice);
  EXPECT_EQ(Slurp(dir_ / "err"), std::string(text::kDeviceConnectFailed) + "\n");
  EXPECT_EQ(RunCli(dir_, "--list --simulate"), kExitSuccess);
  EXPECT_EQ(Slurp(dir_ / "out"), "sim:0416:b500\n");

  EXPECT_EQ(RunCli(dir_, "--no-such-option"), kExitUsage);
  EXPECT_EQ(RunCli(dir_, "--help"), kExitSuccess);
  EXPECT_EQ(Slurp(dir_ / "out"), HelpText());
}

// Ctrl+C while the program waits for the device ends the wait at once, with
// its own text and status, instead of killing the program.
TEST_F(CliProgram, AnInterruptEndsTheWait) {
  WriteImage(100);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const std::string command = "cd '" + dir_.string() + "' && XDG_RUNTIME_DIR='" +
                              dir_.string() + "' exec '" GPS_CLI_PATH "' --wait=60 2>err";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  // Reads what the program prints until `until` shows or the pipe closes;
  // every read is bounded.
  std::string out;
  auto readUntil = [&](const std::string& until) {
    pollfd p{pipeEnds[0], POLLIN, 0};
    char buffer[256];
    while (out.find(until) == std::string::npos && poll(&p, 1, 10000) > 0) {
      const ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
  };
  readUntil(std::string(cli_text::kWaitingForDevice) + "\n");
  kill(child, SIGINT);
  readUntil(std::string(cli_text::kWaitInterrupted) + "\n");
  close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kExitInterrupted) << Slurp(dir_ / "err");
  EXPECT_EQ(out, std::string(cli_text::kWaitingForDevice) + "\n" +
                     std::string(cli_text::kWaitInterrupted) + "\n");
}

// The README's table of exit statuses is the one the program has.
TEST(CliDocumentation, TheReadmeTableMatchesTheProgram) {
  std::vector<std::string> expected;
  for (const ExitStatusRow& row : ExitStatusTable())
    expected.push_back("| " + std::to_string(row.status) + " | " + row.meaning + " |" +
                       (row.text.empty() ? "" : " " + row.text) + " |");
  std::vector<std::string> found;
  std::ifstream readme(GPS_SOURCE_DIR "/README.md");
  ASSERT_TRUE(readme);
  const std::regex statusRow(R"(\| \d+ \|.*)");
  for (std::string line; std::getline(readme, line);)
    if (std::regex_match(line, statusRow)) found.push_back(line);
  EXPECT_EQ(found, expected);
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
