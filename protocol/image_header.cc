#include "protocol/image_header.h"

namespace gps {

std::array<uint8_t, PAGE_SIZE> HeaderPage(uint32_t imageLength) {
  ImageHeader header;
  header.imageLength = imageLength;
  const uint32_t words[8] = {header.magic,           header.headerSize,
                             header.word2,           header.imageStart,
                             header.imageStartAgain, header.imageLength,
                             header.word6,           header.word7};
  std::array<uint8_t, PAGE_SIZE> page{};
  for (int w = 0; w < 8; ++w) {
    for (int b = 0; b < 4; ++b)
      page[static_cast<std::size_t>(w * 4 + b)] = static_cast<uint8_t>(words[w] >> (8 * b));
  }
  return page;
}

}  // namespace gps
