// The little the command-line program needs to know about its terminal.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "hid/stop_event.h"

namespace gps {

// Makes the process safe to start from any folder: on Windows, DLLs are
// then looked for in the system folder only. Call it first thing in main.
void PrepareProcess();

// Sets the console up for UTF-8 output where that is not the default.
void PrepareConsole();

bool IsTerminal(std::FILE* stream);

// From now on the first interrupt (Ctrl+C; SIGTERM too where there are
// signals) sets the returned event instead of ending the program, so that a
// wait for the device ends at once and an update stops at its next transfer
// with the device closed. A second interrupt ends the program as usual.
// Call it first thing in main, before any other thread exists.
StopEvent& StopOnInterrupt();

// The program's arguments after its name, in UTF-8. Windows hands main its
// arguments in the system's code page, which loses a file name in any other
// script; there they are taken from the UTF-16 command line instead.
std::vector<std::string> Arguments(int argc, char** argv);

#ifdef _WIN32
// The arguments after the program's name in a UTF-16 command line, in UTF-8.
std::vector<std::string> ArgumentsOfCommandLine(const wchar_t* commandLine);
#endif

}  // namespace gps
