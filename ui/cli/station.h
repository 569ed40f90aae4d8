// gps-update-cli --station: a service counter's loop. Every device attached
// when it starts is updated, then every device plugged in later, each in a
// job of its own as --all runs them, once per plug-in: a device that stays
// plugged after its job is left alone, one unplugged and plugged in again is
// updated again. Each job leaves a line in the record. The first Ctrl+C lets
// the running jobs finish, the second stops them; the session's table ends
// the run.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>

#include "hid/hid_backend.h"
#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "protocol/update_job.h"
#include "ui/cli/all_devices.h"
#include "ui/cli/job_record.h"
#include "ui/cli/record_file.h"
#include "ui/common/sleep_inhibitor.h"
#include "ui/common/update_session.h"

namespace gps {

// What --all takes (the streams, the terminal, the bus, the interrupt), and
// what only a station needs.
struct StationSettings : AllDevicesSettings {
  using AllDevicesSettings::AllDevicesSettings;

  // `interrupt` is set at each Ctrl+C; the station takes it back after each
  // look.
  // How many interrupts have come so far. Null: the station counts the
  // times it finds `interrupt` set.
  std::function<unsigned()> interrupts;
  // The bus is looked at this often for devices that came or went.
  std::chrono::milliseconds pollInterval{250};
  // A device just plugged in gets this long to become usable.
  std::chrono::milliseconds settleTime{kDeviceSettleTime};
  // A device that comes back this soon after its update succeeded is taken
  // for the same device back from its restart, not for a new plug-in.
  std::chrono::milliseconds restartWindow{kRestartWindow};
  // Keeps the system awake while a job runs. Null: nothing does.
  std::function<std::unique_ptr<SleepInhibitor>()> keepAwake;
  RecordFile* record = nullptr;  // null: nothing is recorded
  std::filesystem::path recordName;  // for messages
  RecordedImage image;
  // The image's file, watched so that a change on disk is pointed out.
  std::filesystem::path file;
  // Called after each job's line has been recorded and the count shown.
  std::function<void(const DeviceResult&)> jobEnded;
  // The session's table keeps this many of the latest jobs (the record
  // keeps every one), so that a station that runs for weeks does not grow.
  std::size_t tableRows = 200;
};

// Runs the station with `image` until it is interrupted and returns the exit
// status: 0 when every job succeeded, else the status of the first that
// failed; kExitRecord when only a line of the record was lost.
int RunStation(const LoadedImage& image, const StationSettings& settings);

}  // namespace gps
