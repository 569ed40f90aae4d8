// gps-update-cli --station, run in-process on simulated devices that are
// plugged in and out while it runs. The test moves on when the station has
// told it something (a job ended, the bus was looked at), never after a
// sleep.
#include "ui/cli/station.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "protocol/sha256.h"
#include "tests/json_object.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"
#include "ui/cli/cli_program.h"

namespace gps {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr uint32_t kImageSize = 5000;
constexpr int kDevices = 4;

// Counts the station's looks at the bus and the data opens, so that a test
// can wait until the station has seen the bus as it is now.
class CountingBus : public ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;

  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths = ForwardingBackend::EnumerateInterfaces();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++looks_;
    }
    changed_.notify_all();
    return paths;
  }
  HidOpenResult OpenData(const std::string& path, HidAccess access) override {
    HidOpenResult result = ForwardingBackend::OpenData(path, access);
    if (onOpen) onOpen(result);
    return result;
  }

  // Waits until two more looks have begun: the second began after this call.
  bool SeenAsItIs() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = looks_ + 2;
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return looks_ >= target; });
  }

  std::function<void(const HidOpenResult&)> onOpen;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t looks_ = 0;
};

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t i = 0; i < kImageSize; ++i) image_.push_back(static_cast<char>(i * 13 + (i >> 7)));
    folder_.Write("code_data.bin", image_);
    for (int i = 0; i < kDevices; ++i) {
      const std::string n = std::to_string(i + 1);
      devices_[i].Unplug();
      bus_.AddDevice(devices_[i], "sim:" + n, "ST-" + n);
    }
  }
  void TearDown() override {
    if (station_.joinable()) {
      interrupts_ = 2;
      interrupt_.Set();
      station_.join();
    }
  }

  // Starts the station on a thread of its own, on `backend` (the fixture's
  // watched bus when none).
  void Start(std::vector<std::string> args = {}, HidBackend* backend = nullptr) {
    args.insert(args.begin(), {"--station", "--record", record_.string()});
    args.push_back((dir_ / "code_data.bin").string());
    station_ = std::thread([this, args, backend] {
      CliContext context(out_, err_);
      context.backend = backend ? backend : &watched_;
      context.interrupt = &interrupt_;
      context.interrupts = [this] {
        const unsigned count = interrupts_;
        if (count > 0) interruptTaken_.Set();
        return count;
      };
      context.bounds = test::ShortBounds();
      context.pollInterval = milliseconds(5);
      context.settleTime = settleTime_;
      context.restartWindow = restartWindow_;
      context.stationJobEnded = [this](const DeviceResult& job) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ended_.push_back(job);
        }
        jobEnded_.notify_all();
      };
      status_ = RunCli(ParseCliOptions(args), context);
    });
  }
  // Waits until `count` jobs have ended in all.
  bool JobsEnded(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return jobEnded_.wait_for(lock, std::chrono::seconds(20),
                              [&] { return ended_.size() >= count; });
  }
  std::size_t Ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_.size();
  }
  // Ctrl+C `times` times; returns the station's exit status.
  int Interrupt(unsigned times = 1) {
    interrupts_ = times;
    interrupt_.Set();
    station_.join();
    return status_;
  }
  std::vector<std::map<std::string, std::string>> RecordLines() {
    std::vector<std::map<std::string, std::string>> lines;
    std::ifstream in(record_, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      const auto parsed = test::JsonObjectReader::Parse(line);
      EXPECT_TRUE(parsed) << line;
      if (parsed) lines.push_back(*parsed);
    }
    return lines;
  }
  std::string Sha() const {
    return Sha256Hex(reinterpret_cast<const uint8_t*>(image_.data()), image_.size());
  }
  void ExpectHoldsTheImage(const SimDevice& device) {
    std::vector<uint8_t> padded(image_.begin(), image_.end());
    padded.resize((kImageSize / PAGE_SIZE + 1) * PAGE_SIZE, 0);
    EXPECT_EQ(device.ReadFlash(DATABASE_ADDRESS, static_cast<uint32_t>(padded.size())), padded);
  }

  test::TempFolder folder_{"station"};
  const fs::path dir_ = folder_.path();
  const fs::path record_ = dir_ / "record.jsonl";
  std::string image_;
  SimDevice devices_[kDevices];
  SimBus bus_;
  CountingBus watched_{bus_};
  StopEvent interrupt_;
  std::atomic<unsigned> interrupts_{0};
  StopEvent interruptTaken_;
  milliseconds settleTime_{50};
  milliseconds restartWindow_{0};
  std::ostringstream out_, err_;
  std::thread station_;
  int status_ = -1;
  std::mutex mutex_;
  std::condition_variable jobEnded_;
  std::vector<DeviceResult> ended_;
};

