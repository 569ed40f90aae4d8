// gps-update-cli --all: one update job per attached device, all at once.
//
// Each job runs on a thread of its own, in a view of the bus that holds its
// device and nothing else, so that the wire of each device is busy all the
// time and no job can reach another's device. The image is read once, before
// any job starts, and every job reads the same bytes.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "protocol/update_job.h"
#include "hid/attached_devices.h"

namespace gps {

struct AllDevicesSettings {
  AllDevicesSettings(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}

  std::ostream& out;
  std::ostream& err;
  bool drawBars = false;  // standard error is a terminal
  int columns = 0;        // its size; 0 where it does not say
  int rows = 0;
  bool trace = false;     // each job's reports in hex on standard error
  HidBackend* backend = nullptr;  // the bus; null: the platform's
  // Set when the user interrupts: every job stops at its next transfer.
  StopEvent* interrupt = nullptr;
  LinkBounds bounds;
};

// How one device's job ended, a row of the closing table.
struct DeviceResult {
  std::string name;       // as shown: control characters written out
  int status = 0;         // its exit status: 0 when it succeeded
  std::string lastText;   // the last text it showed
  std::chrono::milliseconds time{0};
  bool stoppedByUser = false;  // Ctrl+C ended it before it was done
};

// Updates every one of `devices` with `image` and prints the closing table.
// Returns one result per device, in the order of `devices`.
std::vector<DeviceResult> UpdateAllDevices(const std::vector<AttachedDevice>& devices,
                                           const LoadedImage& image,
                                           const AllDevicesSettings& settings);

// The program's exit status for these results: 0 when every device
// succeeded, else the status of the first that failed, in bus order.
int CombinedExitStatus(const std::vector<DeviceResult>& results);

// The closing table: device, outcome, last text, time, one row each, and a
// line that says which device's status the program ends with.
std::string ResultTable(const std::vector<DeviceResult>& results);

}  // namespace gps
