// UTF-8 <-> UTF-16 for the paths and texts that cross into Windows' W calls:
// the project keeps its texts in UTF-8, Windows takes them in UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace gps {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(const std::wstring& text);

}  // namespace gps
