#include "hid/sim_device.h"

#include <algorithm>
#include <cstring>

#include "hid/hid_device.h"
#include "protocol/command_block.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kSectorCount = SIM_FLASH_SIZE / SIM_SECTOR_SIZE;
constexpr uint32_t kPageSize = 256;

uint32_t LE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
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

uint32_t MillisecondsUntil(Clock::time_point t) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      t - Clock::now());
  return static_cast<uint32_t>(std::max<int64_t>(1, left.count() + 1));
}

}  // namespace

struct SimDevice::Impl {
  explicit Impl(SimConfig c) : config(std::move(c)), flash(config.flashStorage) {}

  mutable std::mutex mutex;
  SimConfig config;
  bool plugged = true;

  SimFlash flash;

  std::vector<Report> reports;
  uint64_t attempts = 0;  // output reports offered, taken or not
  uint64_t taken = 0;     // output reports the device took
  int restarts = 0;
  int rejected = 0;
  uint64_t defects = 0;

  // A page write in progress: where the next data report goes.
  uint64_t dataReportsLeft = 0;
  uint32_t writeAddress = 0;

  // The messages of the last erase, each due `progressGap` after the one
  // before it. Readers that were not open when a message fell due miss it,
  // as they do with the kernel's per-handle report queues.
  std::vector<EraseMessage> messages;
  Clock::time_point eraseStart{};
  uint64_t eraseGeneration = 0;

  Clock::time_point Due(std::size_t index) const {
    return eraseStart + config.progressGap * static_cast<int64_t>(index + 1);
  }

  void Erase(uint32_t first, uint32_t count) {
    for (uint64_t s = first; s < uint64_t{first} + count && s < kSectorCount; ++s)
      flash.EraseSector(static_cast<uint32_t>(s));
    messages.clear();
    if (!config.eraseScript.empty()) {
      messages = config.eraseScript;
    } else {
      const std::vector<uint32_t> defaults{25, 50, 75, 100};
      for (uint32_t v : config.progress.empty() ? defaults : config.progress)
        messages.push_back(ProgressMessage(v));
      if (config.faults.sendOver) messages.push_back(OverMessage());
    }
    eraseStart = Clock::now();
    ++eraseGeneration;
  }

  void Take(const uint8_t* report) {
    if (dataReportsLeft > 0) {
      defects += flash.Program(writeAddress, report + 1);
      writeAddress += 64;
      --dataReportsLeft;
      return;
    }
    const uint8_t* block = report + 1;
    const uint16_t code = static_cast<uint16_t>(block[0] | block[1] << 8);
    const uint32_t arg1 = LE32(block + 2);
    const uint32_t arg2 = LE32(block + 6);
    if (LE32(block + 10) != CMD_SIGNATURE || LE32(block + 14) != CheckSum(block, 14)) {
      ++rejected;
      return;
    }
    switch (code) {
      case CMD_ERASE_SECTORS:
        Erase(arg1, arg2);
        break;
      case CMD_WRITE_PAGES:
        writeAddress = arg1 * kPageSize;
        dataReportsLeft = uint64_t{arg2} * (kPageSize / 64);
        break;
      case CMD_RESTART:
        if (arg1 == RESTART_ARG1 && arg2 == RESTART_ARG2) ++restarts;
        else ++rejected;
        break;
      default:
        ++rejected;
    }
  }
};

SimDevice::SimDevice(SimConfig config)
    : impl_(std::make_shared<Impl>(std::move(config))) {}

std::vector<uint8_t> SimDevice::ReadFlash(uint32_t address, uint32_t length) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->flash.Read(address, length);
}

uint64_t SimDevice::PageDigest(uint32_t page) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->flash.PageDigest(page);
}

std::vector<Report> SimDevice::OutputReports() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->reports;
}

uint64_t SimDevice::OutputReportCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->taken;
}

int SimDevice::Restarts() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->restarts;
}

