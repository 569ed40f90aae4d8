// The command-line program run in-process on the simulated bus. Nothing here
// needs POSIX, so these tests also run in the Windows build.
#include "ui/cli/cli_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "hid/shown_text.h"
#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "protocol/sha256.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"
#include "ui/cli/terminal_reporter.h"
#include "ui/cli/text_width.h"
#include "ui/common/failure_advice.h"
#include "ui/common/fill_in.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (std::string_view line : lines) out += std::string(line) + "\n";
  return out;
}

const std::string kUpdateLines = Lines({text::kErasing, text::kWritingDatabase,
                                        text::kDatabaseWritten, text::kWritingDatabase,
                                        text::kUpdateSucceeded});

// Passes everything on to the simulated bus and signals each time the
// program has looked at the bus, so that a test can change the bus between
// two looks without sleeping.
class WatchedBus : public ForwardingBackend {
 public:
  explicit WatchedBus(SimBus& bus) : ForwardingBackend(bus) {}
  StopEvent looked;       // the program has enumerated the bus
  StopEvent lookedAgain;  // it has done so a second time: the first look is over

  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths = ForwardingBackend::EnumerateInterfaces();
    (looked.IsSet() ? lookedAgain : looked).Set();
    return paths;
  }
};

// The program on a simulated device, with an image file of its own.
class CliRun : public ::testing::Test {
 protected:
  void SetUp() override { folder_.Write("code_data.bin", std::string(300, 'x')); }

  int Run(const std::vector<std::string>& args, HidBackend* backend = nullptr) {
    CliOptions options = ParseCliOptions(args);
    if (!options.fileGiven) options.file = dir_ / "code_data.bin";
    return RunOptions(options, backend);
  }
  int RunOptions(const CliOptions& options, HidBackend* backend = nullptr) {
    CliContext context(out, err);
    context.backend = backend ? backend : &watched;
    context.interrupt = &interrupt;
    context.bounds = test::ShortBounds();
    context.pollInterval = milliseconds(10);
    context.settleTime = settleTime;
    context.now = now;
    context.interrupted = interrupted;
    context.keepAwake = keepAwake;
    return RunCli(options, context);
  }
  // Runs `change` on a thread of its own once the program has looked at the
  // bus for the first (or second) time.
  // Standard error without the image's checksum line, which comes before
  // every update.
  std::string Errors() const {
    std::string kept;
    for (const std::string& line : SplitLines(err.str()))
      if (line.rfind("SHA-256 of ", 0) != 0) kept += line + "\n";
    return kept;
  }
  static std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::thread AfterFirstLook(std::function<void()> change) {
    return std::thread([this, change] {
      if (watched.looked.WaitFor(10000)) change();
    });
  }
  std::thread AfterSecondLook(std::function<void()> change) {
    return std::thread([this, change] {
      if (watched.lookedAgain.WaitFor(10000)) change();
    });
  }

  test::TempFolder folder_{"cli"};
  const fs::path dir_ = folder_.path();
  SimDevice device;
  SimBus bus{device};
  WatchedBus watched{bus};
  StopEvent interrupt;
  milliseconds settleTime{100};
  std::function<std::chrono::steady_clock::time_point()> now;
  std::function<bool()> interrupted;
  std::function<std::unique_ptr<SleepInhibitor>()> keepAwake;
  std::ostringstream out, err;
};

// A clock that moves on by `step` each time it is read.
std::function<std::chrono::steady_clock::time_point()> SteppingClock(milliseconds step) {
  auto time = std::make_shared<std::chrono::steady_clock::time_point>();
  return [time, step] { return *time += step; };
}

