// What the command-line program's Windows terminal code adds to terminal.h,
// for its tests.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gps {

// The arguments after the program's name in a UTF-16 command line, in UTF-8.
std::vector<std::string> ArgumentsOfCommandLine(const wchar_t* commandLine);

// The length of the longest start of `text` that ends on a whole UTF-8
// character: a console write converts only that much, and keeps the rest
// for when the character's last bytes come.
size_t CompleteUtf8Length(std::string_view text);

}  // namespace gps
