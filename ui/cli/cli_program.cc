#include "ui/cli/cli_program.h"

#include <fstream>
#include <memory>
#include <optional>
#include <system_error>

#include "hid/sim_device.h"
#include "hid/tracing_backend.h"
#include "protocol/device_probe.h"
#include "protocol/flash_layout.h"
#include "protocol/image_header.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "ui/cli/terminal_reporter.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A device that takes its time over the erase, so that the demo shows the
// erase progress as a real device would.
SimConfig DemoDeviceConfig() {
  SimConfig config;
  config.progress = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  config.progressGap = milliseconds(100);
  config.recordReports = false;
  config.flashStorage = SimFlash::Storage::Digests;  // the host's memory is what counts here
  return config;
}

// Pages of `file` (the last one padded with zeros, as the update sends it)
// whose digest the simulated flash holds at the database's place, and the
// pages there are: a whole image when the two are equal.
std::pair<uint32_t, uint32_t> PagesMatching(const SimDevice& device,
                                            const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  uint32_t pages = 0;
  uint32_t matching = 0;
  for (;;) {
    uint8_t page[PAGE_SIZE] = {};
    in.read(reinterpret_cast<char*>(page), PAGE_SIZE);
    const bool last = in.gcount() < static_cast<std::streamsize>(PAGE_SIZE);
    matching += device.PageDigest(DATABASE_ADDRESS / PAGE_SIZE + pages) ==
                SimFlash::PageDigestOf(page);
    ++pages;
    if (last) return {matching, pages};
  }
}

void DescribeSimulatedDevice(const SimDevice& device, const std::filesystem::path& file,
                             UpdateOutcome outcome, std::ostream& err) {
  err << "[simulated device] " << device.OutputReportCount() << " output reports taken, "
      << device.Restarts() << " restart(s), " << device.WriteDefects()
      << " byte(s) written over unerased flash, " << device.RejectedCommands()
      << " command(s) rejected\n";
  if (outcome != UpdateOutcome::Succeeded) return;
  std::error_code error;
  const auto length = static_cast<uint32_t>(std::filesystem::file_size(file, error));
  const auto header = HeaderPage(length);
  const auto [matching, pages] = PagesMatching(device, file);
  err << "[simulated device] flash at 0x" << std::hex << DATABASE_ADDRESS << std::dec << ": "
      << matching << " of " << pages << " page(s) match the image; header page at 0x"
      << std::hex << HEADER_ADDRESS << std::dec
      << (device.PageDigest(HEADER_ADDRESS / PAGE_SIZE) == SimFlash::PageDigestOf(header.data())
              ? " matches"
              : " does not match")
      << '\n';
}

int ProbeExitStatus(ProbeOutcome outcome) {
  switch (outcome) {
    case ProbeOutcome::NoPermission: return kExitNoPermission;
    case ProbeOutcome::Busy: return kExitBusy;
    case ProbeOutcome::CannotOpen: return kExitCannotOpen;
    case ProbeOutcome::WrongFirmware: return kExitWrongFirmware;
    case ProbeOutcome::Present:
    case ProbeOutcome::Absent: break;
  }
  return kExitCannotOpen;
}

// Every interface with our vendor and product: its path and, after a tab,
// its serial number where the platform gives one. Only those are asked for
// their serial number: another device may be slow to answer.
int ListDevices(HidBackend& backend, std::ostream& out, std::ostream& err) {
  int found = 0;
  for (const std::string& path : backend.EnumerateInterfaces()) {
    const std::optional<HidAttributes> attributes = backend.QueryAttributes(path);
    if (!attributes || attributes->vendorId != HID_VENDOR_ID ||
        attributes->productId != HID_PRODUCT_ID) {
      continue;
    }
    out << path;
    if (const std::string serial = backend.QuerySerial(path); !serial.empty())
      out << '\t' << serial;
    out << '\n';
    ++found;
  }
  out << std::flush;
  if (found > 0) return kExitSuccess;
  err << text::kDeviceConnectFailed << '\n' << std::flush;
  return kExitNoDevice;
}

// True when the job would refuse the file before it looks for the device.
// The job then runs at once and says why in its own words, so that no one
// waits for a device only to hear that the file is missing.
bool FileRefused(const std::filesystem::path& file) {
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (!std::filesystem::exists(status) || std::filesystem::is_directory(status)) return true;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > MAX_DATABASE_SIZE) return true;
  return !std::ifstream(file, std::ios::binary);
}

