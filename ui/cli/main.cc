// gps-update-cli: the update for terminals and scripts. The program itself
// is RunCli; this is the process around it.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/cli/cli_options.h"
#include "ui/cli/cli_program.h"
#include "ui/cli/output_queue.h"
#include "ui/cli/terminal.h"
#include "ui/common/instance_guard.h"
#include "ui/common/process_setup.h"

int main(int argc, char** argv) {
  gps::PrepareProcess();  // before anything is opened
  const gps::CliOptions options = gps::ParseCliOptions(gps::Arguments(argc, argv));
  // A station's first Ctrl+C lets its jobs finish, the second stops them.
  gps::StopEvent& interrupt = gps::StopOnInterrupt(options.station ? 2 : 1);
  gps::PrepareConsole();

  // An update writes nothing itself: its output goes through a queue whose
  // own thread waits on the reader (output_queue.h). What only prints
  // (--help, --list) writes directly, so that a failed write is its result.
  const bool updates = options.error.empty() && !options.help && !options.version && !options.list;
  std::optional<gps::OutputQueue> queue;
  std::ostream* out = &std::cout;
  std::ostream* err = &std::cerr;
  std::ostream* trace = nullptr;
  if (updates) {
    // A terminal whose locale is not UTF-8 (Big5) gets the texts in its own
    // character set; files and pipes get UTF-8.
    std::string outNote, errNote;
    const gps::TextConverter toOut = gps::TerminalConverter(stdout, outNote);
    const gps::TextConverter toErr = gps::TerminalConverter(stderr, errNote);
    queue.emplace();
    out = &queue->Stream(std::cout, gps::OutputQueue::Kind::Text, toOut);
    err = &queue->Stream(std::cerr, gps::OutputQueue::Kind::Text, toErr);
    trace = &queue->Stream(std::cerr, gps::OutputQueue::Kind::Trace, toErr);
    if (const std::string& note = errNote.empty() ? outNote : errNote; !note.empty())
      *err << note << '\n' << std::flush;
  }

  std::unique_ptr<gps::InstanceGuard> guard;  // held until the process ends
  gps::CliContext context(*out, *err);
  context.trace = trace;
  context.drawBar = gps::IsTerminal(stderr) && !gps::TerminalIsDumb();
  context.columns = [] { return gps::TerminalColumns(stderr); };
  context.rows = [] { return gps::TerminalRows(stderr); };
  context.interrupt = &interrupt;
  context.interrupted = [] { return gps::InterruptRequested(); };
  context.interrupts = [] { return gps::Interrupts(); };
  context.keepAwake = [] { return gps::SleepInhibitor::Acquire(gps::kKeepAwakeReason); };
  context.claimInstance = [&guard]() -> const gps::InstanceGuard& {
    guard = gps::InstanceGuard::Acquire();
    return *guard;
  };
  const int status = gps::RunCli(options, context);
  // The device is done with; what is left of the output is written as a
  // plain program would write it, for as long as the reader takes (a second
  // Ctrl+C ends the wait with the program).
  if (queue) queue->Drain(std::chrono::hours(24 * 365));
  std::cout.flush();
  std::cerr.flush();
  // Not a return: a thread may still wait on a system service that never
  // answered (the sleep inhibitor's bus), and the library that owns it
  // would wait for it on the way out.
  std::_Exit(status);
}
