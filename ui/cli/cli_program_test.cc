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

#include "protocol/messages.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"
#include "ui/cli/terminal_reporter.h"

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

// What the parser made of a command line, in a few words.
std::string Summary(const CliOptions& o) {
  if (!o.error.empty()) return "error";
  std::string s = o.file.string();
  if (o.simulate) s += " simulate=" + std::to_string(o.simulatedDevices);
  if (o.list) s += " list";
  if (o.trace) s += " trace";
  if (o.wait) s += " wait=" + std::to_string(o.wait->count()) + "ms";
  if (o.all) s += " all";
  if (o.device) s += " device=" + *o.device;
  return s;
}

TEST(CliOptions, Parsing) {
  struct Case {
    std::vector<std::string> args;
    std::string parsed;
  };
  const Case cases[] = {
      {{}, "code_data.bin"},
      {{"image.bin"}, "image.bin"},
      {{"--simulate", "image.bin"}, "image.bin simulate=1"},
      {{"--simulate=16", "--all"}, "code_data.bin simulate=16 all"},
      {{"--simulate=0"}, "error"},
      {{"--simulate=17"}, "error"},
      {{"--simulate="}, "error"},
      {{"--", "-odd-name.bin"}, "-odd-name.bin"},
      {{"--list", "--trace"}, "code_data.bin list trace"},
      {{"--wait"}, "code_data.bin wait=30000ms"},
      {{"--wait=7", "a.bin"}, "a.bin wait=7000ms"},
      {{"--wait=86400"}, "code_data.bin wait=86400000ms"},
      {{"--wait", "5"}, "5 wait=30000ms"},  // the number belongs to --wait only after '='
      {{"a.bin", "b.bin"}, "error"},
      {{"--frobnicate"}, "error"},
      {{"--wait=0"}, "error"},
      {{"--wait=86401"}, "error"},
      {{"--wait="}, "error"},
      {{"--wait=5s"}, "error"},
      {{"--wait=-5"}, "error"},
      {{"--all", "a.bin"}, "a.bin all"},
      {{"--device", "SN 1", "a.bin"}, "a.bin device=SN 1"},
      {{"--device=/dev/hidraw3"}, "code_data.bin device=/dev/hidraw3"},
      {{"--device", "--all"}, "code_data.bin device=--all"},  // an ID may look like an option
      {{"--device"}, "error"},
      {{"--device="}, "error"},
      {{"--all", "--device", "X"}, "error"},
      {{"--list", "--all"}, "error"},
      {{"--list", "a.bin"}, "error"},
      {{"--list", "--wait"}, "error"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    EXPECT_EQ(Summary(ParseCliOptions(c.args)), c.parsed) << line;
  }
}

TEST(CliOptions, HelpCarriesEveryExitStatusWithItsText) {
  const std::string help = HelpText();
  int expected = 0;
  for (const ExitStatusRow& row : ExitStatusTable()) {
    EXPECT_EQ(row.status, expected++) << "the table runs in order, without gaps";
    const std::string number = std::to_string(row.status);
    EXPECT_NE(help.find("\n" + std::string(4 - number.size(), ' ') + number + "  "),
              std::string::npos) << row.status;
    if (!row.text.empty()) {
      EXPECT_NE(help.find(row.text), std::string::npos) << row.status;
    }
  }
  EXPECT_EQ(expected, kExitOutputFailed + 1);
  // Every line fits a terminal of 80 columns (the texts count two per character).
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\xE3") == std::string::npos) {
      EXPECT_LE(line.size(), 80u) << line;
    }
  }
}

TEST(TerminalReporter, StatusLinesOnOutputAndABarOnlyOnATerminal) {
  std::ostringstream out, err, plainErr;
  TerminalReporter bar(out, err, true);
  bar.SetProgressRange(4);
  bar.SetProgressPosition(2);
  bar.SetProgressPosition(2);  // unchanged: not drawn again
  bar.SetProgressPosition(4);
  bar.SetProgressPosition(0);  // shorter: the end of "100%" is covered
  bar.SetStatusText("正在寫入資料庫...");
  bar.ShowMessage("Can't find code_data.bin");
  EXPECT_EQ(out.str(), "正在寫入資料庫...\n");
  // Carriage returns and spaces only: no escape sequence, which a Windows
  // console would print as text.
  EXPECT_EQ(err.str(), "\r[" + std::string(40, ' ') + "] 0%" +
                           "\r[" + std::string(20, '#') + std::string(20, ' ') + "] 50%" +
                           "\r[" + std::string(40, '#') + "] 100%" +
                           "\r[" + std::string(40, ' ') + "] 0%  " +
                           "\r" + std::string(47, ' ') + "\r" + "Can't find code_data.bin\n");

  std::ostringstream out2;
  TerminalReporter plain(out2, plainErr, false);
  plain.SetProgressRange(4);
  plain.SetProgressPosition(9);
  EXPECT_EQ(plainErr.str(), "");
}

// Passes everything on to the simulated bus and signals each time the
// program has looked at the bus, so that a test can change the bus between
// two looks without sleeping.
class WatchedBus : public testing::ForwardingBackend {
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
    context.bounds = testing::ShortBounds();
    context.pollInterval = milliseconds(10);
    context.settleTime = settleTime;
    return RunCli(options, context);
  }
  // Runs `change` on a thread of its own once the program has looked at the
  // bus for the first (or second) time.
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

  testing::TempFolder folder_{"cli"};
  const fs::path dir_ = folder_.path();
  SimDevice device;
  SimBus bus{device};
  WatchedBus watched{bus};
  StopEvent interrupt;
  milliseconds settleTime{100};
  std::ostringstream out, err;
};

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
  struct SerialsWatched : testing::ForwardingBackend {
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

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::istringstream in(hex);
  for (std::string byte; in >> byte;) bytes.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  return bytes;
}

TEST_F(CliRun, TheTraceShowsTheReportsOnTheWire) {
  ASSERT_EQ(Run({"--trace"}), kExitSuccess) << err.str();
  EXPECT_EQ(out.str(), kUpdateLines);

  const std::regex line(R"(\[ *(\d+)\.(\d{6})\] (out|in|open|close|reports) (.*))");
  std::vector<Report> sent;
  std::vector<std::vector<uint8_t>> received;
  long long last = -1;
  std::istringstream trace(err.str());
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
