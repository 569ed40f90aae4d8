// Columns that UTF-8 text takes on a terminal: the device's texts are
// Traditional Chinese, whose characters take two columns each, so padding by
// bytes or by characters would not line a table up.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gps {

std::size_t DisplayWidth(std::string_view utf8);

// `text` cut to at most `width` columns (at a character's boundary), then
// padded with spaces to exactly `width`.
std::string FitWidth(std::string_view text, std::size_t width);

}  // namespace gps
