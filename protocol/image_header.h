// The 32-byte header written at the start of the header page: eight
// little-endian words that tell the device's firmware where the image is.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/flash_layout.h"

namespace gps {

struct ImageHeader {
  static constexpr uint32_t kMagic = 0x474D495F;  // "_IMG"
  uint32_t magic = kMagic;
  uint32_t headerSize = 0x20;
  uint32_t word2 = 0x00130000;
  uint32_t imageStart = 0x40000000 + DATABASE_ADDRESS;
  uint32_t imageStartAgain = 0x40000000 + DATABASE_ADDRESS;
  uint32_t imageLength = 0;  // the file's length, not what the page write sends
  uint32_t word6 = 0x00100001;
  uint32_t word7 = 0;
};

// The whole header page: the header's words, then zeros.
std::array<uint8_t, PAGE_SIZE> HeaderPage(uint32_t imageLength);

}  // namespace gps
