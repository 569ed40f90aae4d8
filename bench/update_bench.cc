// What an update costs the host, against the limit of the wire.
//
//   Stack  a whole update of the largest image through the job, the device
//          link and the simulated bus, with no device latency and a reporter
//          that does nothing
//   Raw    the same reports framed and handed straight to the simulated
//          device: the floor under the stack
//   Qt     the same update reporting through the Qt dialog's reporter to a
//          live UI thread: the time it adds per page, and the longest the UI
//          thread went without serving its events
//   Memory peak resident memory of gps-update-cli updating the simulated
//          device with the largest image, and eight of them with --all
//   All    gps-update-cli --all on 1, 2, 4 and 8 simulated devices paced at
//          the wire's rate (one report per 1 ms frame): the time against
//          one device alone
//   Station  gps-update-cli --station: a device plugged in to the first
//          report sent to it, and the memory after 1,000 jobs
//          (`gps_bench --station-only` prints these alone)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/null_reporter.h"
#include "bench/qt_reporting.h"
#include "bench/paced_backend.h"
#include "bench/station_bench.h"
#include "sim/sim_device.h"
#include "protocol/command_block.h"
#include "protocol/flash_layout.h"
#include "protocol/update_job.h"
#include "ui/cli/cli_program.h"

namespace {

using namespace gps;

constexpr uint32_t kImageSize = MAX_DATABASE_SIZE;
// The largest image ends at the end of the flash, so it gets no page of
// zeros after it.
constexpr uint32_t kPages = kImageSize / PAGE_SIZE;     // 65,376
constexpr uint64_t kDataReports = uint64_t{kPages} * 4;  // 261,504

uint8_t ImageByte(uint32_t i) { return static_cast<uint8_t>(i * 131 + (i >> 9)); }

const std::vector<uint8_t>& Image() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> v(std::size_t{kImageSize} + 512, 0);
    for (uint32_t i = 0; i < kImageSize; ++i) v[i] = ImageByte(i);
    return v;
  }();
  return image;
}

SimConfig QuietDevice() {
  SimConfig config;
  config.recordReports = false;
  return config;
}

// A whole update of the largest image on a device of its own, reported to
// no one. Returns the reports the device took, or 0 when the update failed.
uint64_t QuietUpdate() {
  SimDevice device(QuietDevice());
  SimBus bus(device);
  LinkSettings link;
  link.backend = &bus;
  NullReporter reporter;
  UpdateJob job(reporter, link);
  if (job.UpdateDatabase(Image().data(), kImageSize) != UpdateOutcome::Succeeded) return 0;
  return device.OutputReportCount();
}

void BM_Stack(benchmark::State& state) {
  uint64_t reports = 0;
  for (auto _ : state) {
    const uint64_t taken = QuietUpdate();
    if (taken == 0) {
      state.SkipWithError("the update failed");
      return;
    }
    reports += taken;
  }
  state.counters["reports"] = benchmark::Counter(static_cast<double>(reports),
                                                 benchmark::Counter::kIsRate);
}

// The same command and data reports, framed as the job frames them, handed
// to the device one by one.
void BM_Raw(benchmark::State& state) {
  const std::vector<uint8_t>& image = Image();
  uint64_t reports = 0;
  for (auto _ : state) {
    SimDevice device(QuietDevice());
    uint8_t report[REPORT_SIZE];
    FrameCommand(CMD_ERASE_SECTORS, DATABASE_ADDRESS / SECTOR_SIZE,
                 (kImageSize + SECTOR_SIZE - 1) / SECTOR_SIZE, report);
    device.Receive(report);
    FrameCommand(CMD_WRITE_PAGES, DATABASE_ADDRESS / PAGE_SIZE, kPages, report);
    device.Receive(report);
    for (uint64_t sent = 0; sent < kDataReports * 64; sent += 64) {
      std::memset(report, REPORT_FILL, REPORT_SIZE);
      report[0] = 0;
      std::memcpy(report + 1, image.data() + sent, 64);
      device.Receive(report);
    }
    benchmark::DoNotOptimize(report);
    reports += device.OutputReportCount();
  }
  state.counters["reports"] = benchmark::Counter(static_cast<double>(reports),
                                                 benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Stack)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Raw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Remembers each run's reports per second so the ratio can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      auto found = run.counters.find("reports");
      if (found != run.counters.end()) rates[run.run_name.function_name] = found->second.value;
    }
  }
  std::map<std::string, double> rates;
};

