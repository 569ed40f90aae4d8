#include "sim/sim_flash.h"

#include <gtest/gtest.h>

#include <vector>

namespace gps {
namespace {

// Both ways of keeping the flash must tell the same story.
TEST(SimFlash, DigestsAgreeWithTheBytes) {
  SimFlash bytes(SimFlash::Storage::Bytes);
  SimFlash digests(SimFlash::Storage::Digests);
  std::vector<uint8_t> page(256);
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 3 + 1);

  for (SimFlash* flash : {&bytes, &digests}) {
    flash->EraseSector(10);
    for (uint32_t i = 0; i < 4; ++i)  // page 160, the first of sector 10
      EXPECT_EQ(flash->Program(0xA000 + i * 64, page.data() + i * 64), 0u);
    // Page 176 lies in sector 11, never erased: every byte that sets a bit
    // is a defect.
    EXPECT_EQ(flash->Program(0xB000, page.data()), 64u);
  }
  EXPECT_EQ(bytes.PageDigest(160), SimFlash::PageDigestOf(page.data()));
  EXPECT_EQ(digests.PageDigest(160), SimFlash::PageDigestOf(page.data()));
  EXPECT_EQ(digests.PageDigest(161), bytes.PageDigest(161));  // erased
  EXPECT_EQ(digests.PageDigest(176), bytes.PageDigest(176));  // still unerased zeros
  EXPECT_TRUE(digests.Read(0xA000, 4).empty());
}

TEST(SimFlash, ProgrammingTwiceOnlyClearsBits) {
  SimFlash flash(SimFlash::Storage::Bytes);
  flash.EraseSector(0);
  std::vector<uint8_t> a(64, 0xF0), b(64, 0x3C);
  EXPECT_EQ(flash.Program(0, a.data()), 0u);
  EXPECT_EQ(flash.Program(0, b.data()), 64u);  // 0x0C was already cleared
  EXPECT_EQ(flash.Read(0, 1)[0], 0x30);
}

// A driver that writes the flash out skips the sectors nothing touched.
TEST(SimFlash, ShowsTheBytesOfTouchedSectorsOnly) {
  SimFlash bytes(SimFlash::Storage::Bytes);
  SimFlash digests(SimFlash::Storage::Digests);
  for (SimFlash* flash : {&bytes, &digests}) flash->EraseSector(10);
  EXPECT_EQ(bytes.SectorBytes(9), nullptr);
  ASSERT_NE(bytes.SectorBytes(10), nullptr);
  EXPECT_EQ(bytes.SectorBytes(10)[SIM_SECTOR_SIZE - 1], 0xFF);
  EXPECT_EQ(bytes.SectorBytes(SIM_FLASH_SIZE / SIM_SECTOR_SIZE), nullptr);
  EXPECT_EQ(digests.SectorBytes(10), nullptr);
}

}  // namespace
}  // namespace gps