// Plugged in before the start, one after another, several at once, and out
// and in again: each plug-in is updated once, and a device left plugged
// after its job is left alone.
TEST_F(Station, EachPlugInIsUpdatedExactlyOnce) {
  devices_[0].Plug();
  Start();
  ASSERT_TRUE(JobsEnded(1));
  devices_[1].Plug();
  ASSERT_TRUE(JobsEnded(2));
  devices_[2].Plug();
  devices_[3].Plug();
  ASSERT_TRUE(JobsEnded(4));
  ASSERT_TRUE(watched_.SeenAsItIs());
  EXPECT_EQ(Ended(), 4u);  // still plugged: left alone
  devices_[0].Unplug();
  ASSERT_TRUE(watched_.SeenAsItIs());
  devices_[0].Plug();
  ASSERT_TRUE(JobsEnded(5));
  ASSERT_TRUE(watched_.SeenAsItIs());
  EXPECT_EQ(Interrupt(), kExitSuccess) << err_.str();

  EXPECT_EQ(devices_[0].Restarts(), 2);
  for (int i = 1; i < kDevices; ++i) EXPECT_EQ(devices_[i].Restarts(), 1) << i;
  for (const SimDevice& device : devices_) ExpectHoldsTheImage(device);

  const auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 5u);
  std::multiset<std::string> serials;
  for (const auto& line : lines) {
    serials.insert(line.at("serial"));
    EXPECT_EQ(line.at("outcome"), "succeeded");
    EXPECT_EQ(line.at("status"), "0");
    EXPECT_EQ(line.at("last_text"), text::kUpdateSucceeded);
    EXPECT_EQ(line.at("image"), "code_data.bin");
    EXPECT_EQ(line.at("size"), std::to_string(kImageSize));
    EXPECT_EQ(line.at("sha256"), Sha());
    EXPECT_EQ(line.at("path"), "sim:" + line.at("serial").substr(3));
    // Each job's own reports: the device took twice that for two plug-ins.
    EXPECT_EQ(std::stoull(line.at("reports")) * (line.at("serial") == "ST-1" ? 2 : 1),
              devices_[std::stoi(line.at("serial").substr(3)) - 1].OutputReportCount());
    EXPECT_LE(line.at("start"), line.at("end"));
  }
  EXPECT_EQ(serials, (std::multiset<std::string>{"ST-1", "ST-1", "ST-2", "ST-3", "ST-4"}));

  const std::string out = out_.str();
  EXPECT_NE(out.find("Station: 4 updated, 0 failed so far.\n"), std::string::npos);
  EXPECT_NE(out.find("Station: 5 jobs, all updated.\n"), std::string::npos) << out;
  EXPECT_NE(err_.str().find("SHA-256 of code_data.bin: " + Sha() + "\n"), std::string::npos);
}

