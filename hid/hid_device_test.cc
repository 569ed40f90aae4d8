#include "hid/hid_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>

namespace gps {
namespace {

// A backend that plays back scripted transfer results and writes down every
// call the link makes, so the order of opens, cancels and closes shows.
class ScriptedBackend : public HidBackend {
 public:
  struct Interface {
    std::string path;
    std::optional<HidAttributes> attributes;
    bool readOpens = true;
    bool writeOpens = true;
    std::optional<HidReportLengths> reportLengths = HidReportLengths{65, 65};
  };

  std::vector<Interface> interfaces;
  std::deque<TransferResult> results;  // one per transfer, in order
  bool setStopOnTransfer = false;      // the stop arrives while a transfer completes
  std::vector<std::string> calls;

  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths;
    for (const Interface& i : interfaces) paths.push_back(i.path);
    return paths;
  }
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override {
    calls.push_back("query " + path);
    return Find(path).attributes;
  }
  std::string QuerySerial(const std::string& path) override {
    calls.push_back("serial " + path);
    return {};
  }
  HidOpenResult OpenData(const std::string& path, HidAccess access) override {
    opened = path;
    const bool read = access == HidAccess::Read;
    calls.push_back(std::string(read ? "open-read " : "open-write ") + path);
    const Interface& i = Find(path);
    if (!(read ? i.readOpens : i.writeOpens)) return {kInvalidHidHandle, HidOpenError::AccessDenied};
    return {read ? 10 : 20, HidOpenError::None};
  }
  TransferResult Transfer(HidHandle handle, HidDirection, uint8_t*, uint32_t,
                          uint32_t, const StopEvent& stop) override {
    calls.push_back("transfer " + std::to_string(handle));
    if (setStopOnTransfer) const_cast<StopEvent&>(stop).Set();
    TransferResult r = results.front();
    results.pop_front();
    return r;
  }
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override {
    calls.push_back("lengths " + std::to_string(handle));
    return Find(opened).reportLengths;
  }
  void Cancel(HidHandle handle) override { calls.push_back("cancel " + std::to_string(handle)); }
  void Close(HidHandle handle) override { calls.push_back("close " + std::to_string(handle)); }

