// Fakes of the device link's layer, for tests of hid/ and above: nothing in
// here knows what the reports mean. A test that watches or changes a few
// calls of a backend derives from ForwardingBackend (hid/forwarding_backend.h).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "hid/forwarding_backend.h"
#include "hid/hid_backend.h"
#include "hid/sim_bus.h"

namespace gps::test {

// A peer that knows nothing of any protocol: it keeps what it is given and
// sends the input reports a test plans for it.
class PlannedPeer : public SimPeer {
 public:
  bool Plugged() const override { return true; }
  HidOpenError OpenRefusal(HidAccess access) const override {
    return access == HidAccess::Read ? refuseRead : refuseWrite;
  }
  ReadDelivery Delivery() const override { return delivery; }
  HidReportLengths ReportLengths() const override { return {65, 65}; }
  WriteAnswer TakeOutputReport(const uint8_t* report, uint32_t length) override {
    taken.emplace_back(report, report + length);
    return {answer, answer == WriteAnswer::Kind::Taken ? length : 0};
  }
  std::optional<InputReport> NextInputReport(uint64_t from) const override {
    for (const InputReport& r : planned)
      if (r.number >= from) return r;
    return std::nullopt;
  }

  // Plans report `number`, sent `after` from now, whose payload is `fill`.
  void Plan(uint64_t number, std::chrono::milliseconds after, uint8_t fill) {
    InputReport r;
    r.number = number;
    r.sentAt = SimPeer::Clock::now() + after;
    r.payload.fill(fill);
    planned.push_back(r);
  }

  HidOpenError refuseRead = HidOpenError::None;
  HidOpenError refuseWrite = HidOpenError::None;
  ReadDelivery delivery;
  WriteAnswer::Kind answer = WriteAnswer::Kind::Taken;
  std::vector<InputReport> planned;
  std::vector<std::vector<uint8_t>> taken;
};

}  // namespace gps::test
