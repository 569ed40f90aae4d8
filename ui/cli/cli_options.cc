#include "ui/cli/cli_options.h"

#include <cstdint>

#include "protocol/messages.h"
#include "ui/common/instance_guard.h"
#include "ui/common/program_options.h"
#include "res/version.h"

namespace gps {
namespace {

// SECONDS of --wait=SECONDS: a whole number from 1 to kLongestWait.
std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view digits) {
  if (digits.empty() || digits.size() > 6) return std::nullopt;
  int64_t seconds = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  if (seconds < 1 || seconds > kLongestWait.count()) return std::nullopt;
  return std::chrono::seconds(seconds);
}

std::string Text(std::string_view text) { return std::string(text); }

// Breaks `words` at spaces into lines of at most `width` columns: the first
// goes on after `first`, the others start with `indent` spaces.
std::string Wrap(const std::string& first, const std::string& words, std::size_t width,
                 std::size_t indent) {
  std::string out = first;
  std::size_t column = first.size();
  bool lineStart = true;
  std::size_t at = 0;
  while (at < words.size()) {
    std::size_t end = words.find(' ', at);
    if (end == std::string::npos) end = words.size();
    const std::string word = words.substr(at, end - at);
    if (!lineStart && column + 1 + word.size() > width) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
      lineStart = true;
    }
    if (!lineStart) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    lineStart = false;
    at = end + 1;
  }
  return out + "\n";
}

}  // namespace

int ExitStatusFor(ProbeOutcome outcome) {
  switch (outcome) {
    case ProbeOutcome::NoPermission: return kExitNoPermission;
    case ProbeOutcome::Busy: return kExitBusy;
    case ProbeOutcome::CannotOpen: return kExitCannotOpen;
    case ProbeOutcome::WrongFirmware: return kExitWrongFirmware;
    case ProbeOutcome::Absent: return kExitNoDevice;
    case ProbeOutcome::Present: break;
  }
  return kExitSuccess;
}

int ExitStatusFor(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::Succeeded: return kExitSuccess;
    case UpdateOutcome::FileMissing:
    case UpdateOutcome::FileUnreadable: return kExitFile;
    case UpdateOutcome::TooLarge: return kExitSize;
    case UpdateOutcome::FileEmpty: return kExitFileEmpty;
    case UpdateOutcome::NoDevice: return kExitNoDevice;
    case UpdateOutcome::EraseFailed: return kExitErase;
    case UpdateOutcome::WriteFailed: return kExitWrite;
    case UpdateOutcome::RestartFailed: return kExitRestart;
    case UpdateOutcome::DeviceBusy: return kExitBusy;
  }
  return kExitWrite;
}

const std::vector<ExitStatusRow>& ExitStatusTable() {
  static const std::vector<ExitStatusRow> table = {
      {kExitSuccess,
       "the update succeeded and the device was told to restart; with --list, devices were found",
       Text(text::kUpdateSucceeded)},
      {kExitAlreadyRunning, "another copy of the updater is running", Text(text::kSoftwareInUse)},
      {kExitUsage, "the command line could not be understood", ""},
      {kExitFile, "FILE is missing or could not be read",
       Text(text::kCantFindPrefix) + "FILE / " + Text(text::kReadFilePrefix) + "FILE" +
           Text(text::kReadFileSuffix)},
      {kExitSize, "FILE is larger than the device takes (0xFF6000 bytes)",
       Text(text::kTooMuchData)},
      {kExitErase, "erasing the flash failed", Text(text::kEraseFlashFailed)},
      {kExitWrite, "writing the image or its header failed", Text(text::kDatabaseWriteFailed)},
      {kExitRestart, "the restart command failed", Text(text::kRestartFailed)},
      {kExitNoPermission,
       "the device is there but this user may not open it; nothing was sent",
       Text(text::kDeviceNoPermission)},
      {kExitBusy, "the device is there but another program holds it; nothing was sent",
       Text(text::kDeviceBusy)},
      {kExitCannotOpen, "the device is there but would not open; nothing was sent",
       Text(text::kDeviceCannotOpen)},
      {kExitWaitTimedOut, "--wait: no device was connected in time", Text(cli_text::kWaitTimedOut)},
      {kExitInterrupted, "--wait: interrupted (Ctrl+C) before a device was connected",
       Text(cli_text::kWaitInterrupted)},
      {kExitNoDevice,
       "no device is connected (--list, --all), or not the one --device names; nothing was sent",
       Text(text::kDeviceConnectFailed)},
      {kExitWrongFirmware,
       "the device is there but its reports are not this firmware's; nothing was sent",
       Text(text::kDeviceWrongFirmware)},
      {kExitNoLock, "no single-instance lock could be had safely; nothing was sent",
       Text(text::kInstanceLockFailed)},
      {kExitFileEmpty, "FILE is empty; nothing was sent",
       Text(text::kFileEmptyPrefix) + "FILE" + Text(text::kFileEmptySuffix)},
      {kExitOutputFailed, "--help, --version or --list could not write its output", ""},
      {kExitRecord,
       "--record: FILE could not be opened (nothing was sent), or a line of it was not written",
       ""},
  };
  return table;
}

