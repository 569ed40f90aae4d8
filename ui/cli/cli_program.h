// What gps-update-cli does, apart from the process around it: main builds the
// context from the real streams, backend and interrupt, and tests build it
// from string streams and a simulated bus.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>

#include "hid/hid_backend.h"
#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "ui/cli/cli_options.h"
#include "ui/common/instance_guard.h"

namespace gps {

struct CliContext {
  CliContext(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}

  std::ostream& out;  // status texts and --list
  std::ostream& err;  // messages, the progress bar and --trace
  bool drawBar = false;
  // The bus to use. Null: a simulated demo device with --simulate, else the
  // platform's backend.
  HidBackend* backend = nullptr;
  // Set when the user interrupts: it cuts a wait short and stops an update
  // at its next transfer. Null: nothing interrupts.
  StopEvent* interrupt = nullptr;
  LinkBounds bounds;
  // While waiting, the bus is looked at this often.
  std::chrono::milliseconds pollInterval{250};
  // A device that is there but cannot be used gets this long to become
  // usable while waiting: udev applies its rules a moment after the device
  // node appears, so the first open after arrival may still be refused.
  std::chrono::milliseconds settleTime{2000};
  // Takes the single-instance guard for the rest of the process and returns
  // it; nothing is updated unless it is Held. Null: no guard is taken.
  std::function<const InstanceGuard&()> claimInstance;
};

// Runs the program for `options` and returns its exit status.
int RunCli(const CliOptions& options, CliContext& context);

}  // namespace gps
