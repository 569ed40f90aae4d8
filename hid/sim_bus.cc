#include "hid/sim_bus.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "hid/hid_device.h"

namespace gps {
namespace {

using Clock = SimPeer::Clock;

uint32_t MillisecondsUntil(Clock::time_point t) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now());
  return static_cast<uint32_t>(std::max<int64_t>(1, left.count() + 1));
}

// Waits until `until` or the deadline, whichever is first; returns how the
// transfer ends if it ends there.
std::optional<TransferStatus> WaitUntil(Clock::time_point until, Clock::time_point deadline,
                                        const StopEvent& stop) {
  if (stop.WaitFor(MillisecondsUntil(std::min(until, deadline)))) return TransferStatus::Stopped;
  if (Clock::now() >= deadline) return TransferStatus::TimedOut;
  return std::nullopt;
}

}  // namespace

struct SimBus::Handle {
  SimPeer* peer = nullptr;
  HidAccess access = HidAccess::Read;
  std::atomic<bool> open{true};
  Clock::time_point openedAt = Clock::now();
  // This handle's place in the peer's input reports: the number of the next
  // one, and how many of its payload bytes earlier reads took.
  uint64_t next = 0;
  std::size_t offset = 0;
  uint32_t emptyReadsLeft = 0;

  // The next input report for this handle, due or not. Reports sent before
  // the handle was open never reach it.
  std::optional<SimPeer::InputReport> NextReport() {
    std::optional<SimPeer::InputReport> report = peer->NextInputReport(next);
    while (report && report->sentAt < openedAt) report = peer->NextInputReport(report->number + 1);
    if (report && report->number != next) {
      next = report->number;
      offset = 0;
    }
    return report;
  }
};

SimBus::SimBus() = default;
SimBus::SimBus(SimPeer& device) { AddDevice(device); }
SimBus::~SimBus() = default;

void SimBus::AddInterface(SimInterface interface) {
  std::lock_guard<std::mutex> lock(mutex_);
  interfaces_.push_back(std::move(interface));
}

void SimBus::AddDevice(SimPeer& device, std::string path, std::string serial) {
  AddInterface({std::move(path), HID_VENDOR_ID, HID_PRODUCT_ID, true, &device, std::move(serial)});
}

uint64_t SimBus::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

const SimInterface* SimBus::Find(const std::string& path) const {
  for (const SimInterface& i : interfaces_) {
    if (i.path == path && (!i.peer || i.peer->Plugged())) return &i;
  }
  return nullptr;
}

std::vector<std::string> SimBus::EnumerateInterfaces() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> paths;
  for (const SimInterface& i : interfaces_) {
    if (!i.peer || i.peer->Plugged()) paths.push_back(i.path);
  }
  return paths;
}

std::optional<HidAttributes> SimBus::QueryAttributes(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimInterface* i = Find(path);
  if (!i || !i->queryable) return std::nullopt;
  return HidAttributes{i->vendorId, i->productId, 0x0100};
}

std::string SimBus::QuerySerial(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimInterface* i = Find(path);
  return i ? i->serial : std::string();
}

HidOpenResult SimBus::OpenData(const std::string& path, HidAccess access) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimInterface* i = Find(path);
  if (!i) return {kInvalidHidHandle, HidOpenError::Gone};
  if (!i->peer) return {kInvalidHidHandle, HidOpenError::AccessDenied};
  const HidOpenError refusal = i->peer->OpenRefusal(access);
  if (refusal != HidOpenError::None) return {kInvalidHidHandle, refusal};
  auto handle = std::make_shared<Handle>();
  handle->peer = i->peer;
  handle->access = access;
  handle->emptyReadsLeft = i->peer->Delivery().emptyReads;
  const HidHandle id = nextHandle_++;
  handles_.emplace(id, std::move(handle));
  return {id, HidOpenError::None};
}

TransferResult SimBus::Transfer(HidHandle id, HidDirection direction,
                                uint8_t* buffer, uint32_t length,
                                uint32_t boundMs, const StopEvent& stop) {
  std::shared_ptr<Handle> h;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = handles_.find(id);
    if (found == handles_.end()) return {};
    h = found->second;
  }
  const bool read = direction == HidDirection::Read;
  if (!h->open || (h->access == HidAccess::Read) != read) return {};
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs);
  return read ? Read(*h, buffer, length, deadline, stop)
              : Write(*h, buffer, length, deadline, stop);
}

TransferResult SimBus::Write(Handle& h, const uint8_t* buffer, uint32_t length,
                             Clock::time_point deadline, const StopEvent& stop) {
  const SimPeer::WriteAnswer answer = h.peer->TakeOutputReport(buffer, length);
  switch (answer.kind) {
    case SimPeer::WriteAnswer::Kind::Taken:
      return {TransferStatus::Completed, answer.count};
    case SimPeer::WriteAnswer::Kind::Stalled:
      return {WaitUntil(deadline, deadline, stop).value_or(TransferStatus::TimedOut), 0};
    case SimPeer::WriteAnswer::Kind::Refused:
      break;
  }
  return {};
}

TransferResult SimBus::Read(Handle& h, uint8_t* buffer, uint32_t length,
                            Clock::time_point deadline, const StopEvent& stop) {
  for (;;) {
    if (!h.open || !h.peer->Plugged()) return {};
    if (h.emptyReadsLeft > 0) {
      --h.emptyReadsLeft;
      return {TransferStatus::Completed, 0};
    }
    const Clock::time_point now = Clock::now();
    std::optional<SimPeer::InputReport> report = h.NextReport();
    if (report && report->sentAt <= now) {
      // Payload bytes run on from one report into the next, as far as they
      // are due, up to the read's chunk.
      const uint32_t room = std::min<uint32_t>(h.peer->Delivery().chunk,
                                               length > 0 ? length - 1 : 0);
      uint32_t n = 0;
      buffer[0] = 0x00;
      while (n < room && report && report->sentAt <= now) {
        const uint32_t take = std::min<uint32_t>(
            room - n, static_cast<uint32_t>(report->payload.size() - h.offset));
        std::memcpy(buffer + 1 + n, report->payload.data() + h.offset, take);
        n += take;
        h.offset += take;
        if (h.offset == report->payload.size()) {
          h.next = report->number + 1;
          h.offset = 0;
          report = h.NextReport();
        }
      }
      return {TransferStatus::Completed, n + 1};
    }
    const Clock::time_point next = report ? report->sentAt : deadline;
    if (auto end = WaitUntil(next, deadline, stop)) return {*end, 0};
  }
}

std::optional<HidReportLengths> SimBus::ReportLengths(HidHandle id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = handles_.find(id);
  if (found == handles_.end()) return std::nullopt;
  return found->second->peer->ReportLengths();
}

void SimBus::Cancel(HidHandle) {
  // Transfers finish inside Transfer: nothing is ever left outstanding.
}

void SimBus::Close(HidHandle id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = handles_.find(id);
  if (found == handles_.end()) return;
  found->second->open = false;  // a transfer that still runs on it ends
  handles_.erase(found);
}

}  // namespace gps