// Writes `size` bytes of the image as dir/code_data.bin.
void WriteImageFile(const std::filesystem::path& dir, uint32_t size) {
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / "code_data.bin", std::ios::binary);
  std::vector<char> block(65536);
  for (uint32_t at = 0; at < size; at += static_cast<uint32_t>(block.size())) {
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(block.size()), size - at);
    for (uint32_t i = 0; i < n; ++i) block[i] = static_cast<char>(ImageByte(at + i));
    out.write(block.data(), n);
  }
}

// Runs gps-update-cli with `simulate` and `all` (or nothing: null) on the
// simulated devices with the largest image and returns its peak resident
// memory in bytes, or -1. It must run before this process grows: a child's
// peak counts the memory of the parent it was forked from, until it executes
// the program.
long PeakMemoryOfCli(const char* simulate, const char* all) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("gps-bench-" + std::to_string(getpid()));
  WriteImageFile(dir, kImageSize);
  std::fflush(stdout);  // the child must not print what is still buffered
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    // Only calls that are safe between fork and exec: the child's output
    // goes to /dev/null.
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull < 0 || dup2(devNull, STDOUT_FILENO) < 0 || dup2(devNull, STDERR_FILENO) < 0) {
      _exit(127);
    }
    setenv("GPS_UPDATE_LOCK_PARENT", dir.c_str(), 1);
    execl(GPS_CLI_PATH, GPS_CLI_PATH, simulate, all, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  fs::remove_all(dir);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss * 1024L;  // Linux reports kilobytes
}

// The devices' side of the --all measurement: an image small enough that
// three rounds of four runs take about two minutes, and frames of a
// full-speed endpoint.
constexpr uint32_t kPacedImageSize = 512 * 1024;
constexpr int kPacedRounds = 3;
constexpr std::chrono::microseconds kFrame{1000};

// Seconds that gps-update-cli --all takes to update `count` simulated
// devices whose wire takes one report per frame; negative when it failed.
// `reports` receives what one device took.
double PacedAllDevicesSeconds(unsigned count, uint64_t& reports) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("gps-bench-all-" + std::to_string(getpid()));
  WriteImageFile(dir, kPacedImageSize);
  std::vector<std::unique_ptr<SimDevice>> devices;
  SimBus bus;
  for (unsigned i = 0; i < count; ++i) {
    SimConfig config = QuietDevice();
    config.flashStorage = SimFlash::Storage::Digests;
    devices.push_back(std::make_unique<SimDevice>(config));
    const std::string number = std::to_string(i);
    bus.AddInterface({"sim:" + number, HID_VENDOR_ID, HID_PRODUCT_ID, true,
                      devices.back().get(), "B" + number});
  }
  PacedBackend wire(bus, kFrame);
  std::ostream discard(nullptr);
  CliContext context(discard, discard);
  context.backend = &wire;
  CliOptions options;
  options.all = true;
  options.file = dir / "code_data.bin";
  const auto start = std::chrono::steady_clock::now();
  const int status = RunCli(options, context);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  fs::remove_all(dir);
  for (const auto& device : devices)
    if (device->Restarts() != 1) return -1;
  reports = devices.front()->OutputReportCount();
  return status == 0 ? took.count() : -1;
}

}  // namespace

