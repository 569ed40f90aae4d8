#include "ui/cli/cli_program.h"

#include <fstream>
#include <memory>
#include <optional>
#include <system_error>

#include "hid/device_view.h"
#include "hid/tracing_backend.h"
#include "protocol/device_probe.h"
#include "protocol/flash_layout.h"
#include "protocol/image_check.h"
#include "protocol/image_header.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "ui/cli/all_devices.h"
#include "hid/attached_devices.h"
#include "ui/cli/demo_devices.h"
#include "ui/cli/terminal_reporter.h"
#include "ui/common/image_file.h"
#include "ui/common/instance_guard.h"
#include "ui/common/single_instance.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// For the modes whose output is all they do: a --help that went nowhere
// (`>/dev/full`) is a failure, as it is for the usual tools. An update's
// lost text is not: its status tells the outcome.
int OutputWritten(CliContext& context) {
  if (context.out) return kExitSuccess;
  context.err << "gps-update-cli: the output could not be written\n" << std::flush;
  return kExitOutputFailed;
}

// Every interface with our vendor and product: its path and, after a tab,
// its serial number where the platform gives one.
int ListDevices(HidBackend& backend, std::ostream& out, std::ostream& err) {
  const std::vector<AttachedDevice> devices = AttachedDevices(backend);
  for (const AttachedDevice& device : devices) {
    out << device.path;
    if (!device.serial.empty()) out << '\t' << device.serial;
    out << '\n';
  }
  out << std::flush;
  if (!devices.empty()) return kExitSuccess;
  err << text::kDeviceConnectFailed << '\n' << std::flush;
  return kExitNoDevice;
}

// True when the job would refuse the file before it looks for the device.
// The job then runs at once and says why in its own words, so that no one
// waits for a device only to hear that the file is missing.
bool FileRefused(const std::filesystem::path& file) { return CheckImageFile(file).Refused(); }

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
          return ExitStatusFor(probe.outcome);
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

// --all --wait: waits until at least one device is on the bus. Whether each
// one can be used is its own job's first look.
std::optional<int> WaitForAnyDevice(const CliOptions& options, const CliContext& context,
                                    HidBackend& backend, const StopEvent& interrupt,
                                    UpdateReporter& reporter) {
  const Clock::time_point start = Clock::now();
  bool waiting = false;
  while (AttachedDevices(backend).empty()) {
    const Clock::time_point now = Clock::now();
    if (now - start >= *options.wait) {
      reporter.SetStatusText(cli_text::kWaitTimedOut);
      return kExitWaitTimedOut;
    }
    if (!waiting) {
      reporter.SetStatusText(cli_text::kWaitingForDevice);
      waiting = true;
    }
    const auto left = std::chrono::ceil<milliseconds>(*options.wait - (now - start));
    if (interrupt.WaitFor(static_cast<uint32_t>(std::min(context.pollInterval, left).count()))) {
      reporter.SetStatusText(cli_text::kWaitInterrupted);
      return kExitInterrupted;
    }
  }
  return std::nullopt;
}

// gps-update-cli --all: the image is read once, then every device on the bus
// gets a job of its own.
int UpdateEveryDevice(const CliOptions& options, const CliContext& context, HidBackend& backend,
                      StopEvent& interrupt, UpdateReporter& reporter, LoadedImage& image,
                      std::vector<DeviceResult>& results) {
  if (const std::optional<UpdateOutcome> failed = LoadImage(options.file, reporter, image))
    return ExitStatusFor(*failed);
  if (options.wait) {
    if (const std::optional<int> status =
            WaitForAnyDevice(options, context, backend, interrupt, reporter)) {
      return *status;
    }
  }
  const std::vector<AttachedDevice> devices = AttachedDevices(backend);
  if (devices.empty()) {
    reporter.SetStatusText(text::kDeviceConnectFailed);
    return kExitNoDevice;
  }
  AllDevicesSettings settings(context.out, context.err);
  settings.drawBars = context.drawBar;
  settings.trace = options.trace;
  settings.backend = &backend;
  settings.interrupt = &interrupt;
  settings.bounds = context.bounds;
  results = UpdateAllDevices(devices, image, settings);
  return CombinedExitStatus(results);
}

