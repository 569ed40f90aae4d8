#include "ui/cli/cli_program.h"

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include "hid/device_view_backend.h"
#include "hid/shown_text.h"
#include "hid/tracing_backend.h"
#include "protocol/device_probe.h"
#include "protocol/flash_layout.h"
#include "protocol/image_check.h"
#include "protocol/image_header.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "protocol/sha256.h"
#include "ui/cli/all_devices.h"
#include "hid/attached_devices.h"
#include "ui/cli/counting_view.h"
#include "ui/cli/demo_devices.h"
#include "ui/cli/help_text.h"
#include "ui/cli/job_record.h"
#include "ui/cli/record_file.h"
#include "ui/cli/station.h"
#include "ui/cli/terminal_reporter.h"
#include "ui/common/image_file.h"
#include "ui/common/instance_guard.h"
#include "ui/common/single_instance.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Passes a job's reports on and keeps its last text, for the record.
class LastTextReporter : public UpdateReporter {
 public:
  explicit LastTextReporter(UpdateReporter& inner) : inner_(inner) {}
  void SetStatusText(std::string_view text) override {
    last_ = text;
    inner_.SetStatusText(text);
  }
  void SetProgressRange(uint32_t upper) override { inner_.SetProgressRange(upper); }
  void SetProgressPosition(uint32_t position) override { inner_.SetProgressPosition(position); }
  void ShowMessage(std::string_view text) override {
    last_ = text;
    inner_.ShowMessage(text);
  }
  void StageBegins(JobStage stage) override { inner_.StageBegins(stage); }
  const std::string& LastText() const { return last_; }

 private:
  UpdateReporter& inner_;
  std::string last_;
};

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
    // One device per line, for scripts: a path or serial number that holds
    // a tab, a newline or a terminal control is written out, not obeyed.
    out << ShownText(device.path);
    if (!device.serial.empty()) out << '\t' << ShownText(device.serial);
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

// What one look at the bus found.
struct Sighting {
  enum Kind {
    Found,     // what was looked for is there and may be used
    Missing,   // nothing is there yet
    Unusable,  // something is there but cannot be used (yet)
  };
  Kind kind = Missing;
  std::string_view text;  // the status text that tells the user
  int status = kExitSuccess;  // the exit status when the program ends on it
};

