#include "ui/cli/cli_program.h"

#include <fstream>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "hid/sim_device.h"
#include "hid/tracing_backend.h"
#include "protocol/device_probe.h"
#include "protocol/flash_layout.h"
#include "protocol/image_header.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "ui/cli/terminal_reporter.h"
#include "ui/common/instance_guard.h"

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

// What the simulated device holds after the update, against the bytes the
// job sent (not the file read again, which may have changed meanwhile).
// `image` carries zeros after its `length` bytes, as the job sends them.
void DescribeSimulatedDevice(const SimDevice& device, const std::vector<uint8_t>& image,
                             uint32_t length, UpdateOutcome outcome, std::ostream& err) {
  err << "[simulated device] " << device.OutputReportCount() << " output reports taken, "
      << device.Restarts() << " restart(s), " << device.WriteDefects()
      << " byte(s) written over unerased flash, " << device.RejectedCommands()
      << " command(s) rejected\n";
  if (outcome != UpdateOutcome::Succeeded) return;
  const uint32_t firstPage = DATABASE_ADDRESS / PAGE_SIZE;
  const uint32_t pages = (length + PAGE_SIZE - 1) / PAGE_SIZE;
  uint32_t matching = 0;
  for (uint32_t p = 0; p < pages; ++p)
    matching += device.PageDigest(firstPage + p) ==
                SimFlash::PageDigestOf(image.data() + std::size_t{p} * PAGE_SIZE);
  const auto header = HeaderPage(length);
  err << "[simulated device] flash at 0x" << std::hex << DATABASE_ADDRESS << std::dec << ": "
      << matching << " of " << pages << " page(s) match the image; header page at 0x"
      << std::hex << HEADER_ADDRESS << std::dec
      << (device.PageDigest(HEADER_ADDRESS / PAGE_SIZE) == SimFlash::PageDigestOf(header.data())
              ? " matches"
              : " does not match")
      << '\n';
  // The update sends one page more than the image fills when the length is a
  // whole number of pages; for the largest image that page falls past the
  // flash's end. It carries only the zeros after the image.
  const uint64_t lastSent = DATABASE_ADDRESS + uint64_t{length / PAGE_SIZE} * PAGE_SIZE;
  if (lastSent + PAGE_SIZE > SIM_FLASH_SIZE) {
    err << "[simulated device] the last page sent, at 0x" << std::hex << lastSent << std::dec
        << " (zeros after the image), lies past the end of the "
        << SIM_FLASH_SIZE / (1024 * 1024) << " MiB flash\n";
  }
}

// For the modes whose output is all they do: a --help that went nowhere
// (`>/dev/full`) is a failure, as it is for the usual tools. An update's
// lost text is not: its status tells the outcome.
int OutputWritten(CliContext& context) {
  if (context.out) return kExitSuccess;
  context.err << "gps-update-cli: the output could not be written\n" << std::flush;
  return kExitOutputFailed;
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
  if (error || size > MAX_DATABASE_SIZE || size == 0) return true;
  return !std::ifstream(file, std::ios::binary);
}

// Looks for the device before the update, and with --wait waits for it.
// Returns the exit status when the update must not run.
//
// A device that is missing, or there but not usable, is reported at once
// with its cause and nothing is sent; while waiting, a missing device is
// waited for and an unusable one first gets the settle time to become
// usable.
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
        if (!options.wait) {
          reporter.SetStatusText(probe.text);
          return kExitNoDevice;
        }
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
  if (options.help || options.version) {
    context.out << (options.help ? HelpText() : VersionText()) << std::flush;
    return OutputWritten(context);
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
  if (options.list) {
    const int status = ListDevices(*backend, context.out, context.err);
    return status == kExitSuccess ? OutputWritten(context) : status;
  }

  if (context.claimInstance) {
    const InstanceGuard& guard = context.claimInstance();
    switch (guard.state()) {
      case InstanceGuard::State::Held:
        break;
      case InstanceGuard::State::AlreadyRunning:
        context.err << text::kSoftwareInUse << '\n' << std::flush;
        return kExitAlreadyRunning;
      case InstanceGuard::State::Unavailable:
        context.err << text::kInstanceLockFailed << "\ngps-update-cli: " << guard.problem()
                    << '\n' << std::flush;
        return kExitNoLock;
    }
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
  std::vector<uint8_t> image;
  UpdateOutcome outcome = UpdateOutcome::FileMissing;
  const std::optional<uint32_t> length = job.LoadImage(options.file, image, outcome);
  if (length) outcome = job.UpdateDatabase(image.data(), *length);
  if (demoDevice && length)
    DescribeSimulatedDevice(*demoDevice, image, *length, outcome, context.err);
  return ExitStatusFor(outcome);
}

}  // namespace gps