int SimDevice::RejectedCommands() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->rejected;
}

uint64_t SimDevice::WriteDefects() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->defects;
}

bool SimDevice::Plugged() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->plugged;
}

void SimDevice::Receive(const uint8_t* report) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Take(report);
  ++impl_->taken;
}

void SimDevice::SetFaults(const SimFaults& faults) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->config.faults = faults;
}

void SimDevice::Unplug() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->plugged = false;
}

void SimDevice::Plug() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->plugged = true;
}

// ---------------------------------------------------------------------------

struct SimBus::Handle {
  std::shared_ptr<SimDevice::Impl> device;
  HidAccess access = HidAccess::Read;
  bool open = true;
  Clock::time_point openedAt = Clock::now();
  // Read position in the device's erase messages.
  uint64_t generation = 0;
  std::size_t message = 0;
  std::size_t offset = 0;
  uint32_t zeroReadsLeft = 0;
};

SimBus::SimBus() = default;
SimBus::SimBus(SimDevice& device) { AddDevice(device); }
SimBus::~SimBus() = default;

void SimBus::AddInterface(SimInterface interface) {
  std::lock_guard<std::mutex> lock(mutex_);
  interfaces_.push_back(std::move(interface));
}

void SimBus::AddDevice(SimDevice& device, std::string path) {
  AddInterface({std::move(path), HID_VENDOR_ID, HID_PRODUCT_ID, true, &device, ""});
}

uint64_t SimBus::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint64_t>(std::count_if(
      handles_.begin(), handles_.end(), [](const auto& h) { return h->open; }));
}

const SimInterface* SimBus::Find(const std::string& path) const {
  for (const SimInterface& i : interfaces_) {
    if (i.path == path && (!i.device || i.device->Plugged())) return &i;
  }
  return nullptr;
}

std::vector<std::string> SimBus::EnumerateInterfaces() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> paths;
  for (const SimInterface& i : interfaces_) {
    if (!i.device || i.device->Plugged()) paths.push_back(i.path);
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
  if (!i->device) return {kInvalidHidHandle, HidOpenError::AccessDenied};
  auto handle = std::make_unique<Handle>();
  handle->device = i->device->impl_;
  handle->access = access;
  {
    SimDevice::Impl& d = *handle->device;
    std::lock_guard<std::mutex> deviceLock(d.mutex);
    const SimFaults& f = d.config.faults;
    if ((access == HidAccess::Read && f.refuseReadOpen) ||
        (access == HidAccess::Write && f.refuseWriteOpen)) {
      return {kInvalidHidHandle, f.refusal};
    }
    handle->generation = d.eraseGeneration;
    handle->zeroReadsLeft = f.zeroByteReads;
  }
  handles_.push_back(std::move(handle));
  return {static_cast<HidHandle>(handles_.size() - 1), HidOpenError::None};
}

TransferResult SimBus::Transfer(HidHandle id, HidDirection direction,
                                uint8_t* buffer, uint32_t length,
                                uint32_t boundMs, const StopEvent& stop) {
  Handle* h = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id < 0 || static_cast<std::size_t>(id) >= handles_.size()) return {};
    h = handles_[static_cast<std::size_t>(id)].get();
  }
  const bool read = direction == HidDirection::Read;
  if (!h->open || (h->access == HidAccess::Read) != read) return {};
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs);
  return read ? Read(*h, buffer, length, deadline, stop)
              : Write(*h, buffer, length, deadline, stop);
}

namespace {

// Waits until `until` or the deadline, whichever is first; returns how the
// transfer ends if it ends there.
std::optional<TransferStatus> WaitUntil(Clock::time_point until, Clock::time_point deadline,
                                        const StopEvent& stop) {
  if (stop.WaitFor(MillisecondsUntil(std::min(until, deadline)))) return TransferStatus::Stopped;
  if (Clock::now() >= deadline) return TransferStatus::TimedOut;
  return std::nullopt;
}

}  // namespace