 private:
  std::string opened;  // the path of the last data open
  const Interface& Find(const std::string& path) {
    for (const Interface& i : interfaces)
      if (i.path == path) return i;
    static const Interface none;
    return none;
  }
};

HidAttributes Attr(uint16_t vendorId, uint16_t productId) {
  HidAttributes a;
  a.vendorId = vendorId;
  a.productId = productId;
  return a;
}

const HidAttributes kOurs = Attr(HID_VENDOR_ID, HID_PRODUCT_ID);

class LinkTest : public ::testing::Test {
 protected:
  LinkSettings Settings() {
    LinkSettings s;
    s.backend = &backend;
    s.stop = &stop;
    return s;
  }
  ScriptedBackend backend;
  StopEvent stop;
};

TEST_F(LinkTest, WithoutADeviceOpenFailsAndCloseDoesNothing) {
  backend.interfaces = {{"mouse", Attr(0x046d, 0xc077)}};
  {
    CHidDevice device(Settings());
    EXPECT_FALSE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
    EXPECT_FALSE(device.IsReadOpen());
    EXPECT_FALSE(device.IsWriteOpen());
    device.Close();
  }
  EXPECT_EQ(backend.calls, (std::vector<std::string>{"query mouse"}));
}

TEST_F(LinkTest, FirstMatchingInterfaceWinsAndNearMissesAreSkipped) {
  backend.interfaces = {
      {"unqueryable", std::nullopt},
      {"other-product", Attr(HID_VENDOR_ID, 0xB501)},
      {"other-vendor", Attr(0x0417, HID_PRODUCT_ID)},
      {"first", kOurs},
      {"second", kOurs},
  };
  CHidDevice device(Settings());
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  EXPECT_EQ(device.Path(), "first");
  EXPECT_EQ(backend.calls,
            (std::vector<std::string>{"query unqueryable", "query other-product",
                                      "query other-vendor", "query first",
                                      "open-read first", "open-write first", "lengths 20"}));
}

// Another firmware behind our identifiers is closed again before anything
// could reach it; a platform that does not tell the lengths is trusted.
TEST_F(LinkTest, ADeviceWithReportsOfAnotherLengthGetsNothing) {
  struct Case {
    const char* name;
    std::optional<HidReportLengths> lengths;
    HidOpenError error;
  };
  const Case cases[] = {
      {"this firmware", HidReportLengths{65, 65}, HidOpenError::None},
      {"not told", std::nullopt, HidOpenError::None},
      {"short output report", HidReportLengths{65, 9}, HidOpenError::UnexpectedReports},
      {"long input report", HidReportLengths{129, 65}, HidOpenError::UnexpectedReports},
      {"no report identifier counted", HidReportLengths{64, 64},
       HidOpenError::UnexpectedReports},
      {"no input report", HidReportLengths{0, 65}, HidOpenError::UnexpectedReports},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backend.interfaces = {{"dev", kOurs, true, true, c.lengths}};
    backend.results = {{TransferStatus::Completed, 65}};
    backend.calls.clear();
    CHidDevice device(Settings());
    ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
    EXPECT_EQ(device.OpenError(), c.error);
    const bool fits = c.error == HidOpenError::None;
    EXPECT_EQ(device.IsReadOpen(), fits);
    EXPECT_EQ(device.IsWriteOpen(), fits);
    uint8_t report[REPORT_SIZE] = {};
    EXPECT_EQ(device.WriteReport(report, REPORT_SIZE, nullptr), fits);
    const bool transferred =
        std::find(backend.calls.begin(), backend.calls.end(), "transfer 20") != backend.calls.end();
    EXPECT_EQ(transferred, fits);
  }
}

TEST_F(LinkTest, PathsOfAnyLengthAreHandled) {
  const std::string longPath(4000, 'p');
  backend.interfaces = {{longPath, kOurs}};
  CHidDevice device(Settings());
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  EXPECT_EQ(device.Path(), longPath);
}

TEST_F(LinkTest, ADeviceThatRefusesWritingIsFoundButCannotBeWritten) {
  backend.interfaces = {{"dev", kOurs, true, false}};
  CHidDevice device(Settings());
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  EXPECT_EQ(device.OpenError(), HidOpenError::AccessDenied);
  uint8_t report[REPORT_SIZE] = {};
  uint32_t count = 99;
  EXPECT_FALSE(device.WriteReport(report, REPORT_SIZE, &count));
  EXPECT_EQ(count, 0u);
}

TEST_F(LinkTest, TransferOutcomes) {
  struct Case {
    const char* name;
    TransferResult result;
    bool stopArrives;
    bool expectOk;
    uint32_t expectCount;
    bool expectStopAfter;
  };
  const Case cases[] = {
      {"completed", {TransferStatus::Completed, 65}, false, true, 65, false},
      {"failed", {TransferStatus::Failed, 0}, false, false, 0, false},
      {"timed out", {TransferStatus::TimedOut, 0}, false, false, 0, false},
      {"stopped while waiting", {TransferStatus::Stopped, 0}, true, false, 0, false},
      // The stop event takes precedence over a completion at the same time,
      // and is consumed so the next transfer is not stopped by it.
      {"stopped as it completed", {TransferStatus::Completed, 65}, true, false, 0, false},
      // A failed transfer leaves a pending stop for the next wait.
      {"failed with a stop pending", {TransferStatus::Failed, 0}, true, false, 0, true},
  };
  backend.interfaces = {{"dev", kOurs}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stop.Reset();
    backend.results = {c.result};
    backend.setStopOnTransfer = c.stopArrives;
    CHidDevice device(Settings());
    ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
    uint8_t report[REPORT_SIZE] = {};
    uint32_t count = 99;
    EXPECT_EQ(device.ReadReport(report, REPORT_SIZE, &count), c.expectOk);
    EXPECT_EQ(count, c.expectCount);
    EXPECT_EQ(stop.IsSet(), c.expectStopAfter);
  }
}

TEST_F(LinkTest, ANullCountPointerIsAllowed) {
  backend.interfaces = {{"dev", kOurs}};
  backend.results = {{TransferStatus::Completed, 65}, {TransferStatus::Failed, 0}};
  CHidDevice device(Settings());
  ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
  uint8_t report[REPORT_SIZE] = {};
  EXPECT_TRUE(device.WriteReport(report, REPORT_SIZE, nullptr));
  EXPECT_FALSE(device.WriteReport(report, REPORT_SIZE, nullptr));
}

TEST_F(LinkTest, CloseCancelsBothBeforeClosingBothAndOnlyOnce) {
  backend.interfaces = {{"dev", kOurs}};
  {
    CHidDevice device(Settings());
    ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
    backend.calls.clear();
    device.Close();
    device.Close();
  }  // the destructor closes nothing more
  EXPECT_EQ(backend.calls, (std::vector<std::string>{"cancel 10", "cancel 20", "close 10",
                                                     "close 20"}));
}

TEST_F(LinkTest, DestructionClosesWhatIsStillOpen) {
  backend.interfaces = {{"dev", kOurs}};
  {
    CHidDevice device(Settings());
    ASSERT_TRUE(device.Open(HID_VENDOR_ID, HID_PRODUCT_ID));
    backend.calls.clear();
  }
  EXPECT_EQ(backend.calls, (std::vector<std::string>{"cancel 10", "cancel 20", "close 10",
                                                     "close 20"}));
}

}  // namespace
}  // namespace gps
