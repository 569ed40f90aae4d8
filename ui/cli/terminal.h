// The little the command-line program needs to know about its terminal.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/stop_event.h"

namespace gps {

// Makes std::cout and std::cerr show the program's UTF-8 texts right on a
// terminal where bytes would not be (a Windows console, whatever its code
// page). Output to a file or a pipe stays UTF-8 as it is written.
void PrepareConsole();

// True when the stream goes to a terminal (on Windows, a console; not a file,
// a pipe or the NUL device).
bool IsTerminal(std::FILE* stream);

// The width of the terminal behind `stream`, in columns, as it is now (the
// user may resize the window at any time); 0 when it does not say.
int TerminalColumns(std::FILE* stream);
// Its height in lines, the same way.
int TerminalRows(std::FILE* stream);

// True when the terminal cannot move its cursor (TERM=dumb, as in an
// editor's shell buffer): progress then goes as lines, as into a log.
bool TerminalIsDumb();

// Turns the program's UTF-8 text into what a terminal shows right.
using TextConverter = std::function<std::string(std::string_view)>;

// From UTF-8 to `codeset` (an iconv name: "BIG5"); a character the set lacks
// becomes '?'. Null when the set is unknown.
TextConverter ConverterTo(const std::string& codeset);

// For text bound for the terminal behind `stream`: where it is a terminal
// whose locale's character set is not UTF-8 (a Big5 terminal of
// Traditional Chinese), the conversion to that set; null otherwise, and for
// files and pipes, which get UTF-8 as documented. When the set cannot be
// converted to, `note` is set to a line that says why the texts may look
// wrong, to be shown once.
TextConverter TerminalConverter(std::FILE* stream, std::string& note);

// From now on the first `caught` interrupts (Ctrl+C; SIGTERM too where
// there are signals) each set the returned event instead of ending the
// program, so that a wait for the device ends at once and an update stops at
// its next transfer with the device closed (a station takes two: the first
// lets its jobs finish, the second stops them). The next interrupt ends the
// program as usual. Call it first thing in main, before any other thread
// exists; `caught` of the first call holds.
StopEvent& StopOnInterrupt(unsigned caught = 1);

// True once the first interrupt has arrived. The event itself tells no more
// after the stopped transfer has taken it back.
bool InterruptRequested();
// How many interrupts have arrived.
unsigned Interrupts();

// The program's arguments after its name, in UTF-8. Windows hands main its
// arguments in the system's code page, which loses a file name in any other
// script; there they are taken from the UTF-16 command line instead.
std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace gps
