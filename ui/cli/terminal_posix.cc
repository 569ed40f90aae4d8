#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "ui/cli/terminal.h"

namespace gps {

void PrepareConsole() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

namespace {
std::atomic<unsigned> g_interrupts{0};
}  // namespace

bool InterruptRequested() { return g_interrupts.load() > 0; }
unsigned Interrupts() { return g_interrupts.load(); }

// A signal handler may not touch the event's mutex, so the signals are
// blocked in every thread and one thread of its own takes them with sigwait.
StopEvent& StopOnInterrupt(unsigned caught) {
  // Never destroyed: the signal thread may use it while the process exits.
  static StopEvent* const event = [caught] {
    auto* stop = new StopEvent;
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([stop, signals, caught] {
      int sig = 0;
      for (;;) {
        sigwait(&signals, &sig);
        if (g_interrupts.load() >= caught) break;
        g_interrupts.fetch_add(1);
        stop->Set();
      }
      // The one after them gets the default action: the program ends.
      ::signal(sig, SIG_DFL);
      pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
      raise(sig);
    }).detach();
    return stop;
  }();
  return *event;
}

// The arguments come as the user's locale spells them: UTF-8 on the systems
// this runs on.
std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

}  // namespace gps
