// The Win32 backend's transfers on real Win32 handles: named pipes stand in
// for the device, one for each direction, and the test plays the device's
// end of them. Only the enumeration is replaced.
#include "hid/backend_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "hid/hid_device.h"
#include "hid/tracing_backend.h"
#include "hid/win32/wide_text.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;

std::wstring UniquePipeName(const wchar_t* role) {
  static int counter = 0;
  return L"\\\\.\\pipe\\gps-hid-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(++counter) + L"-" + role;
}

// One "device" whose reports travel through two message pipes.
class PipeBackend : public Win32HidBackend {
 public:
  std::string inPath;   // device to host: opened for reading
  std::string outPath;  // host to device: opened for writing

  std::vector<std::string> EnumerateInterfaces() override { return {"pipe-device"}; }
  std::optional<HidAttributes> QueryAttributes(const std::string&) override {
    return HidAttributes{HID_VENDOR_ID, HID_PRODUCT_ID, 0};
  }
  HidOpenResult OpenData(const std::string&, HidAccess access) override {
    return Win32HidBackend::OpenData(access == HidAccess::Read ? inPath : outPath, access);
  }
};

class Win32TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring in = UniquePipeName(L"in");
    const std::wstring out = UniquePipeName(L"out");
    deviceIn_ = MakePipe(in, outBuffer_);
    deviceOut_ = MakePipe(out, outBuffer_);
    ASSERT_NE(deviceIn_, INVALID_HANDLE_VALUE);
    ASSERT_NE(deviceOut_, INVALID_HANDLE_VALUE);
    backend_.inPath = Utf8FromWide(in);
    backend_.outPath = Utf8FromWide(out);
  }
  void TearDown() override {
    if (deviceIn_ != INVALID_HANDLE_VALUE) CloseHandle(deviceIn_);
    if (deviceOut_ != INVALID_HANDLE_VALUE) CloseHandle(deviceOut_);
  }

  static HANDLE MakePipe(const std::wstring& name, DWORD buffer) {
    return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, buffer,
                            buffer, 0, nullptr);
  }

  LinkSettings Link(uint32_t boundMs) {
    LinkSettings link;
    link.backend = &backend_;
    link.stop = &stop_;
    link.bounds = LinkBounds{boundMs, boundMs};
    return link;
  }

  // The device sends one input report.
  void DeviceSends(const std::array<uint8_t, REPORT_SIZE>& report) {
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(deviceIn_, report.data(), REPORT_SIZE, &written, nullptr));
    ASSERT_EQ(written, REPORT_SIZE);
  }

  static std::array<uint8_t, REPORT_SIZE> Report(uint8_t fill) {
    std::array<uint8_t, REPORT_SIZE> r;
    r.fill(fill);
    r[0] = 0x00;
    return r;
  }

  DWORD outBuffer_ = 4096;
  PipeBackend backend_;
  StopEvent stop_;
  HANDLE deviceIn_ = INVALID_HANDLE_VALUE;
  HANDLE deviceOut_ = INVALID_HANDLE_VALUE;
};

TEST_F(Win32TransferTest, CompletedTransfersCountTheWholeReportWithOrWithoutACountPointer) {
  CHidDevice device(Link(2000));
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  ASSERT_TRUE(device.IsReadOpen() && device.IsWriteOpen());

  for (const bool withCount : {true, false}) {
    SCOPED_TRACE(withCount ? "with a count" : "null count pointer");
    const auto sent = Report(withCount ? 0x11 : 0x22);
    uint32_t count = 7;
    ASSERT_TRUE(device.WriteReport(sent.data(), REPORT_SIZE, withCount ? &count : nullptr));
    EXPECT_EQ(count, withCount ? REPORT_SIZE : 7u);
    std::array<uint8_t, REPORT_SIZE> atDevice{};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(deviceOut_, atDevice.data(), REPORT_SIZE, &got, nullptr));
    EXPECT_EQ(got, REPORT_SIZE);
    EXPECT_EQ(atDevice, sent);

    DeviceSends(Report(withCount ? 0x33 : 0x44));
    std::array<uint8_t, REPORT_SIZE> received{};
    count = 7;
    ASSERT_TRUE(device.ReadReport(received.data(), REPORT_SIZE, withCount ? &count : nullptr));
    EXPECT_EQ(count, withCount ? REPORT_SIZE : 7u);
    EXPECT_EQ(received, Report(withCount ? 0x33 : 0x44));
  }
}

TEST_F(Win32TransferTest, ReadThatTimesOutIsCancelledAndTakesNothingFromTheNextReport) {
  CHidDevice device(Link(150));
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  std::array<uint8_t, REPORT_SIZE> buffer;
  buffer.fill(0xEE);
  uint32_t count = 7;
  const auto start = Clock::now();
  EXPECT_FALSE(device.ReadReport(buffer.data(), REPORT_SIZE, &count));
  const auto took = Clock::now() - start;
  EXPECT_EQ(count, 0u);
  EXPECT_GE(took, std::chrono::milliseconds(140));
  EXPECT_LT(took, std::chrono::seconds(3));

  // The cancelled read is gone: the report that comes now goes whole to the
  // next read, and the old buffer stays as it was.
  DeviceSends(Report(0x5A));
  std::array<uint8_t, REPORT_SIZE> next{};
  ASSERT_TRUE(device.ReadReport(next.data(), REPORT_SIZE, &count));
  EXPECT_EQ(count, REPORT_SIZE);
  EXPECT_EQ(next, Report(0x5A));
  EXPECT_EQ(buffer[1], 0xEE);
}

