#include "hid/shown_text.h"

#include <cstdint>
#include <cstdio>

namespace gps {
namespace {

void AppendHex(std::string& out, const char* prefix, uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%0*X", prefix, digits, value);
  out += text;
}

// The length of the valid UTF-8 sequence at the start of `s` and its code
// point; 0 when it is not one (overlong forms and surrogates included).
std::size_t DecodeOne(std::string_view s, uint32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t lead = byte(0);
  std::size_t length = 0;
  uint32_t min = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, min = 0x80, codePoint = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min = 0x800, codePoint = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, codePoint = lead & 0x07u;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = codePoint << 6 | (byte(i) & 0x3Fu);
  }
  if (codePoint < min || codePoint > 0x10FFFF) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  return length;
}

// Characters that are harmless as bytes but change how a terminal or a
// text layout treats what follows.
bool Reorders(uint32_t c) {
  return (c >= 0x80 && c <= 0x9F) ||      // C1 controls (0x9B starts a sequence)
         (c >= 0x202A && c <= 0x202E) ||  // bidirectional embeddings, overrides
         (c >= 0x2066 && c <= 0x2069);    // bidirectional isolates
}

}  // namespace

std::string ShownText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  while (!raw.empty()) {
    uint32_t c = 0;
    const std::size_t length = DecodeOne(raw, c);
    if (length == 0) {
      AppendHex(out, "\\x", static_cast<uint8_t>(raw[0]), 2);
      raw.remove_prefix(1);
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      switch (c) {
        case 0x1B: out += "\\e"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: AppendHex(out, "\\x", c, 2);
      }
    } else if (Reorders(c)) {
      AppendHex(out, "\\u", c, 4);
    } else {
      out.append(raw.substr(0, length));
    }
    raw.remove_prefix(length);
  }
  return out;
}

}  // namespace gps