TransferResult SimBus::Write(Handle& h, const uint8_t* buffer, uint32_t length,
                             Clock::time_point deadline, const StopEvent& stop) {
  SimDevice::Impl& d = *h.device;
  std::unique_lock<std::mutex> lock(d.mutex);
  if (!d.plugged) return {};
  const SimFaults& f = d.config.faults;
  const uint64_t attempt = ++d.attempts;
  if (attempt == f.failWriteAt) return {};
  if (attempt == f.stallWriteAt) {
    lock.unlock();
    return {WaitUntil(deadline, deadline, stop).value_or(TransferStatus::TimedOut), 0};
  }
  // As on Windows, a write must be exactly the declared output report.
  if (length != REPORT_SIZE || length != d.config.reportLengths.output) return {};
  if (d.config.recordReports) {
    Report r;
    std::memcpy(r.data(), buffer, r.size());
    d.reports.push_back(r);
  }
  d.Take(buffer);
  ++d.taken;
  if (d.taken == f.unplugAfterReports) d.plugged = false;
  const uint32_t count = attempt == f.shortCountAt ? f.shortCount : length;
  return {TransferStatus::Completed, count};
}

TransferResult SimBus::Read(Handle& h, uint8_t* buffer, uint32_t length,
                            Clock::time_point deadline, const StopEvent& stop) {
  SimDevice::Impl& d = *h.device;
  for (;;) {
    std::unique_lock<std::mutex> lock(d.mutex);
    if (!d.plugged || !h.open) return {};
    if (h.zeroReadsLeft > 0) {
      --h.zeroReadsLeft;
      return {TransferStatus::Completed, 0};
    }
    if (h.generation != d.eraseGeneration) {  // a new erase has begun
      h.generation = d.eraseGeneration;
      h.message = 0;
      h.offset = 0;
    }
    // Messages that fell due before this handle was open never reach it.
    while (h.message < d.messages.size() && d.Due(h.message) < h.openedAt) {
      ++h.message;
      h.offset = 0;
    }
    const Clock::time_point now = Clock::now();
    if (h.message < d.messages.size() && d.Due(h.message) <= now) {
      // Payload bytes run on from one message into the next, as far as
      // they are due, up to the read's chunk.
      const uint32_t room = std::min<uint32_t>(d.config.faults.readChunk,
                                               length > 0 ? length - 1 : 0);
      uint32_t n = 0;
      buffer[0] = 0x00;
      while (n < room && h.message < d.messages.size() && d.Due(h.message) <= now) {
        const uint32_t take = std::min<uint32_t>(room - n, static_cast<uint32_t>(64 - h.offset));
        std::memcpy(buffer + 1 + n, d.messages[h.message].data() + h.offset, take);
        n += take;
        h.offset += take;
        if (h.offset == 64) {
          ++h.message;
          h.offset = 0;
        }
      }
      return {TransferStatus::Completed, n + 1};
    }
    const Clock::time_point next =
        h.message < d.messages.size() ? d.Due(h.message) : deadline;
    lock.unlock();
    if (auto end = WaitUntil(next, deadline, stop)) return {*end, 0};
  }
}

std::optional<HidReportLengths> SimBus::ReportLengths(HidHandle id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (id < 0 || static_cast<std::size_t>(id) >= handles_.size()) return std::nullopt;
  const Handle& h = *handles_[static_cast<std::size_t>(id)];
  if (!h.open) return std::nullopt;
  std::lock_guard<std::mutex> deviceLock(h.device->mutex);
  return h.device->config.reportLengths;
}

void SimBus::Cancel(HidHandle) {
  // Transfers finish inside Transfer: nothing is ever left outstanding.
}

void SimBus::Close(HidHandle id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (id >= 0 && static_cast<std::size_t>(id) < handles_.size())
    handles_[static_cast<std::size_t>(id)]->open = false;
}

}  // namespace gps