// gps-update-cli --device ID: the one device that --list shows as ID. Returns
// the exit status when it cannot be updated; otherwise `view` holds it alone.
std::optional<int> ChooseDevice(const std::string& id, HidBackend& backend,
                                std::optional<DeviceViewBackend>& view,
                                UpdateReporter& reporter, std::ostream& err) {
  const std::vector<AttachedDevice> named = AttachedDevices(backend);
  if (named.empty()) {
    reporter.SetStatusText(text::kDeviceConnectFailed);
    return kExitNoDevice;
  }
  if (named.size() > 1) {
    err << "gps-update-cli: " << named.size() << " devices carry the serial number " << id
        << "; name one of them by its path (see --list)\n" << std::flush;
    return kExitUsage;
  }
  view.emplace(backend, DeviceViewBackend::Pinned(named[0].path, named[0].serial));
  return std::nullopt;
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

  std::unique_ptr<DemoDevices> demo;
  HidBackend* backend = context.backend;
  if (!backend && options.simulate) {
    demo = std::make_unique<DemoDevices>(options.simulatedDevices);
    backend = &demo->Bus();
  }
  if (!backend) backend = &PlatformHidBackend();
  // With --all each job traces its own device, its lines marked with its name.
  std::optional<TracingBackend> tracer;
  if (options.trace && !options.all) backend = &tracer.emplace(*backend, context.err);

  // Listing only enumerates; it opens nothing and may run beside an update.
  if (options.list) {
    const int status = ListDevices(*backend, context.out, context.err);
    return status == kExitSuccess ? OutputWritten(context) : status;
  }

  if (context.claimInstance) {
    const InstanceGuard& guard = context.claimInstance();
    const InstanceRule rule = RuleFor(guard.state(), guard.problem());
    if (!rule.goOn) {
      context.err << rule.text << '\n';
      if (!rule.problem.empty()) context.err << "gps-update-cli: " << rule.problem << '\n';
      context.err << std::flush;
      return rule.exitStatus;
    }
  }

  StopEvent neverSet;
  StopEvent& interrupt = context.interrupt ? *context.interrupt : neverSet;
  TerminalReporter::Settings view;
  // The trace's lines would run into the progress's, so a trace goes without.
  view.progress = options.trace     ? TerminalReporter::Progress::None
                  : context.drawBar ? TerminalReporter::Progress::Bar
                                    : TerminalReporter::Progress::Lines;
  view.columns = context.columns;
  view.now = context.now;
  TerminalReporter reporter(context.out, context.err, view);
  if (options.all) {
    LoadedImage image;
    std::vector<DeviceResult> results;
    const std::unique_ptr<SleepInhibitor> awake =
        context.keepAwake ? context.keepAwake() : nullptr;
    const int status =
        UpdateEveryDevice(options, context, *backend, interrupt, reporter, image, results);
    if (demo) {
      for (const DeviceResult& result : results)
        demo->Describe(result.name, image, result.status == kExitSuccess, context.err);
    }
    return status;
  }

  // --device: the bus narrowed to the devices with that serial number or
  // path while waiting, then to the one found.
  std::optional<DeviceViewBackend> named;
  std::optional<DeviceViewBackend> chosen;
  if (options.device)
    backend = &named.emplace(*backend, DeviceViewBackend::Named(*options.device));
  LinkSettings link;
  link.backend = backend;
  link.stop = &interrupt;
  link.bounds = context.bounds;

  if (!FileRefused(options.file)) {
    if (const std::optional<int> status =
            LookForDevice(options, context, link, interrupt, reporter)) {
      return *status;
    }
    if (options.device) {
      if (const std::optional<int> status =
              ChooseDevice(*options.device, *backend, chosen, reporter, context.err)) {
        return *status;
      }
    } else {
      // The job keeps to the device that is first on the bus now. Each of
      // its operations opens "the first matching interface" anew; with two
      // devices attached, one that leaves halfway must fail the job, not
      // hand the rest of it (the header, the restart) to the other one.
      std::optional<DeviceViewBackend> first = FirstDeviceView(*backend);
      if (!first) {
        reporter.SetStatusText(text::kDeviceConnectFailed);
        return kExitNoDevice;
      }
      chosen.emplace(std::move(*first));
    }
    link.backend = &*chosen;
  }
  // A browser's newer download of the default file is pointed out, never
  // taken: the command line does what it was told.
  const ImageChoice choice = options.fileGiven ? ChooseGivenImage(options.file)
                                               : ChooseDefaultImage(options.file);
  const std::string note = OfferNote(choice);
  if (!note.empty() && choice.found) context.err << note << '\n' << std::flush;

  const uint64_t size = choice.found ? choice.found->size : 0;
  reporter.BeginJob(static_cast<uint32_t>(std::min<uint64_t>(size, MAX_DATABASE_SIZE)));
  // Loaded here rather than by the job, so that the demo's closing check
  // compares the flash with the bytes that were sent.
  LoadedImage image;
  const std::optional<UpdateOutcome> failed = LoadImage(options.file, reporter, image);
  UpdateOutcome outcome = failed.value_or(UpdateOutcome::Succeeded);
  if (!failed) {
    const std::unique_ptr<SleepInhibitor> awake =
        context.keepAwake ? context.keepAwake() : nullptr;
    outcome = UpdateJob(reporter, link).UpdateDatabase(image.bytes.data(), image.length);
  }
  const bool stopped = context.interrupted ? context.interrupted() : interrupt.IsSet();
  reporter.EndJob(outcome, stopped, DisplayName(options.file), size);
  if (!note.empty() && !choice.found) context.err << note << '\n' << std::flush;
  if (failed) return ExitStatusFor(outcome);
  const bool succeeded = outcome == UpdateOutcome::Succeeded;
  if (demo && options.device)
    demo->Describe(*options.device, image, succeeded, context.err);
  else if (demo)
    demo->DescribeFirst(image, succeeded, context.err);
  return ExitStatusFor(outcome);
}

}  // namespace gps
