// gps-update-cli --all and --device, run in-process on several simulated
// devices on one bus.
#include "ui/cli/all_devices.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "protocol/flash_layout.h"
#include "protocol/image_header.h"
#include "protocol/messages.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/device_console.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr uint32_t kImageSize = 5000;  // 20 pages: 80 data reports

std::string Line(std::string_view name, std::string_view text) {
  return std::string(name) + ": " + std::string(text) + "\n";
}

// Signals when the program has first looked at the bus, so that a test can
// change the bus while the jobs run without sleeping.
class WatchedBus : public ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;
  StopEvent looked;
  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths = ForwardingBackend::EnumerateInterfaces();
    looked.Set();
    return paths;
  }
};

// Three devices, A-0001 to A-0003, at sim:1 to sim:3, and an image file.
class AllDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    image_.resize(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i) image_[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    std::ofstream(dir_ / "code_data.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image_.data()), kImageSize);
    for (int i = 0; i < 3; ++i) {
      const std::string n = std::to_string(i + 1);
      bus_.AddInterface({"sim:" + n, HID_VENDOR_ID, HID_PRODUCT_ID, true, &devices_[i], "A-000" + n});
    }
  }

  int Run(const std::vector<std::string>& args, HidBackend* bus = nullptr) {
    CliOptions options = ParseCliOptions(args);
    options.file = dir_ / "code_data.bin";
    CliContext context(out_, err_);
    context.backend = bus ? bus : &watched_;
    context.interrupt = &interrupt_;
    context.bounds = test::ShortBounds();
    context.pollInterval = milliseconds(10);
    return RunCli(options, context);
  }

  // The device holds the image (its last page padded with zeros) and the
  // header page, and was restarted once.
  void ExpectUpdated(const SimDevice& device) {
    std::vector<uint8_t> padded = image_;
    padded.resize((kImageSize / PAGE_SIZE + 1) * PAGE_SIZE, 0);
    EXPECT_EQ(device.ReadFlash(DATABASE_ADDRESS, static_cast<uint32_t>(padded.size())), padded);
    const auto header = HeaderPage(kImageSize);
    EXPECT_EQ(device.ReadFlash(HEADER_ADDRESS, PAGE_SIZE),
              std::vector<uint8_t>(header.begin(), header.end()));
    EXPECT_EQ(device.Restarts(), 1);
    EXPECT_EQ(device.RejectedCommands() + device.WriteDefects(), 0u);
  }

  // The lines of standard output that start with `name`.
  std::string LinesOf(std::string_view name) const {
    std::istringstream in(out_.str());
    std::string lines;
    for (std::string line; std::getline(in, line);)
      if (line.rfind(std::string(name) + ": ", 0) == 0) lines += line + "\n";
    return lines;
  }

  test::TempFolder folder_{"all"};
  const fs::path dir_ = folder_.path();
  std::vector<uint8_t> image_;
  SimDevice devices_[3];
  SimBus bus_;
  WatchedBus watched_{bus_};
  StopEvent interrupt_;
  std::ostringstream out_, err_;
};

const std::string kUpdateLines[] = {std::string(text::kErasing), std::string(text::kWritingDatabase),
                                    std::string(text::kDatabaseWritten),
                                    std::string(text::kWritingDatabase),
                                    std::string(text::kUpdateSucceeded)};

TEST_F(AllDevices, EveryDeviceGetsTheSameImageOnItsOwnLines) {
  ASSERT_EQ(Run({"--all"}), kExitSuccess) << out_.str() << err_.str();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ExpectUpdated(devices_[i]);
    const std::string name = "A-000" + std::to_string(i + 1);
    std::string expected;
    for (const std::string& text : kUpdateLines) expected += Line(name, text);
    EXPECT_EQ(LinesOf(name), expected);
  }
  // Not a terminal: progress lines at each tenth of each step, ending at 100%.
  EXPECT_NE(err_.str().find("A-0002: 100%\n"), std::string::npos) << err_.str();
  EXPECT_NE(out_.str().find("All 3 devices updated.\n"), std::string::npos) << out_.str();
  EXPECT_EQ(bus_.OpenHandles(), 0u);
}

