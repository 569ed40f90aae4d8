// The command line of gps-update-cli, the exit statuses it ends with and
// the texts of its own.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_probe.h"
#include "protocol/update_job.h"
#include "ui/common/image_file.h"

namespace gps {

// Exit statuses, one for each way the program can end.
enum ExitStatus : int {
  kExitSuccess = 0,         // "更新成功!" and the restart command went out; or --list found devices
  kExitAlreadyRunning = 1,  // another copy of the updater is running
  kExitUsage = 2,           // the command line could not be understood
  kExitFile = 3,            // the image file is missing or unreadable
  kExitSize = 4,            // the image is larger than the device takes
  kExitErase = 5,           // the flash was not erased
  kExitWrite = 6,           // the image or its header was not written
  kExitRestart = 7,         // the restart command did not go out
  kExitNoPermission = 8,    // the device is there, but this user may not open it
  kExitBusy = 9,            // the device is there, but another program holds it
  kExitCannotOpen = 10,     // the device is there, but would not open
  kExitWaitTimedOut = 11,   // --wait: no device came within the time
  kExitInterrupted = 12,    // --wait: interrupted (Ctrl+C) before a device came
  kExitNoDevice = 13,       // no device, or not the one --device names; nothing was sent
  kExitWrongFirmware = 14,  // the device's reports are not this firmware's
  kExitNoLock = 15,         // no single-instance lock could be had safely; nothing was sent
  kExitFileEmpty = 16,      // the image file is empty; nothing was sent
  kExitOutputFailed = 17,   // --help, --version or --list could not write its output
  kExitRecord = 18,         // --record: FILE could not be opened, or a line of it not written
};

int ExitStatusFor(UpdateOutcome outcome);
// What a probe that found the device unusable (or absent) ends with.
int ExitStatusFor(ProbeOutcome outcome);

// One row of the table that --help prints and the README holds.
struct ExitStatusRow {
  int status;
  std::string meaning;
  std::string text;  // the last text the program shows; empty if none of its own
};
const std::vector<ExitStatusRow>& ExitStatusTable();

namespace cli_text {
inline constexpr std::string_view kWaitingForDevice = "等待設備連接...";
inline constexpr std::string_view kWaitTimedOut = "等待設備逾時! 請檢查USB連接。";
inline constexpr std::string_view kWaitInterrupted = "已停止等待設備。";
}  // namespace cli_text

// --wait without a number waits this long; a number may not exceed the limit.
constexpr std::chrono::seconds kDefaultWait{30};
constexpr std::chrono::seconds kLongestWait{24 * 60 * 60};
// --simulate=N puts at most this many simulated devices on the bus.
constexpr unsigned kMostSimulatedDevices = 16;

struct CliOptions {
  std::filesystem::path file = kDefaultImageFile;
  bool fileGiven = false;
  bool help = false;
  bool version = false;
  bool simulate = false;  // run against the in-process simulated device
  unsigned simulatedDevices = 1;  // --simulate=N: that many of them
  bool list = false;      // print the connected devices instead of updating
  bool trace = false;     // every report in hex on standard error
  bool all = false;       // update every connected device at once
  std::optional<std::string> device;  // update only the device with this serial or path
  std::optional<std::chrono::milliseconds> wait;  // wait this long for the device
  bool station = false;   // update every device attached now and every one plugged in later
  std::optional<std::filesystem::path> record;  // append a line per device job to this file
  std::string error;      // set when the command line is not understood
};

CliOptions ParseCliOptions(const std::vector<std::string>& args);

std::string HelpText();
std::string VersionText();

}  // namespace gps
