// Puts values into a text's named places ("%name%"), so that a sentence keeps
// its words in the order its language wants. The values are taken as they
// are: a file name that happens to hold "%name%" stays as it is.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace gps {

inline std::string FillIn(
    std::string_view pattern,
    std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
  std::string out;
  std::size_t at = 0;
  while (at < pattern.size()) {
    bool replaced = false;
    for (const auto& [place, value] : values) {
      if (pattern.substr(at, place.size()) == place) {
        out += value;
        at += place.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += pattern[at++];
  }
  return out;
}

}  // namespace gps