// A failed job is counted and recorded as such; the device stays plugged
// and is left alone until it is plugged in again. The first failure is the
// session's exit status.
TEST_F(Station, AFailureIsCountedRecordedAndTriedAgainOnlyAfterAReplug) {
  SimFaults refuseErase;
  refuseErase.failWriteAt = 1;
  devices_[0].SetFaults(refuseErase);
  devices_[0].Plug();
  Start();
  ASSERT_TRUE(JobsEnded(1));
  ASSERT_TRUE(watched_.SeenAsItIs());
  EXPECT_EQ(Ended(), 1u);
  devices_[0].SetFaults({});
  devices_[0].Unplug();
  ASSERT_TRUE(watched_.SeenAsItIs());
  devices_[0].Plug();
  ASSERT_TRUE(JobsEnded(2));
  EXPECT_EQ(Interrupt(), kExitErase);

  const auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].at("outcome"), "erase_failed");
  EXPECT_EQ(lines[0].at("status"), std::to_string(kExitErase));
  EXPECT_EQ(lines[0].at("last_text"), text::kEraseFlashFailed);
  EXPECT_EQ(lines[1].at("outcome"), "succeeded");
  EXPECT_NE(out_.str().find("Station: 0 updated, 1 failed so far.\n"), std::string::npos);
  EXPECT_NE(out_.str().find("Station: 2 jobs, 1 updated, 1 failed; the exit status is 5, "
                            "ST-1's, the first failure.\n"),
            std::string::npos)
      << out_.str();
}

// The first Ctrl+C lets the running job finish and takes no new device; the
// second stops the job at its next transfer.
TEST_F(Station, TheFirstInterruptLetsJobsFinishTheSecondStopsThem) {
  for (unsigned times : {1u, 2u}) {
    SCOPED_TRACE(times);
    ended_.clear();
    interrupts_ = 0;
    interruptTaken_.Reset();
    fs::remove(record_);
    SimConfig slow;
    slow.progressGap = milliseconds(30);
    slow.progress.assign(40, 50);
    SimDevice device(slow);
    SimDevice late;
    late.Unplug();
    SimBus bus;
    bus.AddDevice(device, "sim:slow", "SLOW");
    bus.AddDevice(late, "sim:late", "LATE");
    CountingBus watched(bus);
    StopEvent erasing;
    watched.onOpen = [&](const HidOpenResult&) { erasing.Set(); };
    watched_.onOpen = nullptr;
    // The station runs on `watched` for this case, with the program's own
    // settle time and restart window.
    settleTime_ = CliContext(out_, err_).settleTime;
    restartWindow_ = CliContext(out_, err_).restartWindow;
    Start({}, &watched);
    ASSERT_TRUE(erasing.WaitFor(10000));
    interrupts_ = times;
    interrupt_.Set();
    ASSERT_TRUE(interruptTaken_.WaitFor(10000));
    late.Plug();  // after the interrupt: not taken
    station_.join();
    EXPECT_EQ(status_, times == 1 ? kExitSuccess : kExitErase) << out_.str();
    EXPECT_EQ(late.OutputReportCount(), 0u);
    const auto lines = RecordLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].at("outcome"), times == 1 ? "succeeded" : "stopped");
    EXPECT_EQ(device.Restarts(), times == 1 ? 1 : 0);
  }
}

// A device that comes back right after its update is the device restarting
// as it was told to: it is not updated again (and again).
TEST_F(Station, ADeviceBackFromItsRestartIsLeftAlone) {
  restartWindow_ = std::chrono::hours(1);
  devices_[0].Plug();
  Start();
  ASSERT_TRUE(JobsEnded(1));
  devices_[0].Unplug();
  ASSERT_TRUE(watched_.SeenAsItIs());
  devices_[0].Plug();
  ASSERT_TRUE(watched_.SeenAsItIs());
  devices_[1].Plug();  // another device is a new plug-in all the same
  ASSERT_TRUE(JobsEnded(2));
  EXPECT_EQ(Interrupt(), kExitSuccess);
  EXPECT_EQ(devices_[0].Restarts(), 1);
  EXPECT_EQ(devices_[1].Restarts(), 1);
  EXPECT_NE(out_.str().find("ST-1: back on the bus after its restart; left alone"),
            std::string::npos)
      << out_.str();
}