// Each row: what goes wrong with each device, and how each ends.
TEST_F(AllDevices, EachFailureStaysWithItsDeviceAndTheFirstInBusOrderIsTheExitStatus) {
  struct Fault {
    uint64_t unplugAfterReports = 0;
    bool refuseOpens = false;
  };
  struct Case {
    const char* name;
    Fault faults[3];
    int statuses[3];
    int exitStatus;
  };
  const Case cases[] = {
      // Pulled out halfway through its page writes.
      {"second unplugged", {{}, {42, false}, {}}, {0, kExitWrite, 0}, kExitWrite},
      // The device's own statuses, not the one that failed first in time:
      // the unusable first device ends at once, the third one later.
      {"first refused, third unplugged", {{0, true}, {}, {42, false}},
       {kExitNoPermission, 0, kExitWrite}, kExitNoPermission},
      {"third unplugged after the erase command", {{}, {}, {1, false}}, {0, 0, kExitErase},
       kExitErase},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimDevice fresh[3];
    SimBus bus;
    for (int i = 0; i < 3; ++i) {
      SimFaults f;
      f.unplugAfterReports = c.faults[i].unplugAfterReports;
      f.refuseReadOpen = f.refuseWriteOpen = c.faults[i].refuseOpens;
      fresh[i].SetFaults(f);
      const std::string n = std::to_string(i + 1);
      bus.AddInterface({"sim:" + n, HID_VENDOR_ID, HID_PRODUCT_ID, true, &fresh[i], "A-000" + n});
    }
    WatchedBus watched(bus);
    CliOptions options = ParseCliOptions({"--all"});
    options.file = dir_ / "code_data.bin";
    out_.str("");
    CliContext context(out_, err_);
    context.backend = &watched;
    context.bounds = test::ShortBounds();
    EXPECT_EQ(RunCli(options, context), c.exitStatus) << out_.str();
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      if (c.statuses[i] == kExitSuccess) {
        ExpectUpdated(fresh[i]);
      } else {
        EXPECT_EQ(fresh[i].Restarts(), 0);
      }
      if (c.faults[i].refuseOpens) {
        EXPECT_EQ(fresh[i].OutputReportCount(), 0u);
      }
      // The table's row: name, outcome, and the stage's own last text.
      const std::string name = "A-000" + std::to_string(i + 1);
      const std::string outcome =
          c.statuses[i] == 0 ? "ok" : "failed (" + std::to_string(c.statuses[i]) + ")";
      EXPECT_NE(out_.str().find("\n" + name + "  " + outcome), std::string::npos) << out_.str();
    }
    EXPECT_EQ(bus.OpenHandles(), 0u);
  }
}

TEST_F(AllDevices, ADevicePluggedInMeanwhileIsNotTouched) {
  SimConfig slow;
  slow.progressGap = milliseconds(50);  // the jobs are still erasing when it arrives
  SimDevice a(slow), late;
  SimBus bus;
  bus.AddInterface({"sim:a", HID_VENDOR_ID, HID_PRODUCT_ID, true, &a, "A"});
  bus.AddInterface({"sim:late", HID_VENDOR_ID, HID_PRODUCT_ID, true, &late, "L"});
  late.Unplug();
  WatchedBus watched(bus);
  std::thread plug([&] {
    if (watched.looked.WaitFor(10000)) late.Plug();
  });
  CliOptions options = ParseCliOptions({"--all"});
  options.file = dir_ / "code_data.bin";
  CliContext context(out_, err_);
  context.backend = &watched;
  context.bounds = test::ShortBounds();
  EXPECT_EQ(RunCli(options, context), kExitSuccess) << out_.str();
  plug.join();
  EXPECT_EQ(a.Restarts(), 1);
  EXPECT_EQ(late.OutputReportCount(), 0u);
  EXPECT_EQ(out_.str().find("L: "), std::string::npos) << out_.str();
}

TEST_F(AllDevices, AnInterruptStopsEveryJob) {
  SimConfig slow;
  slow.progressGap = milliseconds(2000);  // each erase would take 10 s
  SimDevice slowDevices[3] = {SimDevice(slow), SimDevice(slow), SimDevice(slow)};
  SimBus bus;
  for (int i = 0; i < 3; ++i)
    bus.AddInterface({"sim:" + std::to_string(i), HID_VENDOR_ID, HID_PRODUCT_ID, true,
                      &slowDevices[i], "S" + std::to_string(i)});
  WatchedBus watched(bus);
  std::thread stop([&] {
    if (watched.looked.WaitFor(10000)) interrupt_.Set();
  });
  CliOptions options = ParseCliOptions({"--all"});
  options.file = dir_ / "code_data.bin";
  CliContext context(out_, err_);
  context.backend = &watched;
  context.interrupt = &interrupt_;
  context.bounds = LinkBounds{30000, 30000};  // only the interrupt can end the erase
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunCli(options, context), kExitErase) << out_.str();
  stop.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  for (const SimDevice& device : slowDevices) {
    EXPECT_LE(device.OutputReportCount(), 1u);  // at most the erase command, no page
    EXPECT_EQ(device.Restarts(), 0);
  }
  EXPECT_EQ(bus.OpenHandles(), 0u);
  // Each row, and the end of the table, says the user stopped it, as a
  // single update does.
  for (int i = 0; i < 3; ++i) {
    const std::string name = "S" + std::to_string(i);
    EXPECT_NE(out_.str().find(Line(name, text::kUpdateStopped)), std::string::npos) << out_.str();
    EXPECT_TRUE(std::regex_search(
        out_.str(), std::regex("\n" + name + " +stopped \\(" + std::to_string(kExitErase) + "\\)")))
        << out_.str();
  }
  const std::string stopped = std::string(text::kUpdateStopped) + "\n";
  EXPECT_EQ(out_.str().rfind(stopped), out_.str().size() - stopped.size()) << out_.str();
}

