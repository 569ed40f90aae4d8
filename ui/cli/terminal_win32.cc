#include <io.h>
#include <windows.h>
// windows.h must come first.
#include <shellapi.h>

#include <atomic>

#include "hid/backend_win32.h"
#include "hid/system_library_win32.h"
#include "ui/cli/terminal.h"

namespace gps {
namespace {

StopEvent* g_interrupt = nullptr;
std::atomic<int> g_interrupts{0};

// The system calls this on a thread of its own; setting the event (a Win32
// event object) is safe there. FALSE hands the event on to the default
// handler, which ends the process.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupts.fetch_add(1) > 0) return FALSE;
  g_interrupt->Set();
  return TRUE;
}

}  // namespace

void PrepareProcess() { RestrictDllSearchToSystem(); }

// The texts are UTF-8; the console shows them right only in code page 65001.
// The bars are drawn with the terminal's escape sequences (back to the line's
// start, up a line, erase), which the console follows only when asked to.
void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
  for (DWORD id : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE console = GetStdHandle(id);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode))
      SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

StopEvent& StopOnInterrupt() {
  // Never destroyed: the handler may run while the process exits.
  static StopEvent* const event = [] {
    g_interrupt = new StopEvent;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    return g_interrupt;
  }();
  return *event;
}

std::vector<std::string> ArgumentsOfCommandLine(const wchar_t* commandLine) {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(commandLine, &count);
  if (!words) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8FromWide(words[i]));
  LocalFree(words);
  return arguments;
}

std::vector<std::string> Arguments(int, char**) {
  return ArgumentsOfCommandLine(GetCommandLineW());
}

}  // namespace gps
