// Fakes shared by the tests: a reporter that records what the user would
// have seen, and a simulated device on its bus with short bounds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_device.h"
#include "hid/sim_device.h"
#include "protocol/update_reporter.h"

namespace gps::testing {

// Records every request as one line: "status:…", "range:N", "pos:N",
// "message:…", so a test can compare the whole sequence at once.
class RecordingReporter : public UpdateReporter {
 public:
  void SetStatusText(std::string_view text) override {
    events.push_back("status:" + std::string(text));
  }
  void SetProgressRange(uint32_t upper) override {
    events.push_back("range:" + std::to_string(upper));
  }
  void SetProgressPosition(uint32_t position) override {
    events.push_back("pos:" + std::to_string(position));
  }
  void ShowMessage(std::string_view text) override {
    events.push_back("message:" + std::string(text));
  }

  // Only the events that start with `kind` ("status:", "pos:", …), without it.
  std::vector<std::string> Only(std::string_view kind) const {
    std::vector<std::string> out;
    for (const std::string& e : events)
      if (e.rfind(kind, 0) == 0) out.push_back(e.substr(kind.size()));
    return out;
  }
  std::string LastStatus() const {
    auto statuses = Only("status:");
    return statuses.empty() ? std::string() : statuses.back();
  }

  std::vector<std::string> events;
};

// Passes every call on to another backend; a test derives from it to watch
// or change the few calls it cares about.
class ForwardingBackend : public HidBackend {
 public:
  explicit ForwardingBackend(HidBackend& inner) : inner_(inner) {}
  std::vector<std::string> EnumerateInterfaces() override { return inner_.EnumerateInterfaces(); }
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override {
    return inner_.QueryAttributes(path);
  }
  std::string QuerySerial(const std::string& path) override { return inner_.QuerySerial(path); }
  HidOpenResult OpenData(const std::string& path, HidAccess access) override {
    return inner_.OpenData(path, access);
  }
  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
    return inner_.Transfer(handle, direction, buffer, length, boundMs, stop);
  }
  TransferResult Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) override {
    return inner_.Flush(handle, boundMs, stop);
  }
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override {
    return inner_.ReportLengths(handle);
  }
  void Cancel(HidHandle handle) override { inner_.Cancel(handle); }
  void Close(HidHandle handle) override { inner_.Close(handle); }

 private:
  HidBackend& inner_;
};

// Bounds short enough that a test of a stalled device ends at once.
inline LinkBounds ShortBounds() { return LinkBounds{200, 200}; }

// A device on a bus of its own.
struct SimRig {
  explicit SimRig(SimConfig config = {}) : device(std::move(config)), bus(device) {
    link.backend = &bus;
    link.stop = &stop;
    link.bounds = ShortBounds();
  }
  SimDevice device;
  SimBus bus;
  StopEvent stop;
  LinkSettings link;
};

}  // namespace gps::testing