// Looks for the device before the update, and with --wait waits for it.
// Returns the exit status when the update must not run.
//
// Without --wait a missing device is left to the update, which tells of it
// in its own words. A device that is there but cannot be used is reported
// at once with its cause and nothing is sent; while waiting it first gets
// the settle time to become usable.
std::optional<int> LookForDevice(const CliOptions& options, const CliContext& context,
                                 const LinkSettings& link, const StopEvent& interrupt,
                                 UpdateReporter& reporter) {
  const Clock::time_point start = Clock::now();
  std::optional<Clock::time_point> unusableSince;
  bool waiting = false;  // "waiting for the device" has been shown
  bool waited = false;   // the device was not usable at the first look
  for (;;) {
    const ProbeResult probe = ProbeDevice(link);
    const Clock::time_point now = Clock::now();
    const bool timeUp = options.wait && now - start >= *options.wait;
    switch (probe.outcome) {
      case ProbeOutcome::Present:
        if (waited) reporter.SetStatusText(probe.text);
        return std::nullopt;
      case ProbeOutcome::Absent:
        if (!options.wait) return std::nullopt;
        unusableSince.reset();
        if (timeUp) {
          reporter.SetStatusText(cli_text::kWaitTimedOut);
          return kExitWaitTimedOut;
        }
        if (!waiting) {
          reporter.SetStatusText(cli_text::kWaitingForDevice);
          waiting = true;
        }
        break;
      default:
        if (!unusableSince) unusableSince = now;
        if (!options.wait || timeUp || now - *unusableSince >= context.settleTime) {
          reporter.SetStatusText(probe.text);
          return ProbeExitStatus(probe.outcome);
        }
        break;
    }
    // Rounded up, so that the last look comes after the time is up.
    const auto left = std::chrono::ceil<milliseconds>(*options.wait - (now - start));
    const milliseconds pause = std::min(context.pollInterval, left);
    waited = true;
    if (interrupt.WaitFor(static_cast<uint32_t>(pause.count()))) {
      reporter.SetStatusText(cli_text::kWaitInterrupted);
      return kExitInterrupted;
    }
  }
}

}  // namespace

int RunCli(const CliOptions& options, CliContext& context) {
  if (!options.error.empty()) {
    context.err << "gps-update-cli: " << options.error << "\n"
                << "Try 'gps-update-cli --help' for more information.\n";
    return kExitUsage;
  }
  if (options.help) {
    context.out << HelpText();
    return kExitSuccess;
  }
  if (options.version) {
    context.out << VersionText();
    return kExitSuccess;
  }

  std::unique_ptr<SimDevice> demoDevice;
  std::unique_ptr<SimBus> demoBus;
  HidBackend* backend = context.backend;
  if (!backend && options.simulate) {
    demoDevice = std::make_unique<SimDevice>(DemoDeviceConfig());
    demoBus = std::make_unique<SimBus>(*demoDevice);
    backend = demoBus.get();
  }
  if (!backend) backend = &PlatformHidBackend();
  std::optional<TracingBackend> tracer;
  if (options.trace) backend = &tracer.emplace(*backend, context.err);

  // Listing only enumerates; it opens nothing and may run beside an update.
  if (options.list) return ListDevices(*backend, context.out, context.err);

  if (context.claimInstance && !context.claimInstance()) {
    context.err << text::kSoftwareInUse << '\n' << std::flush;
    return kExitAlreadyRunning;
  }

  StopEvent neverSet;
  StopEvent& interrupt = context.interrupt ? *context.interrupt : neverSet;
  // The trace's lines would run into the bar's, so a trace goes without one.
  TerminalReporter reporter(context.out, context.err, context.drawBar && !options.trace);
  LinkSettings link;
  link.backend = backend;
  link.stop = &interrupt;
  link.bounds = context.bounds;

  if (!FileRefused(options.file)) {
    if (const std::optional<int> status =
            LookForDevice(options, context, link, interrupt, reporter)) {
      return *status;
    }
  }
  UpdateJob job(reporter, link);
  const UpdateOutcome outcome = job.LoadAndUpdate(options.file);
  if (demoDevice) DescribeSimulatedDevice(*demoDevice, options.file, outcome, context.err);
  return ExitStatusFor(outcome);
}

}  // namespace gps