TEST_F(AllDevices, DeviceChoosesOneBySerialOrPath) {
  struct Case {
    std::string id;
    int status;
    int updated;  // index of the device updated, or -1
  };
  const Case cases[] = {
      {"A-0002", kExitSuccess, 1},
      {"sim:3", kExitSuccess, 2},
      {"A-0009", kExitNoDevice, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const uint64_t before[3] = {devices_[0].OutputReportCount(), devices_[1].OutputReportCount(),
                                devices_[2].OutputReportCount()};
    out_.str("");
    EXPECT_EQ(Run({"--device", c.id}), c.status) << out_.str() << err_.str();
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(devices_[i].OutputReportCount() > before[i], i == c.updated) << i;
    if (c.updated < 0) {
      EXPECT_EQ(out_.str(), std::string(text::kDeviceConnectFailed) + "\n");
    }
  }
  ExpectUpdated(devices_[1]);
}

TEST_F(AllDevices, DevicesThatShareASerialAreNamedByPath) {
  SimDevice twin;
  bus_.AddInterface({"sim:twin", HID_VENDOR_ID, HID_PRODUCT_ID, true, &twin, "A-0003"});
  EXPECT_EQ(Run({"--device", "A-0003"}), kExitUsage);
  EXPECT_EQ(twin.OutputReportCount() + devices_[2].OutputReportCount(), 0u);
  EXPECT_NE(err_.str().find("2 devices carry the serial number A-0003"), std::string::npos);

  ASSERT_EQ(Run({"--all"}), kExitSuccess) << out_.str();
  EXPECT_NE(LinesOf("sim:twin"), "");
  EXPECT_NE(LinesOf("sim:3"), "");
  EXPECT_NE(LinesOf("A-0001"), "");
}

// Without --all or --device the first device is updated, and the job stays
// with it: wherever the first device leaves, nothing reaches the second one.
TEST_F(AllDevices, APlainUpdateKeepsToTheFirstDeviceWhereverItLeaves) {
  // 5000 bytes take 89 output reports: the erase, the write command, 80 data
  // reports, the header's erase, its write command and 4 data reports, and
  // the restart.
  struct Case {
    const char* where;
    uint64_t afterReports;
  };
  const Case cases[] = {
      {"after the erase command", 1},      {"after the write command", 2},
      {"during the page writes", 40},      {"after the last data report", 82},
      {"after the header's erase", 83},    {"during the header's write", 86},
      {"before the restart", 88},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    SimConfig leaves;
    leaves.faults.unplugAfterReports = c.afterReports;
    SimDevice first(leaves), second;
    SimBus bus;
    bus.AddInterface({"sim:1", HID_VENDOR_ID, HID_PRODUCT_ID, true, &first, "FIRST"});
    bus.AddInterface({"sim:2", HID_VENDOR_ID, HID_PRODUCT_ID, true, &second, "SECOND"});
    out_.str("");
    EXPECT_NE(Run({}, &bus), kExitSuccess) << out_.str();
    EXPECT_EQ(first.OutputReportCount(), c.afterReports);
    EXPECT_EQ(second.OutputReportCount(), 0u);
    const std::string out = out_.str();
    EXPECT_FALSE(out.ends_with(std::string(text::kUpdateSucceeded) + "\n")) << out;
    EXPECT_EQ(bus.OpenHandles(), 0u);
  }
  // With nothing wrong, the first device is the one updated.
  ASSERT_EQ(Run({}), kExitSuccess) << out_.str();
  ExpectUpdated(devices_[0]);
  EXPECT_EQ(devices_[1].OutputReportCount() + devices_[2].OutputReportCount(), 0u);
}

TEST(ResultTable, LinesUpTheColumnsAndNamesTheFailureThatDecides) {
  const std::vector<DeviceResult> results = {
      {"A-0001", 0, std::string(text::kUpdateSucceeded), milliseconds(8312)},
      {"/dev/hidraw12", kExitWrite, std::string(text::kDatabaseWriteFailed), milliseconds(4100)},
      {"A-0003", kExitErase, std::string(text::kEraseFlashFailed), milliseconds(61060)},
  };
  EXPECT_EQ(CombinedExitStatus(results), kExitWrite);
  EXPECT_EQ(ResultTable(results),
            "Device         Outcome     Last text                    Time\n"
            "A-0001         ok          更新成功!                   8.3 s\n"
            "/dev/hidraw12  failed (6)  資料庫寫入失敗!             4.1 s\n"
            "A-0003         failed (5)  寫入資料庫 清除Flash失敗!  61.1 s\n"
            "2 of 3 devices failed; the exit status is 6, /dev/hidraw12's, the first failure "
            "in bus order.\n");
  EXPECT_EQ(ResultTable({results[0]}).substr(ResultTable({results[0]}).rfind("All")),
            "All 1 device updated.\n");
}

}  // namespace
}  // namespace gps
