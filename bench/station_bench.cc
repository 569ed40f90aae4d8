#include "bench/station_bench.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <mutex>
#include <thread>

#include "hid/device_view_backend.h"
#include "hid/hid_device.h"
#include "sim/sim_device.h"
#include "ui/cli/cli_program.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;

// The whole bus, passed on, with the moments the bench needs: when a look
// first saw the device after it was plugged in, and when the first report
// went out to it.
class StopwatchBus : public DeviceViewBackend {
 public:
  explicit StopwatchBus(HidBackend& inner)
      : DeviceViewBackend(inner, [](const std::string&, const Serial&) { return true; }) {}

  void Plugged() {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.reset();
    firstReport_.reset();
  }
  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths = DeviceViewBackend::EnumerateInterfaces();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!paths.empty() && !seen_) seen_ = Clock::now();
      ++looks_;
    }
    changed_.notify_all();
    return paths;
  }
  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
    if (direction == HidDirection::Write) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!firstReport_) firstReport_ = Clock::now();
    }
    return DeviceViewBackend::Transfer(handle, direction, buffer, length, boundMs, stop);
  }
  // Waits until two more looks have begun: the station has seen the bus as
  // it is now.
  bool SeenAsItIs() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = looks_ + 2;
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return looks_ >= target; });
  }
  std::optional<Clock::time_point> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  std::optional<Clock::time_point> FirstReport() {
    std::lock_guard<std::mutex> lock(mutex_);
    return firstReport_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t looks_ = 0;
  std::optional<Clock::time_point> seen_;
  std::optional<Clock::time_point> firstReport_;
};

double ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

double HeapKiB() {
  malloc_trim(0);
  return static_cast<double>(mallinfo2().uordblks) / 1024.0;
}

// One station run on one simulated device that is plugged in `plugIns`
// times, each time after waiting `pause(n)`. `after(n, pluggedAt, bus)` is
// called once the n-th job has ended and the device is out again.
bool RunStationOn(
    std::size_t plugIns, std::chrono::milliseconds lookInterval,
    const std::function<std::chrono::milliseconds(std::size_t)>& pause,
    const std::function<void(std::size_t, Clock::time_point, StopwatchBus&)>& after) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("gps-bench-station-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "code_data.bin", std::ios::binary) << std::string(4096, '\x5a');

  SimConfig config;
  config.recordReports = false;
  config.flashStorage = SimFlash::Storage::Digests;
  SimDevice device(config);
  device.Unplug();
  SimBus bus;
  bus.AddDevice(device, "sim:0416:b500:1", "BENCH-1");
  StopwatchBus watched(bus);

  std::mutex mutex;
  std::condition_variable ended;
  std::size_t jobs = 0;
  int failures = 0;
  StopEvent interrupt;
  std::ostream discard(nullptr);
  CliContext context(discard, discard);
  context.backend = &watched;
  context.interrupt = &interrupt;
  context.pollInterval = lookInterval;
  context.restartWindow = std::chrono::milliseconds(0);
  context.stationJobEnded = [&](const DeviceResult& job) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++jobs;
      failures += job.status != 0;
    }
    ended.notify_all();
  };
  CliOptions options = ParseCliOptions(
      {"--station", "--record", (dir / "record.jsonl").string(), (dir / "code_data.bin").string()});
  int status = -1;
  std::thread station([&] { status = RunCli(options, context); });

  bool ok = true;
  for (std::size_t n = 1; n <= plugIns && ok; ++n) {
    std::this_thread::sleep_for(pause(n));
    watched.Plugged();
    const Clock::time_point pluggedAt = Clock::now();
    device.Plug();
    {
      std::unique_lock<std::mutex> lock(mutex);
      ok = ended.wait_for(lock, std::chrono::seconds(30), [&] { return jobs >= n; });
    }
    device.Unplug();
    ok = ok && watched.SeenAsItIs();
    if (ok) after(n, pluggedAt, watched);
  }
  interrupt.Set();
  station.join();
  fs::remove_all(dir);
  return ok && status == 0 && failures == 0;
}

}  // namespace

StationFigures MeasureStation(std::size_t plugIns, const std::vector<std::size_t>& jobs) {
  using std::chrono::milliseconds;
  StationFigures figures;
  std::ostream discard(nullptr);
  const CliContext defaults(discard, discard);
  figures.lookIntervalMs = static_cast<double>(defaults.pollInterval.count());
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  // A device is plugged in at any moment between two looks: each plug-in
  // here comes at another point of the interval.
  const auto spread = [&](std::size_t n) {
    return milliseconds((n * 97) % static_cast<std::size_t>(defaults.pollInterval.count()));
  };
  bool ok = RunStationOn(plugIns, defaults.pollInterval, spread,
                         [&](std::size_t, Clock::time_point plugged, StopwatchBus& bus) {
                           const auto seen = bus.Seen();
                           const auto first = bus.FirstReport();
                           if (!seen || !first) return;
                           figures.firstReportMs.push_back(ms(*first - plugged));
                           figures.afterLookMs.push_back(ms(*first - *seen));
                         });
  // Memory: as many jobs as the station takes, looking at the bus every
  // millisecond; heap in use and resident memory at each count asked for.
  std::size_t next = 0;
  ok = ok && RunStationOn(jobs.empty() ? 0 : jobs.back(), milliseconds(1),
                          [](std::size_t) { return milliseconds(0); },
                          [&](std::size_t n, Clock::time_point, StopwatchBus&) {
                            if (next < jobs.size() && n == jobs[next]) {
                              figures.jobs.push_back(n);
                              figures.heapKiB.push_back(HeapKiB());
                              figures.residentKiB.push_back(ResidentKiB());
                              ++next;
                            }
                          });
  figures.failed = !ok;
  return figures;
}

}  // namespace gps