TEST_F(CliRun, TheProbeDecidesWhetherTheUpdateRuns) {
  struct Case {
    const char* name;
    bool plugged;
    bool refuseRead;
    HidOpenError refusal;
    uint32_t outputLength;  // of the device's reports; 65 for this firmware
    int status;
    std::string out;
  };
  const Case cases[] = {
      {"present", true, false, HidOpenError::None, 65, kExitSuccess, kUpdateLines},
      // No device: said at once, with a status of its own, not the erase's.
      {"absent", false, false, HidOpenError::None, 65, kExitNoDevice,
       Lines({text::kDeviceConnectFailed})},
      {"no permission", true, true, HidOpenError::AccessDenied, 65, kExitNoPermission,
       Lines({text::kDeviceNoPermission})},
      // Only the write handle is refused: the probe still sees it.
      {"held by another program", true, false, HidOpenError::Busy, 65, kExitBusy,
       Lines({text::kDeviceBusy})},
      {"would not open", true, true, HidOpenError::Other, 65, kExitCannotOpen,
       Lines({text::kDeviceCannotOpen})},
      {"another firmware", true, false, HidOpenError::None, 33, kExitWrongFirmware,
       Lines({text::kDeviceWrongFirmware})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimConfig config;
    config.reportLengths.output = c.outputLength;
    SimDevice dev(config);
    SimBus one(dev);
    if (!c.plugged) dev.Unplug();
    if (c.refusal != HidOpenError::None) {
      SimFaults f;
      f.refuseReadOpen = c.refuseRead;
      f.refuseWriteOpen = true;
      f.refusal = c.refusal;
      dev.SetFaults(f);
    }
    out.str("");
    EXPECT_EQ(Run({}, &one), c.status) << err.str();
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(dev.OutputReportCount() > 0, c.status == kExitSuccess);
    EXPECT_EQ(one.OpenHandles(), 0u);
  }
}

TEST_F(CliRun, AMissingFileIsReportedWithoutLookingForTheDevice) {
  device.Unplug();
  EXPECT_EQ(Run({"--wait", (dir_ / "nothing.bin").string()}), kExitFile);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "Can't find nothing.bin\n");
}

TEST_F(CliRun, WaitsForADeviceThatArrivesLate) {
  device.Unplug();
  std::thread plug = AfterFirstLook([this] { device.Plug(); });
  EXPECT_EQ(Run({"--wait=10"}), kExitSuccess) << err.str();
  plug.join();
  EXPECT_EQ(out.str(), Lines({cli_text::kWaitingForDevice, text::kDeviceConnected}) + kUpdateLines);
  EXPECT_EQ(device.Restarts(), 1);
}

TEST_F(CliRun, AWaitEndsWhenItsTimeRunsOut) {
  device.Unplug();
  CliOptions options;
  options.file = dir_ / "code_data.bin";
  options.wait = milliseconds(60);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunOptions(options), kExitWaitTimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(60));
  EXPECT_EQ(out.str(), Lines({cli_text::kWaitingForDevice, cli_text::kWaitTimedOut}));
  EXPECT_EQ(device.OutputReportCount(), 0u);
}

