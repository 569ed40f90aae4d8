#include <io.h>
#include <windows.h>
// windows.h must come first.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <streambuf>

#include "hid/win32/wide_text.h"
#include "ui/cli/terminal.h"
#include "ui/cli/terminal_win32.h"

namespace gps {
namespace {

StopEvent* g_interrupt = nullptr;
std::atomic<int> g_interrupts{0};
int g_caught = 1;  // interrupts that set the event; the next one ends the program

// The system calls this on a thread of its own; setting the event (a Win32
// event object) is safe there. FALSE hands the event on to the default
// handler, which ends the process.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupts.fetch_add(1) >= g_caught) return FALSE;
  g_interrupt->Set();
  return TRUE;
}

// The console handle behind a C stream, or null when the stream goes to a
// file, a pipe or the NUL device (which _isatty would call a terminal).
HANDLE ConsoleOf(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// Writes the program's UTF-8 text to a console with WriteConsoleW, which
// shows every character whatever the console's code page. Bytes written to
// a console are read in its code page instead, and come out garbled where
// that is not UTF-8 (and on some consoles even where it is).
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) Append(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    for (std::streamsize i = 0; i < count; ++i) Append(text[i]);
    return count;
  }
  int sync() override {
    Write();
    return 0;
  }

 private:
  void Append(char c) {
    pending_ += c;
    if (c == '\n') Write();
  }
  void Write() {
    const size_t whole = CompleteUtf8Length(pending_);
    const std::wstring text = WideFromUtf8(pending_.substr(0, whole));
    pending_.erase(0, whole);
    DWORD written = 0;
    for (size_t at = 0; at < text.size(); at += written) {
      if (!WriteConsoleW(console_, text.data() + at, static_cast<DWORD>(text.size() - at),
                         &written, nullptr) ||
          written == 0) {
        return;
      }
    }
  }

  HANDLE console_;
  std::string pending_;  // bytes not written yet, at most a line
};

// The stream writes to the console from now on; the buffer stays for the
// rest of the process, as the stream is flushed once more when it exits.
void WriteToConsole(std::ostream& stream, HANDLE console) {
  if (console) stream.rdbuf(new ConsoleBuffer(console));
}

}  // namespace

size_t CompleteUtf8Length(std::string_view text) {
  // Looks back over at most three continuation bytes for the lead byte of
  // the last character, and leaves that character out if it is cut short.
  const size_t size = text.size();
  for (size_t back = 1; back <= 4 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
    const size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    return length > back ? size - back : size;
  }
  return size;
}

// Text that goes to a file or a pipe stays UTF-8 bytes, for the program that
// reads it; only a console gets UTF-16 through WriteConsoleW. The bars of
// several devices at once (--all) move the cursor with the terminal's escape
// sequences, which a console follows only when asked to (Windows 10 and
// later); the single bar needs none.
void PrepareConsole() {
  for (std::FILE* stream : {stdout, stderr}) {
    DWORD mode = 0;
    if (HANDLE console = ConsoleOf(stream); console && GetConsoleMode(console, &mode))
      SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  WriteToConsole(std::cout, ConsoleOf(stdout));
  WriteToConsole(std::cerr, ConsoleOf(stderr));
}

bool IsTerminal(std::FILE* stream) { return ConsoleOf(stream) != nullptr; }

int TerminalColumns(std::FILE* stream) {
  const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

int TerminalRows(std::FILE* stream) {
  const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return 0;
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

// PrepareConsole makes the console show UTF-8 itself.
TextConverter ConverterTo(const std::string&) { return nullptr; }
TextConverter TerminalConverter(std::FILE*, std::string&) { return nullptr; }

// A Windows console moves its cursor whatever TERM says.
bool TerminalIsDumb() { return false; }

bool InterruptRequested() { return g_interrupts.load() > 0; }
unsigned Interrupts() {
  return static_cast<unsigned>(std::min(g_interrupts.load(), g_caught));
}

StopEvent& StopOnInterrupt(unsigned caught) {
  // Never destroyed: the handler may run while the process exits.
  static StopEvent* const event = [caught] {
    g_caught = static_cast<int>(caught);
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
