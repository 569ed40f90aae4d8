// gps-update-cli as a process, started from its built file: what main.cc adds
// around RunCli (signals, closed streams, the lock, the output queue) and the
// program as scripts and terminals see it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <utility>
#include <vector>
#include <string>

#include "protocol/messages.h"
#include "tests/json_object.h"
#include "tests/temp_folder.h"
#include "ui/common/guidance_texts.h"
#include "ui/cli/cli_options.h"
#include "ui/common/instance_guard.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

// Runs the built program in `dir` and returns its exit status; its output
// lands in dir/out and dir/err.
int RunCli(const fs::path& dir, const std::string& args) {
  const std::string command = "cd '" + dir.string() + "' && GPS_UPDATE_LOCK_PARENT='" +
                              dir.string() + "' '" GPS_CLI_PATH "' " + args + " >out 2>err";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const fs::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The demo's closing check of the simulated flash, for an image of `pages`
// whole or partial pages.
std::string FlashMatches(int pages) {
  return "[simulated device] flash at 0xa000: " + std::to_string(pages) + " of " +
         std::to_string(pages) + " page(s) match the image; header page at 0x8000 matches\n";
}

// Reads from `fd` until `until` has come or the stream ends; every wait is
// bounded.
std::string ReadUntil(int fd, const std::string& until) {
  std::string got;
  pollfd p{fd, POLLIN, 0};
  char buffer[256];
  while (got.find(until) == std::string::npos && poll(&p, 1, 10000) > 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// The exit status of `child`, waited for at most a minute; -1 when it was
// ended by a signal (or did not end).
int ExitStatusOf(pid_t child) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    const int ready = poll(&p, 1, 60000);
    close(pidfd);
    if (ready <= 0) kill(child, SIGKILL);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CliProgram : public ::testing::Test {
 protected:
  // The lock goes into the folder too: only its owner may write to it.
  void WriteImage(std::size_t size) {
    std::ofstream(dir_ / "code_data.bin", std::ios::binary) << std::string(size, 'x');
  }
  // Where the program's single-instance lock lands, under the test's folder.
  fs::path LockFile() const {
    return dir_ / ("gps-update-" + std::to_string(geteuid())) / kInstanceGuardName;
  }
  test::TempFolder folder_{"cli-process"};
  const fs::path dir_ = folder_.path();
};

TEST_F(CliProgram, UpdatesTheSimulatedDevice) {
  WriteImage(5000);
  EXPECT_EQ(RunCli(dir_, "--simulate"), kExitSuccess) << Slurp(dir_ / "err");
  EXPECT_EQ(Slurp(dir_ / "out"),
            "正在清除...\n正在寫入資料庫...\n資料庫寫入成功!\n正在寫入資料庫...\n更新成功!\n");
  // The demo checks the simulated flash against the image: 5000 bytes are
  // 20 pages, the last one padded with zeros.
  EXPECT_NE(Slurp(dir_ / "err").find(FlashMatches(20)), std::string::npos)
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

// Starts the built program in `dir` with `args`, its standard output into a
// pipe whose reading end `out` is, its standard error into dir/err.
pid_t StartCli(const fs::path& dir, const std::string& args, int& out) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  const std::string command = "cd '" + dir.string() + "' && GPS_UPDATE_LOCK_PARENT='" + dir.string() +
                              "' exec '" GPS_CLI_PATH "' " + args + " 2>err";
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  out = pipeEnds[0];
  return child;
}

// Ctrl+C while the program waits for the device ends the wait at once, with
// its own text and status, instead of killing the program.
TEST_F(CliProgram, AnInterruptEndsTheWait) {
  WriteImage(100);
  int output = -1;
  const pid_t child = StartCli(dir_, "--wait=60", output);
  ASSERT_GE(child, 0);
  std::string out = ReadUntil(output, std::string(cli_text::kWaitingForDevice) + "\n");
  kill(child, SIGINT);
  out += ReadUntil(output, std::string(cli_text::kWaitInterrupted) + "\n");
  close(output);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kExitInterrupted) << Slurp(dir_ / "err");
  EXPECT_EQ(out, std::string(cli_text::kWaitingForDevice) + "\n" +
                     std::string(cli_text::kWaitInterrupted) + "\n");
}

// A station ended by the operator's Ctrl+C (a real SIGINT): the running jobs
// finish, the table comes, and the status is 0.
TEST_F(CliProgram, AStationEndsWithItsTableOnCtrlC) {
  WriteImage(3000);
  int out = -1;
  const pid_t child = StartCli(dir_, "--station --simulate=2", out);
  ASSERT_GT(child, 0);
  std::string seen = ReadUntil(out, "SIM-02: 正在清除...\n");
  kill(child, SIGINT);
  seen += ReadUntil(out, "all updated.\n");
  close(out);
  EXPECT_EQ(ExitStatusOf(child), kExitSuccess) << Slurp(dir_ / "err");
  EXPECT_NE(seen.find("Station: 2 jobs, all updated.\n"), std::string::npos) << seen;
  std::ifstream record(dir_ / "gps-update-record.jsonl");
  int lines = 0;
  for (std::string line; std::getline(record, line);) ++lines;
  EXPECT_EQ(lines, 2);
}

// Killed outright during a job, the station leaves a record whose every
// line is whole: each went out in one write.
TEST_F(CliProgram, AStationKilledMidJobLeavesEveryEarlierLineWhole) {
  WriteImage(3000);
  int out = -1;
  const pid_t child = StartCli(dir_, "--station --simulate=3 --record rec.jsonl", out);
  ASSERT_GT(child, 0);
  // The first job's line is written before its count is shown; the slower
  // devices' jobs still run.
  const std::string seen = ReadUntil(out, "Station: 1 updated");
  kill(child, SIGKILL);
  close(out);
  EXPECT_EQ(ExitStatusOf(child), -1);
  ASSERT_NE(seen.find("Station: 1 updated"), std::string::npos) << seen << Slurp(dir_ / "err");
  std::ifstream record(dir_ / "rec.jsonl", std::ios::binary);
  int lines = 0;
  for (std::string line; std::getline(record, line); ++lines)
    EXPECT_TRUE(test::JsonObjectReader::Parse(line)) << line;
  EXPECT_GE(lines, 1);
  EXPECT_LE(lines, 3);
}

// A reader that goes away after the first line (`| head -1`) is no reason
// to stop: the update goes on to the restart, and its status tells the
// outcome.
TEST_F(CliProgram, PipedIntoHeadTheUpdateFinishes) {
  WriteImage(5000);
  const std::string command = "cd '" + dir_.string() + "' && (GPS_UPDATE_LOCK_PARENT='" +
                              dir_.string() + "' '" GPS_CLI_PATH
                              "' --simulate 2>err; echo $? >status) | head -1 >out";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Slurp(dir_ / "status"), "0\n") << Slurp(dir_ / "err");
  EXPECT_EQ(Slurp(dir_ / "out"), std::string(text::kErasing) + "\n");
  const std::string err = Slurp(dir_ / "err");
  EXPECT_NE(err.find(", 1 restart(s),"), std::string::npos) << err;
  EXPECT_NE(err.find(FlashMatches(20)), std::string::npos) << err;
}

// The terminal goes away during the erase (the window or the SSH session
// closed): the hangup does not stop the update.
TEST_F(CliProgram, AHungUpTerminalDoesNotStopTheUpdate) {
  WriteImage(5000);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  const std::string err = (dir_ / "err").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A session of its own whose controlling terminal is the pty, as a
    // shell in a terminal window gives it.
    close(master);  // the hangup comes only once no one holds it
    setsid();
    const int tty = open(terminal.c_str(), O_RDWR);
    const int errors = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (tty < 0 || errors < 0 || chdir(dir_.c_str()) != 0) _exit(127);
    dup2(tty, STDIN_FILENO);
    dup2(tty, STDOUT_FILENO);
    dup2(errors, STDERR_FILENO);
    setenv("GPS_UPDATE_LOCK_PARENT", dir_.c_str(), 1);
    execl(GPS_CLI_PATH, GPS_CLI_PATH, "--simulate", static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string seen = ReadUntil(master, std::string(text::kErasing));
  close(master);  // the hangup: SIGHUP to the session, EIO for its writes
  EXPECT_NE(seen.find(text::kErasing), std::string::npos) << seen;
  EXPECT_EQ(ExitStatusOf(child), kExitSuccess) << Slurp(err);
  EXPECT_NE(Slurp(err).find(", 1 restart(s),"), std::string::npos) << Slurp(err);
  EXPECT_NE(Slurp(err).find(FlashMatches(20)), std::string::npos) << Slurp(err);
}

// Started with standard streams closed, the program must not let the lock
// file take their numbers: its status lines would be written into it.
TEST_F(CliProgram, ClosedStandardStreamsAreNeverTakenByTheLock) {
  WriteImage(5000);
  for (const char* redirections : {">&- 2>err", "<&- >&- 2>&-"}) {
    SCOPED_TRACE(redirections);
    const std::string command = "cd '" + dir_.string() + "' && GPS_UPDATE_LOCK_PARENT='" +
                                dir_.string() + "' '" GPS_CLI_PATH "' --simulate " +
                                redirections;
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, kExitSuccess);
    EXPECT_EQ(fs::file_size(LockFile()), 0u);
  }
  EXPECT_NE(Slurp(dir_ / "err").find(FlashMatches(20)), std::string::npos);
}

TEST_F(CliProgram, OutputThatCannotBeWrittenFailsWhereTheOutputIsTheJob) {
  for (const char* args : {"--help", "--version", "--list --simulate"}) {
    SCOPED_TRACE(args);
    const std::string command = "cd '" + dir_.string() + "' && '" GPS_CLI_PATH "' " +
                                args + " >/dev/full 2>err";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, kExitOutputFailed);
    EXPECT_EQ(Slurp(dir_ / "err"), "gps-update-cli: the output could not be written\n");
  }
}