TEST_F(CliRun, AnInterruptCutsTheWaitShort) {
  device.Unplug();
  std::thread stop = AfterFirstLook([this] { interrupt.Set(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({"--wait=60"}), kExitInterrupted);
  stop.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(out.str(), Lines({cli_text::kWaitingForDevice, cli_text::kWaitInterrupted}));
}

// udev applies its rules a moment after the device node appears: a device
// that arrives without permission may still become usable.
TEST_F(CliRun, WhileWaitingAnUnusableDeviceGetsTimeToSettle) {
  SimFaults refused;
  refused.refuseReadOpen = refused.refuseWriteOpen = true;
  refused.refusal = HidOpenError::AccessDenied;

  // The first look finds it refused; the rule applies while the program
  // waits, well within the settle time.
  device.SetFaults(refused);
  settleTime = milliseconds(10000);
  std::thread fix = AfterSecondLook([this] { device.SetFaults({}); });
  EXPECT_EQ(Run({"--wait=60"}), kExitSuccess) << out.str();
  fix.join();
  EXPECT_EQ(out.str(), Lines({text::kDeviceConnected}) + kUpdateLines);

  // It stays refused: the cause is told after the settle time, not at the
  // end of the whole wait.
  SimDevice stuck;
  stuck.SetFaults(refused);
  SimBus stuckBus(stuck);
  settleTime = milliseconds(100);
  out.str("");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({"--wait=60"}, &stuckBus), kExitNoPermission);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(out.str(), Lines({text::kDeviceNoPermission}));
  EXPECT_EQ(stuck.OutputReportCount(), 0u);
}

TEST_F(CliRun, ListsEveryMatchingDeviceAndSkipsTheRest) {
  SimDevice a, b, gone, d;
  gone.Unplug();
  SimBus many;
  many.AddInterface({"sim:keyboard", 0x046D, 0xC31C, true, nullptr, "K1"});
  many.AddInterface({"sim:a", HID_VENDOR_ID, HID_PRODUCT_ID, true, &a, "A-0001"});
  many.AddInterface({"sim:other-product", HID_VENDOR_ID, 0x1234, true, nullptr, ""});
  many.AddDevice(b, "sim:b");
  many.AddInterface({"sim:unqueryable", HID_VENDOR_ID, HID_PRODUCT_ID, false, nullptr, ""});
  many.AddInterface({"sim:other-vendor", 0x1234, HID_PRODUCT_ID, true, nullptr, ""});
  many.AddDevice(gone, "sim:gone");
  many.AddInterface({"sim:d", HID_VENDOR_ID, HID_PRODUCT_ID, true, &d, "D-0004"});

  // A serial number is asked of the matches only: any other device, however
  // slow to answer, is not asked at all.
  struct SerialsWatched : ForwardingBackend {
    using ForwardingBackend::ForwardingBackend;
    std::vector<std::string> asked;
    std::string QuerySerial(const std::string& path) override {
      asked.push_back(path);
      return ForwardingBackend::QuerySerial(path);
    }
  } watchedMany(many);

  EXPECT_EQ(Run({"--list"}, &watchedMany), kExitSuccess);
  EXPECT_EQ(out.str(), "sim:a\tA-0001\nsim:b\nsim:d\tD-0004\n");
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(many.OpenHandles(), 0u);
  EXPECT_EQ(watchedMany.asked, (std::vector<std::string>{"sim:a", "sim:b", "sim:d"}));

  SimBus empty;
  empty.AddInterface({"sim:keyboard", 0x046D, 0xC31C, true, nullptr, ""});
  out.str("");
  EXPECT_EQ(Run({"--list"}, &empty), kExitNoDevice);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), std::string(text::kDeviceConnectFailed) + "\n");
}

// In a log the job is seen moving: a line at each step and every 10 %, the
// time left once it can be told, and at the end the time the update took.
TEST_F(CliRun, ALogShowsTheJobMovingAndTheTimeItTook) {
  std::ofstream(dir_ / "code_data.bin", std::ios::binary) << std::string(70000, 'x');
  struct Case {
    milliseconds tick;  // of the clock, at each reading
    const char* endLine;
  };
  const Case cases[] = {
      {milliseconds(1), R"(更新完成，共用時 \d 秒)"},
      // Slow enough for the time left to be told.
      {milliseconds(200), R"(更新完成，共用時 \d+ 分 \d\d 秒)"},
  };
  for (const Case& c : cases) {
    now = SteppingClock(c.tick);
    err.str("");
    ASSERT_EQ(Run({}), kExitSuccess) << err.str();
    std::vector<std::string> lines = SplitLines(Errors());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(c.endLine))) << lines.back();
    lines.pop_back();
    // 18 sectors and 274 pages: the erase is a ninth of the job.
    const char* steps[] = {"步驟 1/2 清除中 0%",  "步驟 1/2 清除中 11%", "步驟 2/2 寫入中 11%",
                           "步驟 2/2 寫入中 20%", "步驟 2/2 寫入中 30%", "步驟 2/2 寫入中 40%",
                           "步驟 2/2 寫入中 50%", "步驟 2/2 寫入中 60%", "步驟 2/2 寫入中 70%",
                           "步驟 2/2 寫入中 80%", "步驟 2/2 寫入中 90%"};
    ASSERT_EQ(lines.size(), std::size(steps)) << err.str();
    bool timeLeft = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind(steps[i], 0), 0u) << lines[i];
      timeLeft = timeLeft || lines[i].find("，剩餘約 ") != std::string::npos;
    }
    EXPECT_EQ(timeLeft, c.tick > milliseconds(1)) << err.str();
  }
}

