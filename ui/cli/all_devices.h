// gps-update-cli --all: one update job per attached device, all at once.
//
// Each job runs on a thread of its own, in a view of the bus that holds its
// device and nothing else, so that the wire of each device is busy all the
// time and no job can reach another's device. The image is read once, before
// any job starts, and every job reads the same bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "protocol/update_job.h"
#include "hid/attached_devices.h"
#include "ui/cli/device_console.h"

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

// How one device's job ended: a row of the closing table, and a line of the
// record.
struct DeviceResult {
  std::string name;       // as shown: control characters written out
  int status = 0;         // its exit status: 0 when it succeeded
  std::string lastText;   // the last text it showed
  std::chrono::milliseconds time{0};
  bool stoppedByUser = false;  // Ctrl+C ended it before it was done
  std::string path{};          // the device's own, raw
  std::string serial{};
  std::chrono::system_clock::time_point started{};
  std::chrono::system_clock::time_point ended{};
  uint64_t reportsSent = 0;  // output reports that went through
};

// What one device's job needs besides its device and image.
struct DeviceJobSettings {
  HidBackend* bus = nullptr;
  bool trace = false;
  LinkBounds bounds;
  // A device just plugged in may not be usable for a moment (udev applies
  // its rules after the node appears): it gets this long, looked at every
  // `pollInterval`. Zero: the first look decides.
  std::chrono::milliseconds settleTime{0};
  std::chrono::milliseconds pollInterval{250};
};

// One device's job, on the calling thread, as --all and --station run each:
// in a view of the bus that holds `device` alone, with its trace lines marked
// with its name, reporting on `console`'s place `index`. `stop` stops it at
// its next transfer; `stopping` says that the user asked for that, and a job
// that then fails says it was stopped.
DeviceResult RunDeviceJob(const AttachedDevice& device, const LoadedImage& image,
                          const DeviceJobSettings& settings, DeviceConsole& console,
                          std::size_t index, StopEvent& stop, const std::atomic<bool>& stopping);

// Updates every one of `devices` with `image` and prints the closing table.
// Returns one result per device, in the order of `devices`.
// `jobEnded`, when given, is called on each job's thread as it ends.
std::vector<DeviceResult> UpdateAllDevices(
    const std::vector<AttachedDevice>& devices, const LoadedImage& image,
    const AllDevicesSettings& settings,
    const std::function<void(const DeviceResult&)>& jobEnded = {});

// The program's exit status for these results: 0 when every device
// succeeded, else the status of the first that failed, in bus order.
int CombinedExitStatus(const std::vector<DeviceResult>& results);

// The closing table: device, outcome, last text, time, one row each, and a
// line that says which device's status the program ends with.
std::string ResultTable(const std::vector<DeviceResult>& results);
// The table's rows alone, with its heading.
std::string ResultRows(const std::vector<DeviceResult>& results);

}  // namespace gps