// udev applies its rules a moment after the node appears: a device refused
// at its first look gets the settle time before its job gives up.
TEST_F(Station, ADeviceJustPluggedInGetsTimeToSettle) {
  settleTime_ = std::chrono::seconds(10);
  SimFaults refused;
  refused.refuseReadOpen = refused.refuseWriteOpen = true;
  refused.refusal = HidOpenError::AccessDenied;
  devices_[0].SetFaults(refused);
  watched_.onOpen = [this](const HidOpenResult& result) {
    if (result.error == HidOpenError::AccessDenied) devices_[0].SetFaults({});
  };
  devices_[0].Plug();
  Start();
  ASSERT_TRUE(JobsEnded(1));
  EXPECT_EQ(Interrupt(), kExitSuccess) << out_.str();
  EXPECT_EQ(devices_[0].Restarts(), 1);
}

// The image is read once: a file changed on disk meanwhile is pointed out
// and not taken; the next device still gets the image the station started
// with.
TEST_F(Station, AChangedFileIsPointedOutNotTaken) {
  Start();
  ASSERT_TRUE(watched_.SeenAsItIs());
  folder_.Write("code_data.bin", std::string(300, 'y'));
  ASSERT_TRUE(watched_.SeenAsItIs());
  devices_[2].Plug();
  ASSERT_TRUE(JobsEnded(1));
  EXPECT_EQ(Interrupt(), kExitSuccess);
  ExpectHoldsTheImage(devices_[2]);
  EXPECT_NE(err_.str().find("code_data.bin has changed on disk; the station keeps writing the "
                            "image it read at the start (SHA-256 " + Sha() + ")"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(RecordLines().at(0).at("sha256"), Sha());
}

// No device came at all: the session ends with its table and status 0.
TEST_F(Station, ASessionWithoutDevicesEndsCleanly) {
  Start();
  ASSERT_TRUE(watched_.SeenAsItIs());
  EXPECT_EQ(Interrupt(), kExitSuccess);
  EXPECT_NE(out_.str().find("Station: no device was updated.\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(record_));
  EXPECT_EQ(fs::file_size(record_), 0u);
}

// The record is opened before anything is sent; with --record, a single
// update and --all leave a line per device job too.
TEST_F(Station, EveryRunCanKeepARecord) {
  devices_[0].Plug();
  devices_[1].Plug();
  CliContext context(out_, err_);
  context.backend = &watched_;
  context.bounds = test::ShortBounds();
  context.pollInterval = milliseconds(5);
  const std::string image = (dir_ / "code_data.bin").string();
  EXPECT_EQ(RunCli(ParseCliOptions({"--record", (dir_ / "none" / "r.jsonl").string(), image}),
                   context),
            kExitRecord);
  EXPECT_EQ(devices_[0].OutputReportCount(), 0u);
  EXPECT_NE(err_.str().find("cannot be opened"), std::string::npos);

  EXPECT_EQ(RunCli(ParseCliOptions({"--record", record_.string(), image}), context), kExitSuccess);
  EXPECT_EQ(RunCli(ParseCliOptions({"--all", "--record", record_.string(), image}), context),
            kExitSuccess);
  const auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].at("serial"), "ST-1");
  EXPECT_EQ(lines[0].at("outcome"), "succeeded");
  EXPECT_EQ(std::stoull(lines[0].at("reports")) * 2, devices_[0].OutputReportCount());
  std::set<std::string> all = {lines[1].at("serial"), lines[2].at("serial")};
  EXPECT_EQ(all, (std::set<std::string>{"ST-1", "ST-2"}));
}

}  // namespace
}  // namespace gps