// A failure halfway says what it means for the device and what to do; a
// stop the user asked for says so instead of leaving the stage's text last.
TEST_F(CliRun, AJobThatEndsHalfwayTellsWhatToDo) {
  std::ofstream(dir_ / "code_data.bin", std::ios::binary) << std::string(70000, 'x');
  // Stops the job at the 600th output report, halfway through the pages.
  class StopAt : public ForwardingBackend {
   public:
    StopAt(HidBackend& inner, StopEvent& stop) : ForwardingBackend(inner), stop_(stop) {}
    TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                            uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
      if (direction == HidDirection::Write && ++writes_ == 600) stop_.Set();
      return ForwardingBackend::Transfer(handle, direction, buffer, length, boundMs, stop);
    }

   private:
    StopEvent& stop_;
    int writes_ = 0;
  };
  const std::string advice = FillIn(text::kAdviceIncomplete, {{"%again%", text::kAgainCommandLine}});
  for (bool userStop : {false, true}) {
    SCOPED_TRACE(userStop ? "stopped by the user" : "unplugged");
    SimDevice dev;
    SimBus one(dev);
    StopAt stopping(one, interrupt);
    if (!userStop) {
      SimFaults f;
      f.unplugAfterReports = 600;
      dev.SetFaults(f);
    }
    interrupted = [userStop] { return userStop; };
    out.str("");
    err.str("");
    EXPECT_EQ(Run({}, userStop ? static_cast<HidBackend*>(&stopping) : &one), kExitWrite);
    std::string expected = Lines({text::kErasing, text::kWritingDatabase,
                                  userStop ? text::kWriteDataError : text::kWriteDataError,
                                  text::kDatabaseWriteFailed});
    if (userStop) expected += Lines({text::kUpdateStopped});
    EXPECT_EQ(out.str(), expected);
    const std::vector<std::string> lines = SplitLines(Errors());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.back(),
                                 std::regex(R"(更新停止於步驟 2/2 寫入中 [5-6]\d%，共用時 \d+ 秒)")))
        << lines.back();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), advice), userStop ? 0 : 1) << err.str();
  }

  // The erase command never went out: nothing reached the device, and the
  // advice says so.
  interrupted = nullptr;
  SimFaults refuseErase;
  refuseErase.failWriteAt = 1;
  device.SetFaults(refuseErase);
  err.str("");
  EXPECT_EQ(Run({}), kExitErase);
  EXPECT_EQ(Errors(), FillIn(text::kAdviceUnchanged, {{"%again%", text::kAgainCommandLine}}) + "\n");
}

TEST_F(CliRun, AFileTooLargeIsRefusedWithItsSizeAndTheLimit) {
  fs::resize_file(dir_ / "code_data.bin", MAX_DATABASE_SIZE + 4096ull);
  EXPECT_EQ(Run({}), kExitSize);
  EXPECT_EQ(out.str(), Lines({text::kTooMuchData}));
  EXPECT_EQ(err.str(), TooLargeText("code_data.bin", MAX_DATABASE_SIZE + 4096ull) + "\n");
  EXPECT_NE(err.str().find("16,740,352 位元組，超過設備可容納的 16,736,256 位元組"),
            std::string::npos);
  EXPECT_EQ(device.OutputReportCount(), 0u);
}

