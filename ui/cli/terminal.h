// The little the command-line program needs to know about its terminal.
#pragma once

#include <cstdio>

#include "hid/stop_event.h"

namespace gps {

// Sets the console up for UTF-8 output where that is not the default.
void PrepareConsole();

bool IsTerminal(std::FILE* stream);

// From now on the first interrupt (Ctrl+C; SIGTERM too where there are
// signals) sets the returned event instead of ending the program, so that a
// wait for the device ends at once and an update stops at its next transfer
// with the device closed. A second interrupt ends the program as usual.
// Call it first thing in main, before any other thread exists.
StopEvent& StopOnInterrupt();

}  // namespace gps