// Refused before the device is looked for: with no device on this
// machine's bus, any other answer would be the missing device's.
TEST_F(CliProgram, AnEmptyFileIsRefusedBeforeAnythingIsSent) {
  WriteImage(0);
  EXPECT_EQ(RunCli(dir_, ""), kExitFileEmpty);
  EXPECT_EQ(Slurp(dir_ / "out"), "");
  EXPECT_EQ(Slurp(dir_ / "err"), std::string(text::kFileEmptyPrefix) + "code_data.bin" +
                                     std::string(text::kFileEmptySuffix) + "\n");
}

// The lock cannot be made where it belongs: no update, a text that is not
// "another copy runs", the place and cause on a line of its own.
TEST_F(CliProgram, NoUpdateWithoutALock) {
  WriteImage(5000);
  fs::create_directories(LockFile());
  EXPECT_EQ(RunCli(dir_, "--simulate"), kExitNoLock);
  EXPECT_EQ(Slurp(dir_ / "out"), "");
  EXPECT_EQ(Slurp(dir_ / "err"), std::string(text::kInstanceLockFailed) + "\ngps-update-cli: " +
                                     LockFile().string() +
                                     ": Is a directory\n");
}

// The largest image fills the flash to its last byte, and nothing is sent
// past it: the flash check counts every page and finds no stray page.
TEST_F(CliProgram, TheSimulatedFlashIsCheckedAgainstTheImageSent) {
  WriteImage(0xFF6000);
  EXPECT_EQ(RunCli(dir_, "--simulate"), kExitSuccess);
  const std::string err = Slurp(dir_ / "err");
  EXPECT_NE(err.find(FlashMatches(0xFF6000 / 256)), std::string::npos) << err;
  EXPECT_EQ(err.find("past the end"), std::string::npos) << err;
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

// However the second copy was started (a desktop session's runtime
// directory, another one, none at all, as from cron or sudo -u), it meets
// the first and sends nothing.
TEST_F(CliProgram, ASecondCopyIsRefused) {
  WriteImage(100);
  setenv("GPS_UPDATE_LOCK_PARENT", dir_.c_str(), 1);
  const auto guard = InstanceGuard::Acquire();
  ASSERT_EQ(guard->state(), InstanceGuard::State::Held);
  fs::create_directory(dir_ / "runtime");
  for (const std::string runtime : {"", "XDG_RUNTIME_DIR=runtime ", "XDG_RUNTIME_DIR= "}) {
    SCOPED_TRACE(runtime);
    const std::string command = "cd '" + dir_.string() + "' && unset XDG_RUNTIME_DIR; " +
                                runtime + "'" GPS_CLI_PATH "' --simulate >out 2>err";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, kExitAlreadyRunning);
    EXPECT_EQ(Slurp(dir_ / "err"), std::string(text::kSoftwareInUse) + "\n");
    EXPECT_EQ(Slurp(dir_ / "out"), "");
  }
}

}  // namespace
}  // namespace gps

