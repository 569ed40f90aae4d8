#include "sim/device_model.h"

#include <algorithm>
#include <cstring>

namespace gps {
namespace {

// The device's own view of the command block, as its firmware knows it.
constexpr uint16_t kEraseSectors = 0x0E71;
constexpr uint16_t kWritePages = 0x0EC3;
constexpr uint16_t kRestart = 0x0EA5;
constexpr uint32_t kSignature = 0x43444948;  // "HIDC"
constexpr uint32_t kRestartArg1 = 0x12345678;
constexpr uint32_t kRestartArg2 = 0xABCDEF01;
constexpr uint32_t kSummedBytes = 14;  // the checksum covers what comes before it
constexpr uint32_t kPageSize = 256;
constexpr uint32_t kSectorCount = SIM_FLASH_SIZE / SIM_SECTOR_SIZE;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t ByteSum(const uint8_t* p, uint32_t n) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < n; ++i) sum += p[i];
  return sum;
}

EraseMessage ProgressMessage(uint32_t value) {
  EraseMessage m{};
  for (int i = 0; i < 4; ++i) m[i] = static_cast<uint8_t>(value >> (8 * i));
  return m;
}

EraseMessage OverMessage() {
  EraseMessage m{};
  std::memcpy(m.data(), "over", 4);
  return m;
}

}  // namespace

DeviceModel::DeviceModel(SimFlash::Storage storage, EraseBehaviour erase)
    : erase_(std::move(erase)), flash_(storage) {}

void DeviceModel::SetEraseBehaviour(EraseBehaviour erase) { erase_ = std::move(erase); }

void DeviceModel::Erase(uint32_t first, uint32_t count, Clock::time_point now) {
  for (uint64_t s = first; s < uint64_t{first} + count && s < kSectorCount; ++s)
    flash_.EraseSector(static_cast<uint32_t>(s));
  firstMessage_ += messages_.size();
  messages_.clear();
  if (!erase_.script.empty()) {
    messages_ = erase_.script;
  } else {
    const std::vector<uint32_t> defaults{25, 50, 75, 100};
    for (uint32_t v : erase_.progress.empty() ? defaults : erase_.progress)
      messages_.push_back(ProgressMessage(v));
    if (erase_.sendOver) messages_.push_back(OverMessage());
  }
  eraseStart_ = now;
  eraseGap_ = erase_.gap;
}

void DeviceModel::Receive(const uint8_t* payload, Clock::time_point now) {
  if (dataReportsLeft_ > 0) {
    defects_ += flash_.Program(writeAddress_, payload);
    writeAddress_ += kPayloadSize;
    --dataReportsLeft_;
    if (recordCommands_) ++commands_.back().dataReports;
    return;
  }
  const uint16_t code = Le16(payload);
  const uint32_t arg1 = Le32(payload + 2);
  const uint32_t arg2 = Le32(payload + 6);
  const bool accepted = Le32(payload + 10) == kSignature &&
                        Le32(payload + kSummedBytes) == ByteSum(payload, kSummedBytes) &&
                        Execute(code, arg1, arg2, now);
  if (!accepted) ++rejected_;
  if (recordCommands_) commands_.push_back({code, arg1, arg2, accepted, 0});
}

bool DeviceModel::Execute(uint16_t code, uint32_t arg1, uint32_t arg2, Clock::time_point now) {
  switch (code) {
    case kEraseSectors:
      Erase(arg1, arg2, now);
      return true;
    case kWritePages:
      writeAddress_ = arg1 * kPageSize;
      dataReportsLeft_ = uint64_t{arg2} * (kPageSize / kPayloadSize);
      return true;
    case kRestart:
      if (arg1 != kRestartArg1 || arg2 != kRestartArg2) return false;
      ++restarts_;
      return true;
    default:
      return false;
  }
}

void DeviceModel::PortReset() {
  dataReportsLeft_ = 0;
  firstMessage_ += messages_.size();
  messages_.clear();
}

std::optional<DeviceModel::InputReport> DeviceModel::NextInputReport(uint64_t from) const {
  const uint64_t number = std::max(from, firstMessage_);
  const uint64_t index = number - firstMessage_;
  if (index >= messages_.size()) return std::nullopt;
  return InputReport{number, eraseStart_ + eraseGap_ * static_cast<int64_t>(index + 1),
                     messages_[index]};
}

}  // namespace gps
