// Fakes shared by the tests above the device link: a reporter that records
// what the user would have seen, and a simulated device on its bus with
// short bounds. The link's own fakes are in hid_fakes.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hid/hid_device.h"
#include "sim/sim_device.h"
#include "tests/hid_fakes.h"
#include "protocol/update_reporter.h"

namespace gps::test {

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

}  // namespace gps::test
