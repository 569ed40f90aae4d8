// The command line of gps-update-cli and the exit statuses it ends with.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "protocol/update_job.h"

namespace gps {

// Exit statuses, one for each stage that can fail.
enum ExitStatus : int {
  kExitSuccess = 0,         // "更新成功!" and the restart command went out
  kExitAlreadyRunning = 1,  // another copy of the updater is running
  kExitUsage = 2,           // the command line could not be understood
  kExitFile = 3,            // the image file is missing or unreadable
  kExitSize = 4,            // the image is larger than the device takes
  kExitErase = 5,           // no device, or the flash was not erased
  kExitWrite = 6,           // the image or its header was not written
  kExitRestart = 7,         // the restart command did not go out
};

int ExitStatusFor(UpdateOutcome outcome);

struct CliOptions {
  std::filesystem::path file = "code_data.bin";
  bool help = false;
  bool version = false;
  bool simulate = false;  // run against the in-process simulated device
  std::string error;      // set when the command line is not understood
};

CliOptions ParseCliOptions(const std::vector<std::string>& args);

std::string HelpText();
std::string VersionText();

}  // namespace gps