namespace gps {
namespace {

class CliOutput : public ::testing::Test {
 protected:
  void WriteImage(std::size_t size) {
    std::ofstream(dir_ / "code_data.bin", std::ios::binary) << std::string(size, 'x');
  }
  // Starts the program in the folder with `args`, standard output and error
  // into one pipe; returns its read end.
  int Start(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    child_ = fork();
    if (child_ == 0) {
      dup2(ends[1], STDOUT_FILENO);
      dup2(ends[1], STDERR_FILENO);
      close(ends[0]);
      close(ends[1]);
      if (chdir(dir_.c_str()) != 0) _exit(127);
      setenv("GPS_UPDATE_LOCK_PARENT", dir_.c_str(), 1);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> argv{const_cast<char*>(GPS_CLI_PATH)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(GPS_CLI_PATH, argv.data());
      _exit(127);
    }
    close(ends[1]);
    return ends[0];
  }
  // Everything until the program closes its end.
  static std::string ReadAll(int fd) {
    std::string got = ReadUntil(fd, std::string("\x01never"));
    close(fd);
    return got;
  }
  // When, in seconds after the program began, the trace's first and last
  // reports went out; -1 without one.
  static std::pair<double, double> ReportsAt(const std::string& output) {
    const std::regex line(R"(\[ *(\d+\.\d{6})\] out )");
    std::pair<double, double> at{-1, -1};
    for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it) {
      at.second = std::stod((*it)[1]);
      if (at.first < 0) at.first = at.second;
    }
    return at;
  }