// The station's figures: the time from a plug-in to the first report, and
// the memory after many jobs, which must not grow.
int PrintStationFigures() {
  const std::vector<std::size_t> counts = {100, 250, 500, 1000};
  const StationFigures f = MeasureStation(40, counts);
  if (f.failed || f.firstReportMs.empty()) {
    std::printf("Station            the simulated station failed\n");
    return 1;
  }
  auto sorted = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  const std::vector<double> first = sorted(f.firstReportMs);
  const std::vector<double> after = sorted(f.afterLookMs);
  auto at = [](const std::vector<double>& v, double q) {
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
  };
  std::printf("\nStation: plug-in to first report over %zu plug-ins, the bus looked at every "
              "%.0f ms:\n  median %7.1f ms, 90th %7.1f ms, longest %7.1f ms\n",
              first.size(), f.lookIntervalMs, at(first, 0.5), at(first, 0.9), first.back());
  std::printf("  of which after the look that saw it: median %.2f ms, longest %.2f ms\n",
              at(after, 0.5), after.back());
  std::printf("Station memory after N jobs (heap in use / resident):\n");
  for (std::size_t i = 0; i < f.jobs.size(); ++i)
    std::printf("  %5zu jobs  %9.1f KiB / %9.1f KiB\n", f.jobs[i], f.heapKiB[i], f.residentKiB[i]);
  return 0;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--station-only") return PrintStationFigures();
  benchmark::Initialize(&argc, argv);
  const long peak = PeakMemoryOfCli("--simulate", nullptr);
  const long peakAll = PeakMemoryOfCli("--simulate=8", "--all");
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const double stack = reporter.rates["BM_Stack"];
  const double raw = reporter.rates["BM_Raw"];
  std::printf("\nStack throughput   %12.0f reports/s  (%.0f ns per report; target >= 5,000,000/s)\n",
              stack, stack > 0 ? 1e9 / stack : 0.0);
  std::printf("Raw limit          %12.0f reports/s\n", raw);
  if (stack > 0) std::printf("Raw / stack        %12.2f x  (target <= 4)\n", raw / stack);

  const QtReportingCost qt = MeasureQtReporting(Image(), kImageSize, 5);
  std::printf("Qt reporting       %12.2f us added per page (target <= 5); "
              "%.1f ms vs %.1f ms per update; %llu bar positions shown\n",
              (qt.updateSeconds - qt.quietSeconds) * 1e6 / kPages, qt.updateSeconds * 1e3,
              qt.quietSeconds * 1e3, static_cast<unsigned long long>(qt.positionsShown));
  std::printf("UI responsiveness  %12.1f ms longest without serving events (target < 50)\n",
              qt.longestUiGapMs);

  const double mib = 1024.0 * 1024.0;
  if (peak < 0 || peakAll < 0) {
    std::printf("Peak memory        gps-update-cli failed\n");
    return 1;
  }
  std::printf("Peak memory        %12.1f MiB for a %.1f MiB image: image + %.1f MiB "
              "(target <= image + 16 MiB)\n",
              peak / mib, kImageSize / mib, (peak - static_cast<double>(kImageSize)) / mib);
  // Each simulated device keeps a digest of its flash in the same process.
  const double simFlash = (SIM_FLASH_SIZE / SIM_CHUNK_SIZE) * 9.0;
  std::printf("Peak memory, --all %12.1f MiB with 8 devices: %.1f MiB more than one, of which "
              "%.1f MiB are the 7 further simulated flashes (the image is held once)\n",
              peakAll / mib, (peakAll - peak) / mib, 7 * simFlash / mib);

  // The rounds alternate the counts, so that a change in the machine's load
  // touches each alike; each count's best round is compared.
  const unsigned counts[] = {1, 2, 4, 8};
  double best[4] = {1e9, 1e9, 1e9, 1e9};
  uint64_t reports = 0;
  for (int round = 0; round < kPacedRounds; ++round) {
    for (int i = 0; i < 4; ++i) {
      const double seconds = PacedAllDevicesSeconds(counts[i], reports);
      if (seconds < 0) {
        std::printf("--all with %u devices: the update failed\n", counts[i]);
        return 1;
      }
      best[i] = std::min(best[i], seconds);
    }
  }
  std::printf("\n--all at the wire's pace: one report per %lld us frame per device, a %u KiB "
              "image (%llu reports, %.2f s of frames), best of %d rounds:\n",
              static_cast<long long>(kFrame.count()), kPacedImageSize / 1024,
              static_cast<unsigned long long>(reports),
              static_cast<double>(reports) * static_cast<double>(kFrame.count()) / 1e6,
              kPacedRounds);
  // Against the frames too: a host whose threads wake late (a loaded
  // machine) misses frames, and a lone job can suffer more from that than
  // several that keep a core busy between them.
  const double frames = static_cast<double>(reports) * static_cast<double>(kFrame.count()) / 1e6;
  for (int i = 0; i < 4; ++i) {
    std::printf("  %u device(s)  %7.2f s  %5.3f x one device  %5.3f x the frames%s\n", counts[i],
                best[i], best[i] / best[0], best[i] / frames,
                counts[i] == 4 ? "  (target <= 1.15 x one device)" : "");
  }
  return PrintStationFigures();
}