CliOptions ParseCliOptions(const std::vector<std::string>& args) {
  CliOptions options;
  // The options of this program alone; the desktop program shares the rest.
  auto own = [&options](const std::vector<std::string>& all, std::size_t& at,
                        std::string& error) {
    const std::string& arg = all[at];
    if (arg.rfind("--simulate=", 0) == 0) {
      const std::string_view digits = std::string_view(arg).substr(11);
      options.simulate = true;
      options.simulatedDevices = 0;
      if (digits.size() <= 2 && !digits.empty() &&
          digits.find_first_not_of("0123456789") == std::string_view::npos) {
        options.simulatedDevices = static_cast<unsigned>(std::stoul(std::string(digits)));
      }
      if (options.simulatedDevices < 1 || options.simulatedDevices > kMostSimulatedDevices)
        error = "--simulate takes a number of devices from 1 to " +
                std::to_string(kMostSimulatedDevices) + ": " + arg;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--all") {
      options.all = true;
    } else if (arg == "--device" || arg.rfind("--device=", 0) == 0) {
      // The ID follows as the next argument or after '='.
      if (arg == "--device" && at + 1 < all.size()) options.device = all[++at];
      else if (arg != "--device") options.device = arg.substr(9);
      if (!options.device || options.device->empty())
        error = "--device needs an ID: a serial number or a path, as --list shows them";
    } else if (arg == "--station") {
      options.station = true;
    } else if (arg == "--record" || arg.rfind("--record=", 0) == 0) {
      if (arg == "--record" && at + 1 < all.size()) options.record = all[++at];
      else if (arg != "--record") options.record = arg.substr(9);
      if (!options.record || options.record->empty())
        error = "--record needs the FILE to append the record to";
    } else if (arg == "--wait") {
      options.wait = kDefaultWait;
      // "--wait 30" would take 30 as the FILE and look for it in vain.
      const std::string next = at + 1 < all.size() ? all[at + 1] : std::string();
      if (!next.empty() && next.find_first_not_of("0123456789") == std::string::npos) {
        error = "--wait takes its seconds after '=': --wait=" + next +
                " (a FILE named " + next + " goes after --: -- " + next + ")";
      }
    } else if (arg.rfind("--wait=", 0) == 0) {
      options.wait = ParseSeconds(std::string_view(arg).substr(7));
      if (!options.wait)
        error = "--wait takes a whole number of seconds from 1 to " +
                std::to_string(kLongestWait.count()) + ": " + arg;
    } else {
      return OwnOption::NotMine;
    }
    return OwnOption::Taken;
  };
  const ProgramOptions common = ParseProgramOptions(args, own);
  options.file = common.file;
  options.fileGiven = common.fileGiven;
  options.help = common.help;
  options.version = common.version;
  options.simulate = options.simulate || common.simulate;
  options.error = common.error;
  if (!options.error.empty()) return options;
  if (options.list && (options.fileGiven || options.wait || options.all || options.device))
    options.error = "--list takes no FILE, --wait, --all or --device";
  else if (options.all && options.device)
    options.error = "--all and --device cannot be given together";
  else if (options.station && (options.list || options.device || options.wait))
    options.error = "--station waits for devices itself and takes no --list, --device or --wait";
  else if (options.list && options.record)
    options.error = "--list updates nothing to record";
  return options;
}

std::string HelpText() {
  std::string help = R"(Usage: gps-update-cli [OPTION]... [FILE]
Writes the database image FILE (default: code_data.bin in the current
directory) into the road-safety warning device on USB (0416:b500), then
restarts the device. Each step is printed as a line on standard output;
a progress bar goes to standard error when it is a terminal.

Before anything is sent, the program looks for the device. A device that is
connected but cannot be used (no permission, held by another program) is
reported with its cause, and nothing is sent.

Options:
  --wait[=SECONDS]  if no device is connected, wait for one to be plugged in,
                    at most SECONDS (default 30)
  --all             update every connected device at once, each on its own;
                    each line starts with the device's name (its serial
                    number, else its path), and a table ends the run
  --device ID       update only the device that --list shows as ID (its
                    serial number or its path)
  --station         a service counter: update every connected device, then
                    each one plugged in later, once per plug-in, until
                    Ctrl+C; a line per job goes to the record (see
                    --record, default gps-update-record.jsonl)
  --record FILE     append one line of JSON per device job to FILE: the
                    device, the image and its SHA-256, the times and the
                    outcome
  --list            print every connected device, one per line: its path and,
                    after a tab, its serial number where the system gives one
  --trace           print every report sent and received, in hex with a time
                    stamp, on standard error
  --simulate[=N]    run against N simulated devices (default 1, at most 16)
                    instead of the USB devices
  --version         print the version and exit
  -h, --help        print this help and exit

Exit status (and the last text shown):
)";
  for (const ExitStatusRow& row : ExitStatusTable()) {
    const std::string number = std::to_string(row.status);
    help += Wrap(std::string(4 - number.size(), ' ') + number + "  ", row.meaning, 78, 6);
    if (!row.text.empty()) help += "        " + row.text + "\n";
  }
  return help;
}

std::string VersionText() { return "gps-update-cli " GPS_VERSION "\n"; }

}  // namespace gps
