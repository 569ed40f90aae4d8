#include "sim/sim_device.h"

#include <cstring>

namespace gps {

SimDevice::SimDevice(SimConfig config)
    : config_(std::move(config)), model_(config_.flashStorage, Erase()) {}

EraseBehaviour SimDevice::Erase() const {
  return {config_.progress, config_.eraseScript, config_.progressGap, config_.faults.sendOver};
}

std::vector<uint8_t> SimDevice::ReadFlash(uint32_t address, uint32_t length) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.Flash().Read(address, length);
}

uint64_t SimDevice::PageDigest(uint32_t page) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.Flash().PageDigest(page);
}

std::vector<Report> SimDevice::OutputReports() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

uint64_t SimDevice::OutputReportCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taken_;
}

int SimDevice::Restarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.Restarts();
}

int SimDevice::RejectedCommands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.RejectedCommands();
}

uint64_t SimDevice::WriteDefects() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.WriteDefects();
}

void SimDevice::Receive(const uint8_t* report) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.Receive(report + 1, Clock::now());
  ++taken_;
}

void SimDevice::SetFaults(const SimFaults& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.faults = faults;
  model_.SetEraseBehaviour(Erase());
}

void SimDevice::Unplug() {
  std::lock_guard<std::mutex> lock(mutex_);
  plugged_ = false;
}

void SimDevice::Plug() {
  std::lock_guard<std::mutex> lock(mutex_);
  plugged_ = true;
}

bool SimDevice::Plugged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return plugged_;
}

HidOpenError SimDevice::OpenRefusal(HidAccess access) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimFaults& f = config_.faults;
  const bool refused = access == HidAccess::Read ? f.refuseReadOpen : f.refuseWriteOpen;
  return refused ? f.refusal : HidOpenError::None;
}

SimPeer::ReadDelivery SimDevice::Delivery() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {config_.faults.readChunk, config_.faults.zeroByteReads};
}

HidReportLengths SimDevice::ReportLengths() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_.reportLengths;
}

SimPeer::WriteAnswer SimDevice::TakeOutputReport(const uint8_t* report, uint32_t length) {
  using Kind = WriteAnswer::Kind;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!plugged_) return {Kind::Refused, 0};
  const SimFaults& f = config_.faults;
  const uint64_t attempt = ++attempts_;
  if (attempt == f.failWriteAt) return {Kind::Refused, 0};
  if (attempt == f.stallWriteAt) return {Kind::Stalled, 0};
  // As on Windows, a write must be exactly the declared output report.
  if (length != Report().size() || length != config_.reportLengths.output) {
    return {Kind::Refused, 0};
  }
  if (config_.recordReports) {
    Report r;
    std::memcpy(r.data(), report, r.size());
    reports_.push_back(r);
  }
  model_.Receive(report + 1, Clock::now());
  ++taken_;
  if (taken_ == f.unplugAfterReports) plugged_ = false;
  return {Kind::Taken, attempt == f.shortCountAt ? f.shortCount : length};
}

std::optional<SimPeer::InputReport> SimDevice::NextInputReport(uint64_t from) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::optional<DeviceModel::InputReport> next = model_.NextInputReport(from);
  if (!next) return std::nullopt;
  return InputReport{next->number, next->sentAt, next->payload};
}

}  // namespace gps
