#include "ui/cli/all_devices.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <streambuf>
#include <thread>

#include "hid/device_view_backend.h"
#include "hid/shown_text.h"
#include "hid/tracing_backend.h"
#include "protocol/device_probe.h"
#include "ui/cli/counting_view.h"
#include "ui/cli/cli_options.h"
#include "ui/cli/device_console.h"
#include "ui/cli/text_width.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;

// While the jobs run, the interrupt is looked at this often.
constexpr uint32_t kInterruptCheckMs = 20;

// A stream that hands each whole line to `sink`: the trace of one job goes
// through the console, which keeps it from running into another job's lines.
class LineStreamBuf : public std::streambuf {
 public:
  explicit LineStreamBuf(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (c == '\n') {
      sink_(line_);
      line_.clear();
    } else {
      line_ += static_cast<char>(c);
    }
    return c;
  }

 private:
  std::function<void(std::string_view)> sink_;
  std::string line_;
};

// One device's job: the same look for the device as a single update makes,
// then the update. A device that is there but cannot be used is told so and
// gets nothing (after the settle time); one that has left is left to the
// update, which says so.
int RunJob(const LoadedImage& image, const LinkSettings& link, const DeviceJobSettings& settings,
           StopEvent& stop, UpdateReporter& reporter) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    const ProbeResult probe = ProbeDevice(link);
    switch (probe.outcome) {
      case ProbeOutcome::NoPermission:
      case ProbeOutcome::Busy:
      case ProbeOutcome::CannotOpen:
      case ProbeOutcome::WrongFirmware:
        if (probe.outcome != ProbeOutcome::WrongFirmware &&
            Clock::now() - start < settings.settleTime &&
            !stop.WaitFor(static_cast<uint32_t>(settings.pollInterval.count()))) {
          continue;
        }
        reporter.SetStatusText(probe.text);
        return ExitStatusFor(probe.outcome);
      case ProbeOutcome::Present:
      case ProbeOutcome::Absent:
        break;
    }
    break;
  }
  UpdateJob job(reporter, link);
  return ExitStatusFor(job.UpdateDatabase(image.bytes.data(), image.length));
}

std::string Seconds(std::chrono::milliseconds time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(time.count()) / 1000.0);
  return text;
}

std::string Devices(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " device" : " devices");
}

}  // namespace

DeviceResult RunDeviceJob(const AttachedDevice& device, const LoadedImage& image,
                          const DeviceJobSettings& settings, DeviceConsole& console,
                          std::size_t index, StopEvent& stop, const std::atomic<bool>& stopping) {
  DeviceResult result;
  // A serial number is whatever the device says: shown, it is written out
  // (the device is still picked, and recorded, by its raw path and serial).
  result.name = ShownText(device.name);
  result.path = device.path;
  result.serial = device.serial;
  result.started = std::chrono::system_clock::now();
  const Clock::time_point start = Clock::now();
  HidBackend& bus = settings.bus ? *settings.bus : PlatformHidBackend();
  CountingDeviceView view(bus, DeviceViewBackend::Pinned(device.path, device.serial));
  LineStreamBuf traceLines([&console, index](std::string_view line) { console.ErrorLine(index, line); });
  std::ostream traceStream(&traceLines);
  std::optional<TracingBackend> tracer;
  LinkSettings link;
  link.backend = &view;
  if (settings.trace) link.backend = &tracer.emplace(view, traceStream);
  link.stop = &stop;
  link.bounds = settings.bounds;
  result.status = RunJob(image, link, settings, stop, console.Reporter(index));
  // A job the interrupt ended says so, as a single update does.
  result.stoppedByUser = stopping && result.status != kExitSuccess;
  if (result.stoppedByUser) console.Reporter(index).SetStatusText(text::kUpdateStopped);
  result.lastText = console.LastText(index);
  result.ended = std::chrono::system_clock::now();
  result.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  result.reportsSent = view.ReportsSent();
  return result;
}

