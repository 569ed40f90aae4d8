#include "ui/cli/cli_options.h"

namespace gps {

int ExitStatusFor(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Succeeded: return kExitSuccess;
    case UpdateOutcome::FileMissing:
    case UpdateOutcome::FileUnreadable: return kExitFile;
    case UpdateOutcome::TooLarge: return kExitSize;
    case UpdateOutcome::EraseFailed: return kExitErase;
    case UpdateOutcome::WriteFailed: return kExitWrite;
    case UpdateOutcome::RestartFailed: return kExitRestart;
  }
  return kExitWrite;
}

CliOptions ParseCliOptions(const std::vector<std::string>& args) {
  CliOptions options;
  bool haveFile = false;
  bool endOfOptions = false;
  for (const std::string& arg : args) {
    if (!endOfOptions && arg == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && (arg == "-h" || arg == "--help")) {
      options.help = true;
    } else if (!endOfOptions && arg == "--version") {
      options.version = true;
    } else if (!endOfOptions && arg == "--simulate") {
      options.simulate = true;
    } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
      options.error = "unknown option: " + arg;
    } else if (haveFile) {
      options.error = "only one FILE may be given";
    } else {
      options.file = std::filesystem::u8path(arg);
      haveFile = true;
    }
  }
  return options;
}

std::string HelpText() {
  return R"(Usage: gps-update-cli [OPTION]... [FILE]
Writes the database image FILE (default: code_data.bin in the current
directory) into the road-safety warning device on USB (0416:b500), then
restarts the device. Each step is printed as a line on standard output;
a progress bar goes to standard error when it is a terminal.

Options:
  --simulate   run against a simulated device instead of the USB device
  --version    print the version and exit
  -h, --help   print this help and exit

Exit status:
  0  the update succeeded ("更新成功!") and the device was told to restart
  1  another copy of the updater is running ("軟體正在使用中")
  2  the command line could not be understood
  3  FILE is missing or could not be read
  4  FILE is larger than the device takes ("資料量過大!")
  5  no device, or erasing the flash failed ("寫入資料庫 清除Flash失敗!")
  6  writing the image or its header failed ("資料庫寫入失敗!")
  7  the restart command failed ("重新啟動設備失敗!")
)";
}

std::string VersionText() { return "gps-update-cli 1.0.0.1\n"; }

}  // namespace gps