  test::TempFolder folder_{"cli-output"};
  const fs::path dir_ = folder_.path();
  pid_t child_ = -1;
};

// A reader that stops reading (`| less` waiting for a key, Ctrl+S) holds up
// nothing but itself: with the trace on, far more than a pipe holds, the
// update runs at its own pace, and nothing is lost once the reader reads.
TEST_F(CliOutput, AStalledReaderDoesNotHoldTheUpdate) {
  WriteImage(100000);  // its trace fills a pipe five times over
  const int fd = Start({"--simulate", "--trace"});
  // The reader looks away for six seconds: this is the condition under
  // test, not a wait for a result. Held up by its output, the update could
  // send nothing after the first pipeful until then.
  constexpr double kStall = 6.0;
  pollfd p{fd, POLLHUP, 0};
  poll(&p, 1, static_cast<int>(kStall * 1000));
  const std::string output = ReadAll(fd);
  const std::string tail = output.substr(output.size() - std::min<std::size_t>(output.size(), 600));
  EXPECT_EQ(ExitStatusOf(child_), kExitSuccess) << tail;
  // The restart, the last report, went out while no one read.
  const double last = ReportsAt(output).second;
  EXPECT_GT(last, 0) << tail;
  EXPECT_LT(last, kStall) << tail;
  EXPECT_NE(output.find(FlashMatches(391)), std::string::npos) << tail;
  EXPECT_NE(output.find("更新成功!\n"), std::string::npos);
  EXPECT_EQ(output.find("dropped"), std::string::npos);  // the whole trace fitted
}

// A system bus that takes the connection and never says a word: the hold
// that keeps the system awake is given up on, the update is not held.
TEST_F(CliOutput, ASilentSystemBusDoesNotHoldTheUpdate) {
  WriteImage(5000);
  const std::string socketPath = (dir_ / "silent-bus").string();
  const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  std::snprintf(where.sun_path, sizeof where.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
  ASSERT_EQ(listen(server, 8), 0);  // connections wait in the backlog, unanswered
  const std::string bus = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + socketPath;
  const int fd = Start({"--simulate", "--trace"}, {bus});
  const std::string output = ReadAll(fd);
  EXPECT_EQ(ExitStatusOf(child_), kExitSuccess) << output.substr(0, 600);
  EXPECT_GE(ReportsAt(output).first, 0);
  EXPECT_LT(ReportsAt(output).first, 1.0);  // the first report went out at once
  EXPECT_NE(output.find(FlashMatches(20)), std::string::npos);
  close(server);
}

}  // namespace
}  // namespace gps