TEST_F(Win32TransferTest, WriteThatTheDeviceNeverTakesTimesOut) {
  // Without buffer space a message waits until the device reads it.
  outBuffer_ = 0;
  TearDown();
  SetUp();
  CHidDevice device(Link(150));
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  const auto report = Report(0x01);
  uint32_t count = 7;
  bool sent = true;
  // A pipe may still take a message or two; a device that takes nothing at
  // all must make a write run out of time.
  for (int i = 0; i < 64 && sent; ++i)
    sent = device.WriteReport(report.data(), REPORT_SIZE, &count);
  EXPECT_FALSE(sent);
  EXPECT_EQ(count, 0u);
}

TEST_F(Win32TransferTest, StopTakesPrecedenceOverAReportThatIsThereAndIsResetAfterwards) {
  CHidDevice device(Link(2000));
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  DeviceSends(Report(0x66));
  stop_.Set();
  std::array<uint8_t, REPORT_SIZE> buffer{};
  uint32_t count = 7;
  EXPECT_FALSE(device.ReadReport(buffer.data(), REPORT_SIZE, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(stop_.IsSet());
  // The same signal does not stop the next transfer, and the report is
  // still there for it.
  ASSERT_TRUE(device.ReadReport(buffer.data(), REPORT_SIZE, &count));
  EXPECT_EQ(buffer, Report(0x66));
}

TEST_F(Win32TransferTest, StopEndsAWaitingReadLongBeforeItsBound) {
  CHidDevice device(Link(10000));
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the read start
    stop_.Set();
  });
  std::array<uint8_t, REPORT_SIZE> buffer{};
  uint32_t count = 7;
  const auto start = Clock::now();
  EXPECT_FALSE(device.ReadReport(buffer.data(), REPORT_SIZE, &count));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  stopper.join();
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(stop_.IsSet());
}

// The trace names the Win32 call that failed and its GetLastError().
TEST_F(Win32TransferTest, ReadFailsAtOnceWhenTheDeviceGoesAwayAndTheTraceSaysWhy) {
  std::ostringstream trace;
  TracingBackend tracer(backend_, trace);
  LinkSettings link = Link(10000);
  link.backend = &tracer;
  CHidDevice device(link);
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  CloseHandle(deviceIn_);
  deviceIn_ = INVALID_HANDLE_VALUE;
  std::array<uint8_t, REPORT_SIZE> buffer{};
  uint32_t count = 7;
  const auto start = Clock::now();
  EXPECT_FALSE(device.ReadReport(buffer.data(), REPORT_SIZE, &count));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(std::regex_search(trace.str(),
                                std::regex(R"(\] in failed \((ReadFile|GetOverlappedResult): [1-9]\d*\)\n)")))
      << trace.str();
}

TEST_F(Win32TransferTest, CloseTwiceReleasesBothHandlesOnce) {
  CHidDevice device(Link(2000));
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  device.Close();
  device.Close();
  EXPECT_FALSE(device.IsReadOpen());
  EXPECT_FALSE(device.IsWriteOpen());
  // The device's ends see the host gone.
  std::array<uint8_t, REPORT_SIZE> buffer{};
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(deviceOut_, buffer.data(), REPORT_SIZE, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  // A transfer after the close fails without touching a handle.
  uint32_t count = 7;
  EXPECT_FALSE(device.WriteReport(buffer.data(), REPORT_SIZE, &count));
  EXPECT_EQ(count, 0u);
}

TEST(Win32OpenTest, PathThatIsNotThereIsGoneAndTheTraceSaysWhy) {
  Win32HidBackend backend;
  std::ostringstream trace;
  TracingBackend tracer(backend, trace);
  const HidOpenResult result =
      tracer.OpenData("\\\\.\\pipe\\gps-hid-test-nobody-listens", HidAccess::Read);
  EXPECT_EQ(result.handle, kInvalidHidHandle);
  EXPECT_EQ(result.error, HidOpenError::Gone);
  EXPECT_STREQ(result.cause.call, "CreateFileW");
  EXPECT_TRUE(std::regex_search(
      trace.str(), std::regex(R"(nobody-listens: gone \(CreateFileW: )" +
                              std::to_string(result.cause.code) + R"(\)\n)")))
      << trace.str();
}

// The claim on a device is a named mutex in Global\, named after the path
// as Windows compares it: a second claim on the same interface, however its
// path is spelt, is busy until the first is let go; another path is free.
TEST(Win32DeviceClaim, OneHolderPerInterfacePath) {
  Win32HidBackend backend;
  const std::string path = "\\\\?\\hid#vid_0416&pid_b500#7&test&0&0000#{4d1e55b2}";
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  DeviceClaim first = backend.ClaimDevice(path);
  ASSERT_FALSE(first.busy);
  ASSERT_NE(first.lock, nullptr);
  EXPECT_TRUE(backend.ClaimDevice(upper).busy);
  EXPECT_FALSE(backend.ClaimDevice(path + "-other").busy);
  first.lock.reset();
  EXPECT_FALSE(backend.ClaimDevice(path).busy);
}

}  // namespace
}  // namespace gps
