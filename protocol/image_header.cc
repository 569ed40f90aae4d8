#include "protocol/image_header.h"

#include "protocol/little_endian.h"

namespace gps {

std::array<uint8_t, PAGE_SIZE> HeaderPage(uint32_t imageLength) {
  ImageHeader header;
  header.imageLength = imageLength;
  const uint32_t words[8] = {header.magic,           header.headerSize,
                             header.word2,           header.imageStart,
                             header.imageStartAgain, header.imageLength,
                             header.word6,           header.word7};
  std::array<uint8_t, PAGE_SIZE> page{};
  uint8_t* at = page.data();
  for (uint32_t word : words) at = PutLe32(at, word);
  return page;
}

}  // namespace gps
