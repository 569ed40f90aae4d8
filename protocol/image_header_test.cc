#include "protocol/image_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace gps {
namespace {

TEST(ImageHeader, PageOfA1000ByteImage) {
  const auto page = HeaderPage(1000);
  const std::vector<uint8_t> first32 = {
      0x5F, 0x49, 0x4D, 0x47, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x13,
      0x00, 0x00, 0xA0, 0x00, 0x40, 0x00, 0xA0, 0x00, 0x40, 0xE8, 0x03,
      0x00, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(page.begin(), page.begin() + 32), first32);
  EXPECT_EQ(std::vector<uint8_t>(page.begin() + 32, page.end()), std::vector<uint8_t>(224, 0));
}

}  // namespace
}  // namespace gps
