#include "protocol/command_block.h"

#include <gtest/gtest.h>

#include <vector>

#include "hid/hid_device.h"

namespace gps {
namespace {

std::vector<uint8_t> Framed(uint16_t code, uint32_t arg1, uint32_t arg2) {
  std::vector<uint8_t> report(REPORT_SIZE);
  FrameCommand(code, arg1, arg2, report.data());
  return report;
}

struct Vector {
  const char* name;
  uint16_t code;
  uint32_t arg1, arg2;
  std::vector<uint8_t> block;
};

TEST(CommandBlock, FramesTheKnownBlocksByteForByte) {
  const Vector vectors[] = {
      {"restart", CMD_RESTART, RESTART_ARG1, RESTART_ARG2,
       {0xa5, 0x0e, 0x78, 0x56, 0x34, 0x12, 0x01, 0xef, 0xcd, 0xab, 0x48, 0x49, 0x44,
        0x43, 0x47, 0x05, 0x00, 0x00}},
      {"erase sector 8", CMD_ERASE_SECTORS, 8, 1,
       {0x71, 0x0e, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x48, 0x49, 0x44,
        0x43, 0xa0, 0x01, 0x00, 0x00}},
      {"write page 128", CMD_WRITE_PAGES, 128, 1,
       {0xc3, 0x0e, 0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x48, 0x49, 0x44,
        0x43, 0x6a, 0x02, 0x00, 0x00}},
      {"erase 3 from sector 10", CMD_ERASE_SECTORS, 10, 3,
       {0x71, 0x0E, 0x0A, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x48, 0x49, 0x44,
        0x43, 0xA4, 0x01, 0x00, 0x00}},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.name);
    const std::vector<uint8_t> report = Framed(v.code, v.arg1, v.arg2);
    EXPECT_EQ(report[0], 0x00);
    EXPECT_EQ(std::vector<uint8_t>(report.begin() + 1, report.begin() + 19), v.block);
    for (std::size_t i = 19; i < REPORT_SIZE; ++i) EXPECT_EQ(report[i], REPORT_FILL) << i;
  }
}

TEST(CommandBlock, ChecksumIsThePlainSumOfTheFirstFourteenBytes) {
  uint8_t block[COMMAND_BLOCK_SIZE];
  ASSERT_EQ(PackCommand(CMD_RESTART, RESTART_ARG1, RESTART_ARG2, CMD_SIGNATURE, 0, block),
            COMMAND_BLOCK_SIZE);
  EXPECT_EQ(CheckSum(block, 14), 1351u);  // no truncation to a byte, no inversion
  EXPECT_EQ(CheckSum(block, 0), 0u);
  const uint8_t high[] = {0xFF, 0xFF, 0xFF};
  EXPECT_EQ(CheckSum(high, 3), 765u);
}

TEST(CommandBlock, PackStoresTheChecksumItIsGiven) {
  uint8_t a[COMMAND_BLOCK_SIZE];
  uint8_t b[COMMAND_BLOCK_SIZE];
  PackCommand(CMD_ERASE_SECTORS, 8, 1, CMD_SIGNATURE, 0xDEADBEEF, a);
  PackCommand(CMD_ERASE_SECTORS, 8, 1, CMD_SIGNATURE, 0, b);
  EXPECT_EQ(std::vector<uint8_t>(a, a + 14), std::vector<uint8_t>(b, b + 14));
  EXPECT_EQ(std::vector<uint8_t>(a + 14, a + 18),
            (std::vector<uint8_t>{0xEF, 0xBE, 0xAD, 0xDE}));
}

}  // namespace
}  // namespace gps
