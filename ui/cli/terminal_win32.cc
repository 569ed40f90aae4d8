#include <io.h>
#include <windows.h>

#include "ui/cli/terminal.h"

namespace gps {

// The texts are UTF-8; the console shows them right only in code page 65001.
void PrepareConsole() { SetConsoleOutputCP(CP_UTF8); }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace gps
