#include "protocol/command_block.h"

#include <algorithm>
#include <cstring>

#include "hid/hid_device.h"

namespace gps {
namespace {

uint8_t* PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  return p + 2;
}

uint8_t* PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  return p + 4;
}

}  // namespace

std::size_t PackCommand(uint16_t code, uint32_t arg1, uint32_t arg2,
                        uint32_t signature, uint32_t checksum, uint8_t* out) {
  uint8_t* p = PutLE16(out, code);
  p = PutLE32(p, arg1);
  p = PutLE32(p, arg2);
  p = PutLE32(p, signature);
  p = PutLE32(p, checksum);
  return static_cast<std::size_t>(p - out);
}

uint32_t CheckSum(const uint8_t* data, std::size_t length) {
  uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += data[i];
  return sum;
}

void FrameCommand(uint16_t code, uint32_t arg1, uint32_t arg2, uint8_t* report) {
  CommandBlock block{code, arg1, arg2, CMD_SIGNATURE, 0};
  uint8_t scratch[COMMAND_BLOCK_SIZE];
  std::size_t n = PackCommand(block.code, block.arg1, block.arg2,
                              block.signature, block.checksum, scratch);
  // The checksum covers everything before its own field.
  block.checksum = CheckSum(scratch, n - 4);
  n = PackCommand(block.code, block.arg1, block.arg2, block.signature,
                  block.checksum, scratch);
  n = std::min<std::size_t>(n, REPORT_SIZE - 1);
  std::memset(report, REPORT_FILL, REPORT_SIZE);
  report[0] = 0x00;
  std::memcpy(report + 1, scratch, n);
}

}  // namespace gps
