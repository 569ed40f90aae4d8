#include <iconv.h>
#include <langinfo.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <string>
#include <atomic>
#include <cstdlib>
#include <string_view>
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

int TerminalRows(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

bool TerminalIsDumb() {
  const char* term = std::getenv("TERM");
  return term && std::string_view(term) == "dumb";
}

TextConverter ConverterTo(const std::string& codeset) {
  const std::string target = codeset + "//TRANSLIT";
  iconv_t probe = iconv_open(target.c_str(), "UTF-8");
  if (probe == reinterpret_cast<iconv_t>(-1)) return nullptr;
  iconv_close(probe);
  return [target](std::string_view text) {
    // ASCII (the trace, most paths) is the same in every set this meets.
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; }))
      return std::string(text);
    iconv_t cd = iconv_open(target.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    std::string in(text);
    char* from = in.data();
    std::size_t fromLeft = in.size();
    char buffer[1024];
    while (fromLeft > 0) {
      char* to = buffer;
      std::size_t toLeft = sizeof buffer;
      const std::size_t done = iconv(cd, &from, &fromLeft, &to, &toLeft);
      out.append(buffer, sizeof buffer - toLeft);
      if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
        // Not convertible, even by transliteration: a '?' for its byte.
        out += '?';
        ++from;
        --fromLeft;
      }
    }
    iconv_close(cd);
    return out;
  };
}

TextConverter TerminalConverter(std::FILE* stream, std::string& note) {
  if (!IsTerminal(stream)) return nullptr;
  std::setlocale(LC_CTYPE, "");
  const std::string codeset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
  if (codeset == "UTF-8" || codeset == "ANSI_X3.4-1968") return nullptr;  // UTF-8, or no locale
  TextConverter convert = ConverterTo(codeset);
  if (!convert) {
    note = "gps-update-cli: the terminal's character set (" + codeset +
           ") cannot be converted to; the texts are written in UTF-8 and may look wrong";
  }
  return convert;
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
