// The simulated device on the simulated bus: the device model (its side of
// the protocol and its flash, device_model.h) behind a SimPeer, with the
// faults a real link can show and a record of what it took.
//
// It keeps the device's side of the contract: a 16 MiB NOR flash that
// starts unerased, sector erases that answer with progress messages and
// "over" at a set pace, page writes that can only clear bits, a restart
// command, and checksum and signature checks on every command. Faults are
// switched on through SimFaults. Put it on a SimBus (hid/sim_bus.h) to reach
// it through a HidBackend; any number of them may share one bus.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "hid/sim_bus.h"
#include "sim/device_model.h"
#include "sim/sim_flash.h"

namespace gps {

using Report = std::array<uint8_t, 65>;  // report identifier + 64 payload bytes

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

// Every call may come from any thread.
class SimDevice : public SimPeer {
 public:
  explicit SimDevice(SimConfig config = {});
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // The device as the host sees it after an update.
  std::vector<uint8_t> ReadFlash(uint32_t address, uint32_t length) const;
  uint64_t PageDigest(uint32_t page) const;
  std::vector<Report> OutputReports() const;
  uint64_t OutputReportCount() const;
  int Restarts() const;
  int RejectedCommands() const;  // bad signature or checksum
  // Bytes that a write tried to set to 1 over bits that were not erased.
  uint64_t WriteDefects() const;

  // Takes one 65-byte output report as if it had come over the bus, with no
  // link, faults or recording around it: what the device itself costs.
  void Receive(const uint8_t* report);

  void SetFaults(const SimFaults& faults);
  void Unplug();
  void Plug();

  // SimPeer: what the bus asks of the device.
  bool Plugged() const override;
  HidOpenError OpenRefusal(HidAccess access) const override;
  ReadDelivery Delivery() const override;
  HidReportLengths ReportLengths() const override;
  WriteAnswer TakeOutputReport(const uint8_t* report, uint32_t length) override;
  std::optional<InputReport> NextInputReport(uint64_t from) const override;

 private:
  EraseBehaviour Erase() const;

  mutable std::mutex mutex_;
  SimConfig config_;
  DeviceModel model_;
  bool plugged_ = true;
  std::vector<Report> reports_;
  uint64_t attempts_ = 0;  // output reports offered, taken or not
  uint64_t taken_ = 0;     // output reports the device took
};

}  // namespace gps
