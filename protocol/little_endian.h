// The byte order of everything on the wire and in the image header: little
// endian, whatever the host's. (The simulated device decodes with reads of
// its own, so that a mistake here cannot hide itself.)
#pragma once

#include <cstdint>

namespace gps {

// Store `v` at `p` and return the byte after it.
inline uint8_t* PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  return p + 2;
}

inline uint8_t* PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  return p + 4;
}

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace gps
