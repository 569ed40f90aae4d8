// The little the command-line program needs to know about its terminal.
#pragma once

#include <cstdio>

namespace gps {

// Sets the console up for UTF-8 output where that is not the default.
void PrepareConsole();

bool IsTerminal(std::FILE* stream);

}  // namespace gps