// Looks at the bus with `look` until it finds what it looks for, and with
// --wait waits for it. Returns the exit status when the program must end.
//
// Without --wait the first look decides: something missing or unusable is
// reported at once with its cause. While waiting, something missing is
// waited for until the time is up, and something unusable first gets the
// settle time to become usable. An interrupt ends the wait at once.
std::optional<int> PollBus(const std::optional<milliseconds>& wait, const CliContext& context,
                           const StopEvent& interrupt, UpdateReporter& reporter,
                           const std::function<Sighting()>& look) {
  const Clock::time_point start = Clock::now();
  std::optional<Clock::time_point> unusableSince;
  bool waiting = false;  // "waiting for the device" has been shown
  bool waited = false;   // it was not found at the first look
  for (;;) {
    const Sighting sighting = look();
    const Clock::time_point now = Clock::now();
    const bool timeUp = wait && now - start >= *wait;
    switch (sighting.kind) {
      case Sighting::Found:
        if (waited && !sighting.text.empty()) reporter.SetStatusText(sighting.text);
        return std::nullopt;
      case Sighting::Missing:
        if (!wait) {
          reporter.SetStatusText(sighting.text);
          return sighting.status;
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
      case Sighting::Unusable:
        if (!unusableSince) unusableSince = now;
        if (!wait || timeUp || now - *unusableSince >= context.settleTime) {
          reporter.SetStatusText(sighting.text);
          return sighting.status;
        }
        break;
    }
    // Rounded up, so that the last look comes after the time is up.
    const auto left = std::chrono::ceil<milliseconds>(*wait - (now - start));
    const milliseconds pause = std::min(context.pollInterval, left);
    waited = true;
    if (interrupt.WaitFor(static_cast<uint32_t>(pause.count()))) {
      reporter.SetStatusText(cli_text::kWaitInterrupted);
      return kExitInterrupted;
    }
  }
}

// The look before a single update: the device is there and can be opened.
Sighting ProbeSighting(const LinkSettings& link) {
  const ProbeResult probe = ProbeDevice(link);
  switch (probe.outcome) {
    case ProbeOutcome::Present: return {Sighting::Found, probe.text, kExitSuccess};
    case ProbeOutcome::Absent: return {Sighting::Missing, probe.text, kExitNoDevice};
    default: return {Sighting::Unusable, probe.text, ExitStatusFor(probe.outcome)};
  }
}

// The look before --all: at least one device is on the bus. Whether each one
// can be used is its own job's first look.
Sighting AnyDeviceSighting(HidBackend& backend, std::vector<AttachedDevice>& devices) {
  devices = AttachedDevices(backend);
  if (devices.empty()) return {Sighting::Missing, text::kDeviceConnectFailed, kExitNoDevice};
  return {Sighting::Found, {}, kExitSuccess};
}

// The bus the program works on, and what it takes to keep it.
struct ProgramBus {
  std::unique_ptr<DemoDevices> demo;  // --simulate without a bus of the caller's
  std::optional<TracingBackend> tracer;
  HidBackend* backend = nullptr;
};

// The caller's bus, else the simulated devices of --simulate, else the
// platform's; with --trace (of a single update) every report on it is shown.
void ChooseBackend(const CliOptions& options, const CliContext& context, ProgramBus& bus) {
  bus.backend = context.backend;
  if (!bus.backend && options.simulate) {
    bus.demo = std::make_unique<DemoDevices>(options.simulatedDevices);
    bus.backend = &bus.demo->Bus();
  }
  if (!bus.backend) bus.backend = &PlatformHidBackend();
  // With --all each job traces its own device, its lines marked with its name.
  if (options.trace && !options.all && !options.station)
    bus.backend = &bus.tracer.emplace(*bus.backend, context.trace ? *context.trace : context.err);
}

// Takes the single-instance guard. Returns the exit status when the program
// must not go on: another copy runs, or the guard could not be had safely.
std::optional<int> ClaimInstance(const CliContext& context) {
  if (!context.claimInstance) return std::nullopt;
  const InstanceRule rule = RuleFor(context.claimInstance());
  if (rule.goOn) return std::nullopt;
  context.err << rule.text << '\n';
  if (!rule.problem.empty()) context.err << "gps-update-cli: " << rule.problem << '\n';
  context.err << std::flush;
  return rule.exitStatus;
}

// The image as the record names it, and its checksum shown before anything
// is sent, for the operator to compare with the one published beside it.
RecordedImage ShowImage(const std::filesystem::path& file, const LoadedImage& image,
                        std::ostream& err) {
  RecordedImage shown{DisplayName(file), image.length,
                      Sha256Hex(image.bytes.data(), image.length)};
  err << "SHA-256 of " << ShownText(shown.name) << ": " << shown.sha256 << '\n' << std::flush;
  return shown;
}

// Appends the job's line to the record, if one is kept. A line that cannot
// be written goes to standard error instead, so that it is not lost.
bool Record(RecordFile* record, const std::filesystem::path& recordName,
            const DeviceResult& job, const RecordedImage& image, std::ostream& err) {
  if (!record) return true;
  const std::string line = RecordLine(job, image);
  const std::string problem = record->Append(line);
  if (problem.empty()) return true;
  err << "gps-update-cli: " << ShownText(DisplayName(recordName)) << " could not be written (" << problem
      << "); its line: " << line << '\n' << std::flush;
  return false;
}

// What --all and --station both take from the program's options and its
// terminal.
void FillAllDevicesSettings(AllDevicesSettings& settings, const CliOptions& options,
                            const CliContext& context, const ProgramBus& bus,
                            StopEvent& interrupt) {
  settings.drawBars = context.drawBar;
  settings.columns = context.columns ? context.columns() : 0;
  settings.rows = context.rows ? context.rows() : 0;
  settings.trace = options.trace;
  settings.backend = bus.backend;
  settings.interrupt = &interrupt;
  settings.bounds = context.bounds;
}

// gps-update-cli --all: the image is read once, then every device on the bus
// gets a job of its own.
int UpdateEveryDevice(const CliOptions& options, const CliContext& context, ProgramBus& bus,
                      StopEvent& interrupt, UpdateReporter& reporter, RecordFile* record) {
  const std::unique_ptr<SleepInhibitor> awake = context.keepAwake ? context.keepAwake() : nullptr;
  LoadedImage image;
  if (const std::optional<UpdateOutcome> failed = LoadImage(options.file, reporter, image))
    return ExitStatusFor(*failed);
  const RecordedImage shown = ShowImage(options.file, image, context.err);
  std::vector<AttachedDevice> devices;
  if (const std::optional<int> status = PollBus(options.wait, context, interrupt, reporter, [&] {
        return AnyDeviceSighting(*bus.backend, devices);
      })) {
    return *status;
  }
  AllDevicesSettings settings(context.out, context.err);
  FillAllDevicesSettings(settings, options, context, bus, interrupt);
  std::atomic<bool> recordLost{false};
  const std::vector<DeviceResult> results =
      UpdateAllDevices(devices, image, settings, [&](const DeviceResult& job) {
        if (!Record(record, options.record.value_or(""), job, shown, context.err)) recordLost = true;
      });
  if (bus.demo) {
    for (const DeviceResult& result : results)
      bus.demo->Describe(result.name, image, result.status == kExitSuccess, context.err);
  }
  const int status = CombinedExitStatus(results);
  return status == kExitSuccess && recordLost ? kExitRecord : status;
}

// gps-update-cli --station: the image is read once, then the station runs
// until it is interrupted.
int RunStationMode(const CliOptions& options, const CliContext& context, ProgramBus& bus,
                   StopEvent& interrupt, UpdateReporter& reporter, RecordFile& record,
                   const std::filesystem::path& recordName) {
  LoadedImage image;
  if (const std::optional<UpdateOutcome> failed = LoadImage(options.file, reporter, image))
    return ExitStatusFor(*failed);
  StationSettings settings(context.out, context.err);
  settings.image = ShowImage(options.file, image, context.err);
  FillAllDevicesSettings(settings, options, context, bus, interrupt);
  settings.interrupts = context.interrupts;
  settings.pollInterval = context.pollInterval;
  settings.settleTime = context.settleTime;
  settings.restartWindow = context.restartWindow;
  settings.keepAwake = context.keepAwake;
  settings.record = &record;
  settings.recordName = recordName;
  settings.file = options.file;
  settings.jobEnded = context.stationJobEnded;
  return RunStation(image, settings);
}

// gps-update-cli --device ID: the one device that --list shows as ID. Returns
// the exit status when it cannot be updated; otherwise `chosen` is it.
std::optional<int> ChooseDevice(const std::string& id, HidBackend& backend,
                                std::optional<AttachedDevice>& chosen,
                                UpdateReporter& reporter, std::ostream& err) {
  const std::vector<AttachedDevice> named = AttachedDevices(backend);
  if (named.empty()) {
    reporter.SetStatusText(text::kDeviceConnectFailed);
    return kExitNoDevice;
  }
  if (named.size() > 1) {
    err << "gps-update-cli: " << named.size() << " devices carry the serial number "
        << ShownText(id)
        << "; name one of them by its path (see --list)\n" << std::flush;
    return kExitUsage;
  }
  chosen = named[0];
  return std::nullopt;
}

// Finds the device the single update goes to, waiting for it with --wait.
// Returns the exit status when there is none to update.
std::optional<int> FindTheDevice(const CliOptions& options, const CliContext& context,
                                 HidBackend& backend, const LinkSettings& link,
                                 const StopEvent& interrupt, UpdateReporter& reporter,
                                 std::optional<AttachedDevice>& chosen) {
  if (const std::optional<int> status = PollBus(options.wait, context, interrupt, reporter,
                                                [&] { return ProbeSighting(link); })) {
    return status;
  }
  if (options.device) return ChooseDevice(*options.device, backend, chosen, reporter, context.err);
  // The job keeps to the device that is first on the bus now. Each of its
  // operations opens "the first matching interface" anew; with two devices
  // attached, one that leaves halfway must fail the job, not hand the rest
  // of it (the header, the restart) to the other one.
  const std::vector<AttachedDevice> devices = AttachedDevices(backend);
  if (devices.empty()) {
    reporter.SetStatusText(text::kDeviceConnectFailed);
    return kExitNoDevice;
  }
  chosen = devices.front();
  return std::nullopt;
}

// A single update: the first device on the bus, or the one --device names.
int UpdateOneDevice(const CliOptions& options, CliContext& context, ProgramBus& bus,
                    StopEvent& interrupt, TerminalReporter& reporter, RecordFile* record) {
  // --device: the bus narrowed to the devices with that serial number or
  // path while waiting, then to the one found.
  HidBackend* backend = bus.backend;
  std::optional<DeviceViewBackend> named;
  std::optional<AttachedDevice> chosen;
  // The job's view holds the chosen device alone.
  std::optional<CountingDeviceView> view;
  if (options.device)
    backend = &named.emplace(*backend, DeviceViewBackend::Named(*options.device));
  LinkSettings link;
  link.backend = backend;
  link.stop = &interrupt;
  link.bounds = context.bounds;

  if (!FileRefused(options.file)) {
    if (const std::optional<int> status =
            FindTheDevice(options, context, *backend, link, interrupt, reporter, chosen)) {
      return *status;
    }
    link.backend =
        &view.emplace(*backend, DeviceViewBackend::Pinned(chosen->path, chosen->serial));
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
  LastTextReporter watched(reporter);
  const std::optional<UpdateOutcome> failed = LoadImage(options.file, watched, image);
  UpdateOutcome outcome = failed.value_or(UpdateOutcome::Succeeded);
  std::optional<RecordedImage> shown;
  const auto started = std::chrono::system_clock::now();
  if (!failed) {
    shown = ShowImage(options.file, image, context.err);
    const std::unique_ptr<SleepInhibitor> awake =
        context.keepAwake ? context.keepAwake() : nullptr;
    outcome = UpdateJob(watched, link).UpdateDatabase(image.bytes.data(), image.length);
  }
  const bool stopped = context.interrupted ? context.interrupted() : interrupt.IsSet();
  bool recorded = true;
  if (shown && chosen) {
    DeviceResult job;
    job.name = ShownText(chosen->name);
    job.path = chosen->path;
    job.serial = chosen->serial;
    job.status = ExitStatusFor(outcome);
    job.stoppedByUser = stopped && outcome != UpdateOutcome::Succeeded;
    job.lastText = watched.LastText();
    job.started = started;
    job.ended = std::chrono::system_clock::now();
    job.reportsSent = view ? view->ReportsSent() : 0;
    recorded = Record(record, options.record.value_or(""), job, *shown, context.err);
  }
  reporter.EndJob(outcome, stopped, DisplayName(options.file), size);
  if (!note.empty() && !choice.found) context.err << note << '\n' << std::flush;
  if (failed) return ExitStatusFor(outcome);
  const bool succeeded = outcome == UpdateOutcome::Succeeded;
  if (bus.demo && options.device)
    bus.demo->Describe(*options.device, image, succeeded, context.err);
  else if (bus.demo)
    bus.demo->DescribeFirst(image, succeeded, context.err);
  if (succeeded && !recorded) return kExitRecord;
  return ExitStatusFor(outcome);
}

}  // namespace

int RunCli(const CliOptions& options, CliContext& context) {
  if (!options.error.empty()) {
    context.err << "gps-update-cli: " << options.error << "\n"
                << "Try 'gps-update-cli --help' for more information.\n";
    return kExitUsage;
  }
  if (options.help || options.version) {
    context.out << (options.help ? HelpTextForUser() : VersionText()) << std::flush;
    return OutputWritten(context);
  }

  ProgramBus bus;
  ChooseBackend(options, context, bus);
  // Listing only enumerates; it opens nothing and may run beside an update.
  if (options.list) {
    const int status = ListDevices(*bus.backend, context.out, context.err);
    return status == kExitSuccess ? OutputWritten(context) : status;
  }
  if (const std::optional<int> refused = ClaimInstance(context)) return *refused;

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
  // The record is opened before anything is sent: a station that could not
  // keep it would update devices that no one can look up later.
  RecordFile record;
  const std::filesystem::path recordName =
      options.record.value_or(options.station ? kDefaultRecordFile : "");
  if (!recordName.empty()) {
    if (const std::string problem = record.Open(recordName); !problem.empty()) {
      context.err << "gps-update-cli: the record " << ShownText(DisplayName(recordName))
                  << " cannot be opened: " << problem << "; nothing was sent\n"
                  << std::flush;
      return kExitRecord;
    }
  }
  RecordFile* const kept = record.IsOpen() ? &record : nullptr;
  if (options.station)
    return RunStationMode(options, context, bus, interrupt, reporter, record, recordName);
  if (options.all) return UpdateEveryDevice(options, context, bus, interrupt, reporter, kept);
  return UpdateOneDevice(options, context, bus, interrupt, reporter, kept);
}

}  // namespace gps
