// UTF-8 <-> UTF-16 for the paths and texts that cross into Windows' W calls:
// the project keeps its texts in UTF-8, Windows takes them in UTF-16.
#pragma once

#include <string>

namespace gps {

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

}  // namespace gps
