#include "protocol/update_job.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "hid/device_match.h"
#include "protocol/command_block.h"
#include "protocol/flash_layout.h"
#include "protocol/image_header.h"
#include "protocol/little_endian.h"
#include "protocol/messages.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"

namespace gps {
namespace {

namespace fs = std::filesystem;
using test::RecordingReporter;
using test::SimRig;

std::string S(std::string_view text) { return std::string(text); }

std::vector<uint8_t> Image(uint32_t length) {
  std::vector<uint8_t> image(length);
  uint32_t x = 12345;
  for (uint8_t& b : image) {
    x = x * 1103515245 + 12345;
    b = static_cast<uint8_t>(x >> 16);
  }
  return image;
}

Report CommandReport(uint16_t code, uint32_t a1, uint32_t a2) {
  Report r;
  FrameCommand(code, a1, a2, r.data());
  return r;
}

// The reports a whole update of `image` must put on the wire.
std::vector<Report> ExpectedReports(const std::vector<uint8_t>& image) {
  const auto length = static_cast<uint32_t>(image.size());
  const uint32_t sectors = (length + SECTOR_SIZE - 1) / SECTOR_SIZE;
  std::vector<Report> out{CommandReport(CMD_ERASE_SECTORS, 10, sectors)};
  if (sectors == 0) return out;
  // One page more than the image fills, except where that page would lie
  // past the 16 MiB flash (only the largest image, 0xFF6000 bytes).
  uint32_t pages = length / PAGE_SIZE + 1;
  if (160 + pages > 0x10000) --pages;
  out.push_back(CommandReport(CMD_WRITE_PAGES, 160, pages));
  std::vector<uint8_t> padded(image);
  padded.resize(std::size_t{pages} * PAGE_SIZE, 0);  // the tail after the file is zeros
  auto addData = [&out](const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; i += 64) {
      Report r;
      r[0] = 0;
      std::memcpy(r.data() + 1, data + i, 64);
      out.push_back(r);
    }
  };
  addData(padded.data(), padded.size());
  out.push_back(CommandReport(CMD_ERASE_SECTORS, 8, 1));
  out.push_back(CommandReport(CMD_WRITE_PAGES, 128, 1));
  addData(HeaderPage(length).data(), PAGE_SIZE);
  out.push_back(CommandReport(CMD_RESTART, RESTART_ARG1, RESTART_ARG2));
  return out;
}

TEST(UpdateJob, WholeUpdatesPutExactlyTheExpectedReportsAndFlash) {
  const std::vector<std::string> success = {
      S(text::kErasing), S(text::kWritingDatabase), S(text::kDatabaseWritten),
      S(text::kWritingDatabase), S(text::kUpdateSucceeded)};
  for (uint32_t length : {0u, 1u, 255u, 256u, 1000u, 4096u, 0xFF5FFFu, 0xFF6000u, 0xFF6001u}) {
    SCOPED_TRACE(length);
    test::TempFolder dir;
    const std::vector<uint8_t> image = Image(length);
    SimRig rig;
    RecordingReporter reporter;
    UpdateJob job(reporter, rig.link);
    const UpdateOutcome outcome = job.LoadAndUpdate(dir.Write("code_data.bin", image));

    // Refused before anything is sent: too large, or empty (a download
    // that failed, not a fault of the device's flash).
    if (length > MAX_DATABASE_SIZE || length == 0) {
      EXPECT_EQ(outcome, length == 0 ? UpdateOutcome::FileEmpty : UpdateOutcome::TooLarge);
      EXPECT_EQ(reporter.events,
                (std::vector<std::string>{
                    length == 0 ? "message:" + S(text::kFileEmptyPrefix) + "code_data.bin" +
                                      S(text::kFileEmptySuffix)
                                : "status:" + S(text::kTooMuchData)}));
      EXPECT_EQ(rig.device.OutputReportCount(), 0u);
      EXPECT_EQ(rig.bus.OpenHandles(), 0u);
      continue;
    }
    const std::vector<Report> reports = rig.device.OutputReports();
    const std::vector<Report> expected = ExpectedReports(image);
    // No page at or past 0x1000000, the end of the flash: the page write's
    // command (the second report) carries its first page and count at bytes 3 and 7.
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LE(Le32(reports[1].data() + 3) + Le32(reports[1].data() + 7), 0x10000u);
    // The largest image gets no page after it; one byte less still does.
    if (length == 0xFF6000u || length == 0xFF5FFFu) {
      EXPECT_EQ(Le32(reports[1].data() + 7), 0xFF60u);
    }
    ASSERT_EQ(reports.size(), expected.size());
    for (std::size_t i = 0; i < reports.size(); ++i) ASSERT_EQ(reports[i], expected[i]) << i;
    EXPECT_EQ(rig.bus.OpenHandles(), 0u);

    EXPECT_EQ(outcome, UpdateOutcome::Succeeded);
    EXPECT_EQ(reporter.Only("status:"), success);
    EXPECT_EQ(rig.device.ReadFlash(DATABASE_ADDRESS, length), image);
    const auto header = HeaderPage(length);
    EXPECT_EQ(rig.device.ReadFlash(HEADER_ADDRESS, PAGE_SIZE),
              std::vector<uint8_t>(header.begin(), header.end()));
    EXPECT_EQ(rig.device.WriteDefects(), 0u);
    EXPECT_EQ(rig.device.Restarts(), 1);
  }
}

// The same refusals for an image handed over in memory.
TEST(UpdateJob, UpdateDatabaseRefusesAnEmptyOrOversizedImage) {
  const std::vector<uint8_t> zeros(512, 0);
  struct Case {
    uint32_t length;
    UpdateOutcome outcome;
    std::string_view text;
  };
  for (const Case& c : {Case{0, UpdateOutcome::FileEmpty, text::kNoData},
                        Case{MAX_DATABASE_SIZE + 1, UpdateOutcome::TooLarge, text::kTooMuchData}}) {
    SimRig rig;
    RecordingReporter reporter;
    EXPECT_EQ(UpdateJob(reporter, rig.link).UpdateDatabase(zeros.data(), c.length), c.outcome);
    EXPECT_EQ(reporter.events, std::vector<std::string>{"status:" + S(c.text)});
    EXPECT_EQ(rig.device.OutputReportCount(), 0u);
  }
}

TEST(UpdateJob, ReportsEveryStepOfA1000ByteUpdateInOrder) {
  SimRig rig;
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  std::vector<uint8_t> image = Image(1000);
  image.resize(1000 + 512, 0);
  ASSERT_EQ(job.UpdateDatabase(image.data(), 1000), UpdateOutcome::Succeeded);
  const std::vector<std::string> expected = {
      "status:" + S(text::kErasing), "range:100", "pos:0", "pos:25", "pos:50", "pos:75",
      "pos:100", "pos:1", "pos:0",
      "range:4", "pos:0", "status:" + S(text::kWritingDatabase), "pos:2", "pos:3", "pos:4",
      "pos:4", "pos:0",
      "status:" + S(text::kDatabaseWritten),
      "range:1", "pos:0", "status:" + S(text::kWritingDatabase), "pos:1", "pos:0",
      "status:" + S(text::kUpdateSucceeded)};
  EXPECT_EQ(reporter.events, expected);
}

// --- the erase monitor ------------------------------------------------------

EraseMessage Progress(uint32_t value) {
  EraseMessage m{};
  std::memcpy(m.data(), &value, 4);  // the test hosts are little-endian, as is the wire
  return m;
}
EraseMessage Text(const char* s) {
  EraseMessage m{};
  std::memcpy(m.data(), s, std::strlen(s));
  return m;
}

struct MonitorCase {
  const char* name;
  std::vector<EraseMessage> script;
  uint32_t readChunk;
  std::vector<std::string> positions;  // after range:100 and pos:0
  uint32_t result;
  std::string lastStatus;
};

TEST(WaitEraseDone, FollowsTheDevicesMessages) {
  const MonitorCase cases[] = {
      {"progress then over", {Progress(25), Progress(50), Text("over")}, 64,
       {"25", "50", "3", "0"}, 64, S(text::kErasing)},
      {"only the first four letters count", {Text("overflow")}, 64, {"3", "0"}, 64,
       S(text::kErasing)},
      {"a capital O is a number", {Text("Over"), Text("over")}, 64,
       {std::to_string(0x7265764Fu), "3", "0"}, 64, S(text::kErasing)},
      {"numbers above 100 pass unchanged", {Progress(250), Text("over")}, 64,
       {"250", "3", "0"}, 64, S(text::kErasing)},
      {"two 33-byte reads make one message", {Progress(9), Text("over")}, 32,
       {"9", "3", "0"}, 64, S(text::kErasing)},
      {"two 41-byte reads hold 80 bytes; the first four decide",
       {Text("over"), Progress(5)}, 40, {"3", "0"}, 80, S(text::kErasing)},
      {"a failed read after progress", {Progress(25)}, 64, {"25", "0"}, 0,
       S(text::kEraseMessageError)},
  };
  for (const MonitorCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimConfig config;
    config.eraseScript = c.script;
    config.faults.readChunk = c.readChunk;
    SimRig rig(config);
    RecordingReporter reporter;
    UpdateJob job(reporter, rig.link);
    CHidTransfer monitor(rig.link);
    ASSERT_TRUE(monitor.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
    ASSERT_EQ(job.EraseSectors(10, 3), 3u);
    EXPECT_EQ(job.WaitEraseDone(monitor, true, 3), c.result);
    std::vector<std::string> expected = {"status:" + S(text::kErasing), "range:100", "pos:0"};
    for (const std::string& p : c.positions) expected.push_back("pos:" + p);
    if (c.lastStatus != S(text::kErasing)) expected.insert(expected.end() - 1, "status:" + c.lastStatus);
    EXPECT_EQ(reporter.events, expected);
    EXPECT_EQ(rig.bus.OpenHandles(), 0u);
  }
}

TEST(WaitEraseDone, WithoutADeviceSaysSoAndLeavesTheRangeAlone) {
  SimRig rig;
  rig.device.Unplug();
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  EXPECT_EQ(job.WaitEraseDone(1), 0u);
  EXPECT_EQ(reporter.events,
            (std::vector<std::string>{"status:" + S(text::kDeviceConnectFailed), "pos:0"}));
}

// --- the single operations ---------------------------------------------------

TEST(DeviceOperations, EraseOfZeroSectorsIsSentButCountsAsNothing) {
  SimRig rig;
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  EXPECT_EQ(job.EraseSectors(10, 0), 0u);
  EXPECT_EQ(rig.device.OutputReports(),
            (std::vector<Report>{CommandReport(CMD_ERASE_SECTORS, 10, 0)}));
  EXPECT_TRUE(reporter.events.empty());
}

TEST(DeviceOperations, WithoutADeviceNothingIsSent) {
  SimRig rig;
  rig.device.Unplug();
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  const uint8_t page[PAGE_SIZE] = {};
  EXPECT_EQ(job.EraseSectors(8, 1), 0u);
  EXPECT_EQ(job.WritePages(page, 128, 1), 0u);
  EXPECT_EQ(job.RestartDevice(), -1);
  const std::string failed = "status:" + S(text::kDeviceConnectFailed);
  EXPECT_EQ(reporter.events,
            (std::vector<std::string>{failed, "range:1", "pos:0", failed, "pos:0", failed}));
  EXPECT_EQ(rig.device.OutputReportCount(), 0u);
}

TEST(DeviceOperations, WritePagesMovesTheBarOnePageAhead) {
  SimRig rig;
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  const std::vector<uint8_t> data = Image(3 * PAGE_SIZE);
  EXPECT_EQ(job.WritePages(data.data(), 160, 3), 3 * PAGE_SIZE);
  EXPECT_EQ(reporter.events,
            (std::vector<std::string>{"range:3", "pos:0", "status:" + S(text::kWritingDatabase),
                                      "pos:2", "pos:3", "pos:3", "pos:0"}));
  EXPECT_EQ(rig.device.OutputReportCount(), 13u);
}

TEST(DeviceOperations, WritePagesFailures) {
  struct Case {
    const char* name;
    SimFaults faults;
    std::string status;
    uint64_t reportsTaken;
  };
  SimFaults command, fifth, shortCount;
  command.failWriteAt = 1;
  fifth.failWriteAt = 6;  // the fifth data report, after one whole page
  shortCount.shortCountAt = 3;
  shortCount.shortCount = 1;  // a write that moved nothing must not loop forever
  const Case cases[] = {
      {"command report fails", command, S(text::kWriteCommandError), 0},
      {"fifth data report fails", fifth, S(text::kWriteDataError), 5},
      {"a data report claims one byte", shortCount, S(text::kWriteDataError), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimConfig config;
    config.faults = c.faults;
    SimRig rig(config);
    RecordingReporter reporter;
    UpdateJob job(reporter, rig.link);
    const std::vector<uint8_t> data = Image(2 * PAGE_SIZE);
    EXPECT_EQ(job.WritePages(data.data(), 160, 2), 0u);
    EXPECT_EQ(reporter.LastStatus(), c.status);
    EXPECT_EQ(reporter.events.back(), "pos:0");
    EXPECT_EQ(rig.device.OutputReportCount(), c.reportsTaken);
    EXPECT_EQ(rig.bus.OpenHandles(), 0u);
  }
}

// A backend that accepts writes before they settle (as WebHID does with a
// few reports in flight) reports a failed one only when the link flushes:
// the exchange must end in its failure text, not in success.
TEST(DeviceOperations, AWriteThatFailsAfterItWasAcceptedFailsTheExchange) {
  class FlushFails : public ForwardingBackend {
   public:
    using ForwardingBackend::ForwardingBackend;
    TransferResult Flush(HidHandle, uint32_t, const StopEvent&) override {
      ++flushes;
      return {TransferStatus::Failed, 0};
    }
    int flushes = 0;
  };
  SimRig rig;
  FlushFails backend(rig.bus);
  LinkSettings link = rig.link;
  link.backend = &backend;
  RecordingReporter reporter;
  UpdateJob job(reporter, link);
  const std::vector<uint8_t> data = Image(PAGE_SIZE);
  EXPECT_EQ(job.WritePages(data.data(), 160, 1), 0u);
  EXPECT_EQ(reporter.LastStatus(), S(text::kWriteDataError));
  EXPECT_EQ(job.EraseSectors(10, 1), 0u);
  EXPECT_EQ(reporter.LastStatus(), S(text::kEraseCommandError));
  EXPECT_EQ(job.RestartDevice(), -1);
  EXPECT_EQ(reporter.LastStatus(), S(text::kRestartCommandError));
  EXPECT_EQ(backend.flushes, 3);
  EXPECT_EQ(rig.bus.OpenHandles(), 0u);
}

TEST(DeviceOperations, RestartSendsTheFixedReport) {
  SimRig rig;
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  EXPECT_EQ(job.RestartDevice(), 0);
  Report expected;
  expected.fill(REPORT_FILL);
  const uint8_t head[] = {0x00, 0xA5, 0x0E, 0x78, 0x56, 0x34, 0x12, 0x01, 0xEF, 0xCD,
                          0xAB, 0x48, 0x49, 0x44, 0x43, 0x47, 0x05, 0x00, 0x00};
  std::memcpy(expected.data(), head, sizeof head);
  EXPECT_EQ(rig.device.OutputReports(), std::vector<Report>{expected});
  EXPECT_EQ(rig.device.Restarts(), 1);
  EXPECT_TRUE(reporter.events.empty());
}

// --- the file ------------------------------------------------------------------

TEST(LoadAndUpdate, FileProblemsAreToldAndNothingIsSent) {
  test::TempFolder dir;
  fs::create_directory(dir.path() / "folder.bin");
  {
    std::ofstream huge(dir.path() / "huge.bin", std::ios::binary);
  }
  fs::resize_file(dir.path() / "huge.bin", (uint64_t{1} << 32) + 1000);  // sparse, > 4 GiB

  struct Case {
    fs::path file;
    UpdateOutcome outcome;
    std::string event;
  };
  const Case cases[] = {
      {dir.path() / "code_data.bin", UpdateOutcome::FileMissing,
       "message:Can't find code_data.bin"},
      {dir.path() / "folder.bin", UpdateOutcome::FileUnreadable,
       "message:" + S(text::kReadFilePrefix) + "folder.bin" + S(text::kReadFileSuffix)},
      {dir.path() / "huge.bin", UpdateOutcome::TooLarge, "status:" + S(text::kTooMuchData)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string());
    SimRig rig;
    RecordingReporter reporter;
    UpdateJob job(reporter, rig.link);
    EXPECT_EQ(job.LoadAndUpdate(c.file), c.outcome);
    EXPECT_EQ(reporter.events, std::vector<std::string>{c.event});
    EXPECT_EQ(rig.device.OutputReportCount(), 0u);
  }
}

#ifndef _WIN32
// A FIFO named like the image is not a file to read: opening it would wait
// for a writer that never comes.
TEST(LoadAndUpdate, AFifoIsRefusedWithoutOpeningIt) {
  test::TempFolder dir;
  const fs::path fifo = dir.path() / "code_data.bin";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  SimRig rig;
  RecordingReporter reporter;
  UpdateJob job(reporter, rig.link);
  auto run = std::async(std::launch::async, [&] { return job.LoadAndUpdate(fifo); });
  if (run.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "the job waits in the FIFO's open";
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // a writer lets it go
  }
  EXPECT_EQ(run.get(), UpdateOutcome::FileUnreadable);
  EXPECT_EQ(reporter.events, std::vector<std::string>{"message:" + S(text::kReadFilePrefix) +
                                                      "code_data.bin" + S(text::kReadFileSuffix)});
  EXPECT_EQ(rig.device.OutputReportCount(), 0u);
}
#endif

}  // namespace
}  // namespace gps

namespace gps {
namespace {

// One writer per device: a job that finds the device claimed by someone
// else (another program, another job of --all) says so and sends nothing;
// once the claim is gone, the next job runs, and it holds the claim while
// it does.
TEST(UpdateJob, ADeviceClaimedElsewhereIsLeftAlone) {
  SimRig rig;
  const std::vector<uint8_t> image = Image(5000);
  std::vector<uint8_t> padded(image);
  padded.resize(image.size() + 512, 0);
  const std::vector<std::string> paths = MatchingInterfaces(rig.bus, HID_VENDOR_ID, HID_PRODUCT_ID);
  ASSERT_EQ(paths.size(), 1u);
  {
    const DeviceClaim other = rig.bus.ClaimDevice(paths[0]);
    ASSERT_FALSE(other.busy);
    RecordingReporter reporter;
    EXPECT_EQ(UpdateJob(reporter, rig.link).UpdateDatabase(padded.data(), 5000),
              UpdateOutcome::DeviceBusy);
    EXPECT_EQ(reporter.events,
              std::vector<std::string>{"status:" + S(text::kDeviceInUseElsewhere)});
    EXPECT_EQ(rig.device.OutputReportCount(), 0u);
  }
  // Asked while the job runs (at its first status), the claim is the job's.
  struct Watching : RecordingReporter {
    std::function<void()> onStatus;
    void SetStatusText(std::string_view text) override {
      RecordingReporter::SetStatusText(text);
      if (onStatus) std::exchange(onStatus, nullptr)();
    }
  } reporter;
  bool heldByJob = false;
  reporter.onStatus = [&] { heldByJob = rig.bus.ClaimDevice(paths[0]).busy; };
  EXPECT_EQ(UpdateJob(reporter, rig.link).UpdateDatabase(padded.data(), 5000),
            UpdateOutcome::Succeeded);
  EXPECT_TRUE(heldByJob);
  EXPECT_FALSE(rig.bus.ClaimDevice(paths[0]).busy);  // and let go at its end
}

}  // namespace
}  // namespace gps

namespace gps {
namespace {

// A stop that comes once "更新成功!" is shown (the header is written) lets
// the restart go: the update ends as the success it says it is.
TEST(UpdateJob, AStopDuringTheRestartLetsTheRestartGo) {
  SimRig rig;
  struct StopAtSuccess : RecordingReporter {
    StopEvent* stop = nullptr;
    void SetStatusText(std::string_view text) override {
      RecordingReporter::SetStatusText(text);
      if (text == text::kUpdateSucceeded) stop->Set();
    }
  } reporter;
  reporter.stop = &rig.stop;
  std::vector<uint8_t> image = Image(5000);
  image.resize(5000 + 512, 0);
  EXPECT_EQ(UpdateJob(reporter, rig.link).UpdateDatabase(image.data(), 5000),
            UpdateOutcome::Succeeded);
  EXPECT_EQ(rig.device.Restarts(), 1);
  EXPECT_EQ(reporter.Only("status:").back(), S(text::kUpdateSucceeded));
}

}  // namespace
}  // namespace gps
