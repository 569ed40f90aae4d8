#include <unistd.h>

#include "ui/cli/terminal.h"

namespace gps {

void PrepareConsole() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

}  // namespace gps
