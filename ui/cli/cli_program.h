// What gps-update-cli does, apart from the process around it: main builds the
// context from the real streams, backend and interrupt, and tests build it
// from string streams and a simulated bus.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>

#include "hid/hid_backend.h"
#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "ui/cli/all_devices.h"
#include "ui/cli/cli_options.h"
#include "ui/common/instance_guard.h"
#include "ui/common/sleep_inhibitor.h"
#include "ui/common/update_session.h"

namespace gps {

struct CliContext {
  CliContext(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}

  std::ostream& out;  // status texts and --list
  std::ostream& err;  // messages, the progress and --trace
  // --trace of a single update, when it goes elsewhere than `err` (a stream
  // that may drop lines under pressure). Null: `err`.
  std::ostream* trace = nullptr;
  // Standard error is a terminal: the progress is a bar drawn in place, as
  // wide as `columns` says. Otherwise it is a line at each step and every
  // 10 %, for a log.
  bool drawBar = false;
  std::function<int()> columns;
  std::function<int()> rows;  // its height in lines; null or 0: it does not say
  // Null: the steady clock.
  std::function<std::chrono::steady_clock::time_point()> now;
  // The bus to use. Null: a simulated demo device with --simulate, else the
  // platform's backend.
  HidBackend* backend = nullptr;
  // Set when the user interrupts: it cuts a wait short and stops an update
  // at its next transfer. Null: nothing interrupts.
  StopEvent* interrupt = nullptr;
  // Whether the user has asked to stop (the event is taken back by the
  // transfer it stops). Null: the event is asked.
  std::function<bool()> interrupted;
  // Keeps the system awake for the length of an update. Null: nothing does.
  std::function<std::unique_ptr<SleepInhibitor>()> keepAwake;
  LinkBounds bounds;
  // While waiting, the bus is looked at this often.
  std::chrono::milliseconds pollInterval{250};
  // A device that is there but cannot be used gets this long to become
  // usable while waiting: udev applies its rules a moment after the device
  // node appears, so the first open after arrival may still be refused.
  std::chrono::milliseconds settleTime{kDeviceSettleTime};
  // --station: how many interrupts have come (the first lets the running
  // jobs finish, the second stops them). Null: the station counts the
  // times it finds `interrupt` set.
  std::function<unsigned()> interrupts;
  // --station: a device back this soon after its update succeeded is the
  // device restarting, not a new plug-in.
  std::chrono::milliseconds restartWindow{kRestartWindow};
  // --station: called after each job has been recorded and counted.
  std::function<void(const DeviceResult&)> stationJobEnded;
  // Takes the single-instance guard for the rest of the process and returns
  // it; nothing is updated unless it is Held. Null: no guard is taken.
  std::function<const InstanceGuard&()> claimInstance;
};

// The record a station keeps when --record names none, in the working folder.
inline constexpr const char* kDefaultRecordFile = "gps-update-record.jsonl";

// Runs the program for `options` and returns its exit status.
int RunCli(const CliOptions& options, CliContext& context);

}  // namespace gps
