// gps-update-cli: the update for terminals and scripts.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "hid/sim_device.h"
#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "ui/cli/cli_options.h"
#include "ui/cli/terminal.h"
#include "ui/cli/terminal_reporter.h"
#include "ui/common/instance_guard.h"

namespace {

// A device that takes its time over the erase, so that the demo shows the
// erase progress as a real device would.
gps::SimConfig DemoDeviceConfig() {
  gps::SimConfig config;
  config.progress = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  config.progressGap = std::chrono::milliseconds(100);
  config.recordReports = false;
  config.flashStorage = gps::SimFlash::Storage::Digests;  // the host's memory is what counts here
  return config;
}

void DescribeSimulatedDevice(const gps::SimDevice& device, std::ostream& err) {
  err << "[simulated device] " << device.OutputReportCount() << " output reports taken, "
      << device.Restarts() << " restart(s), " << device.WriteDefects()
      << " byte(s) written over unerased flash, " << device.RejectedCommands()
      << " command(s) rejected\n";
}

}  // namespace

int main(int argc, char** argv) {
  gps::PrepareConsole();
  const gps::CliOptions options =
      gps::ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!options.error.empty()) {
    std::cerr << "gps-update-cli: " << options.error << "\n"
              << "Try 'gps-update-cli --help' for more information.\n";
    return gps::kExitUsage;
  }
  if (options.help) {
    std::cout << gps::HelpText();
    return gps::kExitSuccess;
  }
  if (options.version) {
    std::cout << gps::VersionText();
    return gps::kExitSuccess;
  }

  // Held until the process ends.
  const auto guard = gps::InstanceGuard::Acquire();
  if (guard->state() == gps::InstanceGuard::State::AlreadyRunning) {
    std::cerr << gps::text::kSoftwareInUse << '\n';
    return gps::kExitAlreadyRunning;
  }

  gps::TerminalReporter reporter(std::cout, std::cerr, gps::IsTerminal(stderr));
  gps::LinkSettings link;
  std::unique_ptr<gps::SimDevice> device;
  std::unique_ptr<gps::SimBus> bus;
  if (options.simulate) {
    device = std::make_unique<gps::SimDevice>(DemoDeviceConfig());
    bus = std::make_unique<gps::SimBus>(*device);
    link.backend = bus.get();
  }
  gps::UpdateJob job(reporter, link);
  const gps::UpdateOutcome outcome = job.LoadAndUpdate(options.file);
  if (device) DescribeSimulatedDevice(*device, std::cerr);
  return gps::ExitStatusFor(outcome);
}
