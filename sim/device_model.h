// The device's side of the update protocol, with nothing of a link, a
// thread or an operating system in it: it takes the payload of each output
// report, decodes it as the device's firmware would (its own little-endian
// reads and its own byte sum, so that a host that frames a command wrongly
// is caught), erases and programs its NOR flash, and plans the input
// reports an erase answers with.
//
// Any driver can feed it: the simulated bus of the tests and demos
// (sim_device.h), a program that plays the device on a USB gadget's HID
// node, or a page that runs it as WebAssembly. The driver passes the time of
// each report in and sends each planned input report once it is due. Calls
// must not overlap: a driver with several threads serialises them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/sim_flash.h"

namespace gps {

// The 64-byte payload of one input report during an erase: a little-endian
// progress number in its first four bytes, or "over".
using EraseMessage = std::array<uint8_t, 64>;

// How the device answers an erase command.
struct EraseBehaviour {
  // Progress numbers sent while an erase runs, before "over". Empty: 25,
  // 50, 75 and 100.
  std::vector<uint32_t> progress;
  // Whole messages to send instead of the progress numbers and "over".
  std::vector<EraseMessage> script;
  // The pace: each message is sent this long after the one before it (the
  // first this long after the command).
  std::chrono::milliseconds gap{0};
  bool sendOver = true;  // false: the erase never reports its end
};

class DeviceModel {
 public:
  using Clock = std::chrono::steady_clock;

  // The payload of an output or input report: the bytes after the report
  // identifier.
  static constexpr uint32_t kPayloadSize = 64;

  // One planned input report: its number in the order of sending, the time
  // it is sent and its payload.
  struct InputReport {
    uint64_t number = 0;
    Clock::time_point sentAt{};
    EraseMessage payload{};
  };

  // A command block as the device decoded it, and what followed it.
  struct Command {
    uint16_t code = 0;
    uint32_t arg1 = 0;
    uint32_t arg2 = 0;
    bool accepted = false;     // signature, checksum, code and arguments were right
    uint64_t dataReports = 0;  // a page write: the data reports it got
  };

  DeviceModel(SimFlash::Storage storage, EraseBehaviour erase);

  // Applies to the next erase command.
  void SetEraseBehaviour(EraseBehaviour erase);

  // Takes the 64-byte payload of one output report, received at `now`: a
  // command block, or the next piece of data of a page write.
  void Receive(const uint8_t* payload, Clock::time_point now);

  // The first planned input report numbered `from` or later, due or not;
  // empty when none is planned. A new erase drops what the last one had not
  // sent yet, so numbers may jump.
  std::optional<InputReport> NextInputReport(uint64_t from) const;

  // The host reset the device's port (it was unplugged and plugged in
  // again): a page write in progress ends, and the erase messages not yet
  // sent are dropped. The flash keeps what it holds.
  void PortReset();

  // Every command block the device took, in order, once `RecordCommands` is
  // on (it is off: a long-running simulation need not keep them).
  void RecordCommands(bool on) { recordCommands_ = on; }
  const std::vector<Command>& Commands() const { return commands_; }

  const SimFlash& Flash() const { return flash_; }
  int Restarts() const { return restarts_; }
  // Commands with a bad signature or checksum, an unknown code or wrong
  // restart arguments.
  int RejectedCommands() const { return rejected_; }
  // Bytes that a write tried to set to 1 over bits that were not erased.
  uint64_t WriteDefects() const { return defects_; }

 private:
  // Carries out a command whose signature and checksum are right; false
  // for one the device does not know or whose arguments are wrong.
  bool Execute(uint16_t code, uint32_t arg1, uint32_t arg2, Clock::time_point now);
  void Erase(uint32_t first, uint32_t count, Clock::time_point now);

  EraseBehaviour erase_;
  SimFlash flash_;
  int restarts_ = 0;
  int rejected_ = 0;
  uint64_t defects_ = 0;

  // A page write in progress: where the next data report goes.
  uint64_t dataReportsLeft_ = 0;
  uint32_t writeAddress_ = 0;

  bool recordCommands_ = false;
  std::vector<Command> commands_;

  // The messages of the last erase; the first is numbered firstMessage_.
  std::vector<EraseMessage> messages_;
  uint64_t firstMessage_ = 0;
  Clock::time_point eraseStart_{};
  std::chrono::milliseconds eraseGap_{0};
};

}  // namespace gps