std::vector<DeviceResult> UpdateAllDevices(
    const std::vector<AttachedDevice>& devices, const LoadedImage& image,
    const AllDevicesSettings& settings,
    const std::function<void(const DeviceResult&)>& jobEnded) {
  const std::size_t count = devices.size();
  std::vector<std::string> names;
  // A serial number is whatever the device says: shown, it is written out
  // (a device is still picked by its raw path and serial number).
  for (const AttachedDevice& device : devices) names.push_back(ShownText(device.name));
  DeviceConsole console(settings.out, settings.err, names, settings.drawBars && !settings.trace,
                        settings.columns, settings.rows);
  DeviceJobSettings job;
  job.bus = settings.backend;
  job.trace = settings.trace;
  job.bounds = settings.bounds;

  // Each job has its own stop event: a link resets the event that ended its
  // transfer, so one shared event would stop only the first job to see it.
  std::vector<std::unique_ptr<StopEvent>> stops;
  for (std::size_t i = 0; i < count; ++i) stops.push_back(std::make_unique<StopEvent>());
  std::vector<DeviceResult> results(count);
  std::atomic<std::size_t> running{count};
  std::atomic<bool> stopped{false};
  StopEvent allEnded;

  {
    std::vector<std::jthread> jobs;
    for (std::size_t i = 0; i < count; ++i) {
      jobs.emplace_back([&, i] {
        results[i] = RunDeviceJob(devices[i], image, job, console, i, *stops[i], stopped);
        if (jobEnded) jobEnded(results[i]);
        if (--running == 0) allEnded.Set();
      });
    }
    // An interrupt reaches every job. It is looked at between waits for the
    // jobs' end; the jobs end, each at its next transfer, and are joined.
    while (!allEnded.WaitFor(kInterruptCheckMs)) {
      if (!stopped && settings.interrupt && settings.interrupt->IsSet()) {
        stopped = true;
        for (auto& stop : stops) stop->Set();
      }
    }
  }
  console.ClearBars();
  settings.out << ResultTable(results) << std::flush;
  return results;
}

int CombinedExitStatus(const std::vector<DeviceResult>& results) {
  for (const DeviceResult& result : results)
    if (result.status != kExitSuccess) return result.status;
  return kExitSuccess;
}

std::string ResultRows(const std::vector<DeviceResult>& results) {
  struct Row {
    std::string cells[4];
  };
  std::vector<Row> rows{{{"Device", "Outcome", "Last text", "Time"}}};
  for (const DeviceResult& r : results) {
    const std::string code = " (" + std::to_string(r.status) + ")";
    const std::string outcome = r.status == kExitSuccess ? "ok"
                                : r.stoppedByUser       ? "stopped" + code
                                                        : "failed" + code;
    rows.push_back({{r.name, outcome, r.lastText, Seconds(r.time)}});
  }
  std::size_t widths[4] = {};
  for (const Row& row : rows)
    for (int c = 0; c < 4; ++c) widths[c] = std::max(widths[c], DisplayWidth(row.cells[c]));
  std::string table;
  for (const Row& row : rows) {
    std::string line;
    for (int c = 0; c < 3; ++c) line += FitWidth(row.cells[c], widths[c]) + "  ";
    table += line + std::string(widths[3] - DisplayWidth(row.cells[3]), ' ') + row.cells[3] + "\n";
  }
  return table;
}

std::string ResultTable(const std::vector<DeviceResult>& results) {
  std::string table = ResultRows(results);
  const auto failed = std::count_if(results.begin(), results.end(),
                                    [](const DeviceResult& r) { return r.status != kExitSuccess; });
  const bool stopped = std::any_of(results.begin(), results.end(),
                                   [](const DeviceResult& r) { return r.stoppedByUser; });
  if (failed == 0) {
    table += "All " + Devices(results.size()) + " updated.\n";
  } else {
    const auto first = std::find_if(results.begin(), results.end(),
                                    [](const DeviceResult& r) { return r.status != kExitSuccess; });
    table += std::to_string(failed) + " of " + Devices(results.size()) +
             " failed; the exit status is " + std::to_string(first->status) + ", " +
             first->name + "'s, the first failure in bus order.\n";
  }
  // As a single update ends on it: the user stopped this, and it may be run
  // again.
  if (stopped) table += std::string(text::kUpdateStopped) + "\n";
  return table;
}

}  // namespace gps
