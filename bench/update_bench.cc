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
//          device with the largest image
#include <benchmark/benchmark.h>
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
#include "sim/sim_device.h"
#include "protocol/command_block.h"
#include "protocol/flash_layout.h"
#include "protocol/update_job.h"

namespace {

using namespace gps;

constexpr uint32_t kImageSize = MAX_DATABASE_SIZE;
constexpr uint32_t kPages = kImageSize / PAGE_SIZE + 1;  // 65,377
constexpr uint64_t kDataReports = uint64_t{kPages} * 4;  // 261,508

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

// Runs gps-update-cli on the simulated device with the largest image and
// returns its peak resident memory in bytes, or -1. It must run before this
// process grows: a child's peak counts the memory of the parent it was
// forked from, until it executes the program.
long PeakMemoryOfCli() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("gps-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    std::ofstream out(dir / "code_data.bin", std::ios::binary);
    std::vector<char> block(65536);
    for (uint32_t at = 0; at < kImageSize; at += static_cast<uint32_t>(block.size())) {
      const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(block.size()), kImageSize - at);
      for (uint32_t i = 0; i < n; ++i) block[i] = static_cast<char>(ImageByte(at + i));
      out.write(block.data(), n);
    }
  }
  std::fflush(stdout);  // the child must not print what is still buffered
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    execl(GPS_CLI_PATH, GPS_CLI_PATH, "--simulate", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  fs::remove_all(dir);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss * 1024L;  // Linux reports kilobytes
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const long peak = PeakMemoryOfCli();
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
  if (peak < 0) {
    std::printf("Peak memory        gps-update-cli failed\n");
    return 1;
  }
  std::printf("Peak memory        %12.1f MiB for a %.1f MiB image: image + %.1f MiB "
              "(target <= image + 16 MiB)\n",
              peak / mib, kImageSize / mib, (peak - static_cast<double>(kImageSize)) / mib);
  return 0;
}
