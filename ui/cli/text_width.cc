#include "ui/cli/text_width.h"

#include <cstdint>

namespace gps {
namespace {

// The East Asian wide and fullwidth ranges that these texts can hold.
bool IsWide(uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The character that starts at text[at], and how many bytes it takes. A
// byte that does not start a valid sequence counts as one narrow character.
uint32_t Decode(std::string_view text, std::size_t at, std::size_t& size) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[at + i]); };
  const uint8_t lead = byte(0);
  size = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3 : lead >> 3 == 0x1E ? 4 : 1;
  if (at + size > text.size()) size = 1;
  if (size == 1) return lead;
  uint32_t c = lead & (0x7F >> size);
  for (std::size_t i = 1; i < size; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      size = 1;
      return lead;
    }
    c = c << 6 | (byte(i) & 0x3F);
  }
  return c;
}

}  // namespace

std::size_t DisplayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t at = 0, size = 0; at < utf8.size(); at += size)
    width += IsWide(Decode(utf8, at, size)) ? 2 : 1;
  return width;
}

std::string FitWidth(std::string_view text, std::size_t width) {
  std::string out;
  std::size_t used = 0;
  for (std::size_t at = 0, size = 0; at < text.size(); at += size) {
    const std::size_t w = IsWide(Decode(text, at, size)) ? 2 : 1;
    if (used + w > width) break;
    out.append(text.substr(at, size));
    used += w;
  }
  return out.append(width - used, ' ');
}

}  // namespace gps
