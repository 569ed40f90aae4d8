// A strict reader of one flat JSON object per line, for the tests of the
// record: it takes only what RFC 8259 allows (no control characters in a
// string, no stray bytes after the object, no invalid UTF-8) and hands back
// each member's value, a string decoded to UTF-8, anything else as written.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace gps::test {

class JsonObjectReader {
 public:
  static std::optional<std::map<std::string, std::string>> Parse(std::string_view text) {
    JsonObjectReader reader(text);
    std::map<std::string, std::string> members;
    if (!reader.Object(members)) return std::nullopt;
    reader.Space();
    if (reader.at_ != text.size()) return std::nullopt;
    return members;
  }

 private:
  explicit JsonObjectReader(std::string_view text) : text_(text) {}

  bool Object(std::map<std::string, std::string>& members) {
    Space();
    if (!Take('{')) return false;
    Space();
    if (Take('}')) return true;
    for (;;) {
      std::string key, value;
      Space();
      if (!String(key)) return false;
      Space();
      if (!Take(':')) return false;
      Space();
      if (Peek() == '"') {
        if (!String(value)) return false;
      } else if (!Scalar(value)) {
        return false;
      }
      if (!members.emplace(key, value).second) return false;  // a key twice
      Space();
      if (Take('}')) return true;
      if (!Take(',')) return false;
    }
  }

  bool Scalar(std::string& value) {
    for (std::string_view word : {"true", "false", "null"}) {
      if (text_.substr(at_, word.size()) == word) {
        at_ += word.size();
        value = word;
        return true;
      }
    }
    const std::size_t start = at_;
    if (Peek() == '-') ++at_;
    if (Peek() < '0' || Peek() > '9') return false;
    if (Peek() == '0') ++at_;
    else while (Peek() >= '0' && Peek() <= '9') ++at_;
    value = text_.substr(start, at_ - start);
    return true;
  }

  bool String(std::string& out) {
    if (!Take('"')) return false;
    for (;;) {
      if (at_ >= text_.size()) return false;
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        ++at_;
        if (!Escape(out)) return false;
        continue;
      }
      const std::size_t length = Utf8Length(c);
      if (length == 0 || at_ + length > text_.size()) return false;
      uint32_t code = length == 1 ? c : c & (0x7F >> length);
      for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text_[at_ + i]);
        if ((next & 0xC0) != 0x80) return false;
        code = code << 6 | (next & 0x3F);
      }
      if ((length == 2 && code < 0x80) || (length == 3 && code < 0x800) ||
          (length == 4 && code < 0x10000) || (code >= 0xD800 && code <= 0xDFFF) ||
          code > 0x10FFFF) {
        return false;
      }
      out.append(text_.substr(at_, length));
      at_ += length;
    }
  }

  bool Escape(std::string& out) {
    const char c = Peek();
    ++at_;
    switch (c) {
      case '"': out += '"'; return true;
      case '\\': out += '\\'; return true;
      case '/': out += '/'; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': break;
      default: return false;
    }
    uint32_t code = 0;
    if (!Hex4(code)) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      uint32_t low = 0;
      if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    AppendUtf8(code, out);
    return true;
  }

  bool Hex4(uint32_t& code) {
    for (int i = 0; i < 4; ++i) {
      const char c = Peek();
      ++at_;
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  static std::size_t Utf8Length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
  }

  static void AppendUtf8(uint32_t code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++at_;
    return true;
  }
  void Space() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') ++at_;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace gps::test