// A browser's second download is pointed out; the command line still does
// only what it was told.
TEST_F(CliRun, ANewerDownloadIsPointedOutNeverTaken) {
  std::ofstream(dir_ / "code_data (1).bin", std::ios::binary) << std::string(500, 'y');
  const auto old = fs::last_write_time(dir_ / "code_data (1).bin") - std::chrono::hours(1);
  fs::last_write_time(dir_ / "code_data.bin", old);
  EXPECT_EQ(Run({}), kExitSuccess);
  EXPECT_EQ(SplitLines(err.str()).front(),
            "注意: 這個資料夾中有比 code_data.bin 更新的下載檔 code_data (1).bin；"
            "要用它更新，請把檔名加在命令後面。");
  EXPECT_EQ(device.ReadFlash(DATABASE_ADDRESS, 300), std::vector<uint8_t>(300, 'x'));

  fs::remove(dir_ / "code_data.bin");
  err.str("");
  EXPECT_EQ(Run({}), kExitFile);
  const std::vector<std::string> lines = SplitLines(err.str());
  ASSERT_EQ(lines.size(), 2u) << err.str();
  EXPECT_EQ(lines[0], "Can't find code_data.bin");
  EXPECT_EQ(lines[1].rfind("這個資料夾中最新的下載檔是 code_data (1).bin (500 位元組, ", 0), 0u);
  EXPECT_NE(lines[1].find("gps-update-cli \"code_data (1).bin\""), std::string::npos);
  // Given by name, it is updated.
  EXPECT_EQ(Run({(dir_ / "code_data (1).bin").string()}), kExitSuccess);
}

// The system stays awake for every report of the update, and is let go after.
TEST_F(CliRun, TheSystemIsKeptAwakeForTheWholeUpdate) {
  struct Hold : SleepInhibitor {
    explicit Hold(std::atomic<int>& held) : held_(held) { ++held_; }
    ~Hold() override { --held_; }
    bool Holding() const override { return true; }
    std::atomic<int>& held_;
  };
  class AwakeCheck : public ForwardingBackend {
   public:
    AwakeCheck(HidBackend& inner, std::atomic<int>& held) : ForwardingBackend(inner), held_(held) {}
    TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                            uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
      if (direction == HidDirection::Write) (held_ == 1 ? awake : asleep)++;
      return ForwardingBackend::Transfer(handle, direction, buffer, length, boundMs, stop);
    }
    int awake = 0, asleep = 0;

   private:
    std::atomic<int>& held_;
  };
  std::atomic<int> held{0};
  AwakeCheck check(bus, held);
  keepAwake = [&held] { return std::make_unique<Hold>(held); };
  EXPECT_EQ(Run({}, &check), kExitSuccess);
  EXPECT_GT(check.awake, 0);
  EXPECT_EQ(check.asleep, 0);
  EXPECT_EQ(held, 0);
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::istringstream in(hex);
  for (std::string byte; in >> byte;) bytes.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  return bytes;
}

TEST_F(CliRun, TheTraceShowsTheReportsOnTheWire) {
  ASSERT_EQ(Run({"--trace"}), kExitSuccess) << err.str();
  EXPECT_EQ(out.str(), kUpdateLines);

  const std::regex line(R"(\[ *(\d+)\.(\d{6})\] (out|in|open|close|reports|claim) (.*))");
  std::vector<Report> sent;
  std::vector<std::vector<uint8_t>> received;
  long long last = -1;
  // The image's checksum comes once, before the first report is sent.
  const std::string checksum =
      "SHA-256 of code_data.bin: " + Sha256Hex(reinterpret_cast<const uint8_t*>(
                                                   std::string(300, 'x').data()), 300) + "\n";
  const std::size_t shown = err.str().find(checksum);
  ASSERT_NE(shown, std::string::npos) << err.str();
  EXPECT_LT(shown, err.str().find("] out "));
  EXPECT_EQ(err.str().find("SHA-256", shown + 1), std::string::npos);
  // After the trace, the time the update took.
  const std::string errors = Errors();
  const std::size_t end = errors.rfind(std::string(text::kFinishedPrefix));
  ASSERT_NE(end, std::string::npos) << errors;
  std::istringstream trace(errors.substr(0, end));
  for (std::string text; std::getline(trace, text);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    const long long micros = std::stoll(m[1]) * 1000000 + std::stoll(m[2]);
    EXPECT_GE(micros, last) << text;
    last = micros;
    const std::string what = m[3], rest = m[4];
    if (what == "out") {
      ASSERT_EQ(rest.rfind("65: ", 0), 0u) << text;
      const std::vector<uint8_t> bytes = FromHex(rest.substr(4));
      ASSERT_EQ(bytes.size(), 65u) << text;
      Report r;
      std::copy(bytes.begin(), bytes.end(), r.begin());
      sent.push_back(r);
    } else if (what == "in") {
      ASSERT_EQ(rest.rfind("65: ", 0), 0u) << text;
      received.push_back(FromHex(rest.substr(4)));
    }
  }
  EXPECT_EQ(sent, device.OutputReports());
  // The erase monitor's reads: four progress messages and "over".
  ASSERT_EQ(received.size(), 5u);
  EXPECT_EQ(received[0][1], 25);
  EXPECT_EQ(std::string(received[4].begin() + 1, received[4].begin() + 5), "over");
}

}  // namespace
}  // namespace gps

