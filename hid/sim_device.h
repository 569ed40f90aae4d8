// An in-process stand-in for the device and the bus it sits on.
//
// SimDevice keeps the device's side of the contract: a 16 MiB NOR flash that
// starts unerased, sector erases that answer with progress messages and
// "over" at a set pace, page writes that can only clear bits, a restart
// command, and checksum and signature checks on every command. SimBus is the
// backend that enumerates it, with any number of other interfaces around it.
// Faults are switched on through SimFaults.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/sim_flash.h"

namespace gps {

using Report = std::array<uint8_t, 65>;
using EraseMessage = std::array<uint8_t, 64>;


struct SimFaults {
  bool refuseReadOpen = false;
  bool refuseWriteOpen = false;
  HidOpenError refusal = HidOpenError::AccessDenied;  // what a refused open says
  // The device leaves the bus right after taking this many output reports.
  uint64_t unplugAfterReports = 0;  // 0: never
  // 1-based number of the output report whose write fails, or completes
  // with `shortCount` bytes, or never completes.
  uint64_t failWriteAt = 0;
  uint64_t shortCountAt = 0;
  uint32_t shortCount = 1;
  uint64_t stallWriteAt = 0;
  bool sendOver = true;            // false: the erase never reports its end
  uint32_t readChunk = 64;         // payload bytes a read delivers at most
  uint32_t zeroByteReads = 0;      // reads that complete empty before any data
};

struct SimConfig {
  // Progress numbers sent while an erase runs, before "over". Empty: the
  // device sends 25, 50, 75 and 100.
  std::vector<uint32_t> progress;
  // Whole messages to send instead of the progress numbers and "over".
  std::vector<EraseMessage> eraseScript;
  std::chrono::milliseconds progressGap{0};  // pace of the erase messages
  bool recordReports = true;
  // Bytes: ReadFlash shows the content. Digests: only PageDigest does, and
  // the flash costs 2.3 MiB instead of 16.
  SimFlash::Storage flashStorage = SimFlash::Storage::Bytes;
  SimFaults faults;
  // The report lengths the device declares. Other lengths make it a device
  // with our identifiers but another firmware: it takes no output report of
  // the link's 65 bytes.
  HidReportLengths reportLengths{65, 65};
};

class SimDevice {
 public:
  explicit SimDevice(SimConfig config = {});

  // The device as the host sees it after an update.
  std::vector<uint8_t> ReadFlash(uint32_t address, uint32_t length) const;
  uint64_t PageDigest(uint32_t page) const;
  std::vector<Report> OutputReports() const;
  uint64_t OutputReportCount() const;
  int Restarts() const;
  int RejectedCommands() const;  // bad signature or checksum
  // Bytes that a write tried to set to 1 over bits that were not erased.
  uint64_t WriteDefects() const;
  bool Plugged() const;

  // Takes one 65-byte output report as if it had come over the bus, with no
  // link, faults or recording around it: what the device itself costs.
  void Receive(const uint8_t* report);

  void SetFaults(const SimFaults& faults);
  void Unplug();
  void Plug();

 private:
  friend class SimBus;
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// An interface on the simulated bus: the device, or another HID interface.
struct SimInterface {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool queryable = true;
  SimDevice* device = nullptr;  // null: a foreign interface, never opened
  std::string serial;
};

class SimBus : public HidBackend {
 public:
  SimBus();
  // A bus with one device on it, at "sim:0416:b500".
  explicit SimBus(SimDevice& device);
  ~SimBus() override;

  void AddInterface(SimInterface interface);
  void AddDevice(SimDevice& device, std::string path = "sim:0416:b500");
  uint64_t OpenHandles() const;

  std::vector<std::string> EnumerateInterfaces() override;
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override;
  std::string QuerySerial(const std::string& path) override;
  HidOpenResult OpenData(const std::string& path, HidAccess access) override;
  TransferResult Transfer(HidHandle handle, HidDirection direction,
                          uint8_t* buffer, uint32_t length, uint32_t boundMs,
                          const StopEvent& stop) override;
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override;
  void Cancel(HidHandle handle) override;
  void Close(HidHandle handle) override;

 private:
  struct Handle;
  using Clock = std::chrono::steady_clock;
  const SimInterface* Find(const std::string& path) const;
  TransferResult Write(Handle& h, const uint8_t* buffer, uint32_t length,
                       Clock::time_point deadline, const StopEvent& stop);
  TransferResult Read(Handle& h, uint8_t* buffer, uint32_t length,
                      Clock::time_point deadline, const StopEvent& stop);

  mutable std::mutex mutex_;
  std::vector<SimInterface> interfaces_;
  std::vector<std::unique_ptr<Handle>> handles_;
};

}  // namespace gps
