// gps-update-cli: the update for terminals and scripts. The program itself
// is RunCli; this is the process around it.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ui/cli/cli_options.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/terminal.h"
#include "ui/common/instance_guard.h"
#include "ui/common/process_setup.h"

int main(int argc, char** argv) {
  gps::PrepareProcess();  // before anything is opened
  const gps::CliOptions options = gps::ParseCliOptions(gps::Arguments(argc, argv));
  // A station's first Ctrl+C lets its jobs finish, the second stops them.
  gps::StopEvent& interrupt = gps::StopOnInterrupt(options.station ? 2 : 1);
  gps::PrepareConsole();

  std::unique_ptr<gps::InstanceGuard> guard;  // held until the process ends
  gps::CliContext context(std::cout, std::cerr);
  context.drawBar = gps::IsTerminal(stderr);
  context.columns = [] { return gps::TerminalColumns(stderr); };
  context.interrupt = &interrupt;
  context.interrupted = [] { return gps::InterruptRequested(); };
  context.interrupts = [] { return gps::Interrupts(); };
  context.keepAwake = [] { return gps::SleepInhibitor::Acquire(gps::kKeepAwakeReason); };
  context.claimInstance = [&guard]() -> const gps::InstanceGuard& {
    guard = gps::InstanceGuard::Acquire();
    return *guard;
  };
  return gps::RunCli(options, context);
}