namespace gps {
namespace {

// True when `text` is valid UTF-8 with no C0 control but the output's own
// line ends and tabs, nor DEL: nothing in it can move a terminal's cursor,
// set its title or forge a line.
::testing::AssertionResult SafeOutput(const std::string& text) {
  std::string field;
  for (char c : text + "\n") {
    if (c != '\n' && c != '\t') {
      field += c;
      continue;
    }
    if (ShownText(field) != field) return ::testing::AssertionFailure() << "unsafe: " << field;
    field.clear();
  }
  return ::testing::AssertionSuccess();
}

// Serial numbers are what the device says and file names what the disk
// holds: with terminal controls, line breaks and invalid UTF-8 in them, no
// raw control byte and no invalid UTF-8 reaches --list, --all's lines and
// table, or any message that names the file; each is shown written out.
TEST(HostileNames, ReachNoOutputRaw) {
  const std::string title = "\x1b]0;pwned\x07\x1b[2J";
  const std::string serials[] = {"SN" + title, "SN\nforged\tline", "SN\xff\xfe"};
  SimDevice devices[3];
  SimBus bus;
  for (int i = 0; i < 3; ++i) {
    bus.AddInterface({"sim:" + std::to_string(i) + "\x1b[1m", HID_VENDOR_ID, HID_PRODUCT_ID, true,
                      &devices[i], serials[i]});
  }
  test::TempFolder folder{"hostile"};
  const fs::path good = folder.Write("code_data.bin", std::string(300, 'x'));

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string mustShow;  // a written-out name that the output carries
  };
  std::vector<Case> cases = {
      {"--list", {"--list"}, "sim:0\\e[1m\tSN\\e]0;pwned\\x07\\e[2J"},
      {"--all, lines and table", {"--all", good.string()}, "SN\\nforged\\tline"},
      {"--all names the serial with invalid UTF-8", {"--all", good.string()}, "SN\\xFF\\xFE"},
  };
#ifndef _WIN32
  // Windows takes no control character in a file name.
  const fs::path empty = folder.Write("empty" + title + "\n.bin", std::string());
  const fs::path missing = folder.path() / ("gone\xa5\xbf\x1b[31m.bin");
  const fs::path large = folder.path() / "big\r\x7f.bin";
  std::ofstream(large, std::ios::binary).close();
  fs::resize_file(large, MAX_DATABASE_SIZE + 1ull);
  cases.push_back({"a missing file",
                   {"--device", "sim:0\x1b[1m", missing.string()},
                   "gone\\xA5\\xBF\\e[31m.bin"});
  cases.push_back(
      {"an empty file", {"--all", empty.string()}, "empty\\e]0;pwned\\x07\\e[2J\\n.bin"});
  cases.push_back(
      {"a file too large", {"--device", "sim:0\x1b[1m", large.string()}, "big\\r\\x7F.bin"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out, err;
    CliContext context(out, err);
    context.backend = &bus;
    context.bounds = test::ShortBounds();
    RunCli(ParseCliOptions(c.args), context);
    EXPECT_TRUE(SafeOutput(out.str())) << out.str();
    EXPECT_TRUE(SafeOutput(err.str())) << err.str();
    EXPECT_NE((out.str() + err.str()).find(c.mustShow), std::string::npos)
        << out.str() << err.str();
  }
}

}  // namespace
}  // namespace gps
