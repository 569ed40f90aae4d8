#include "protocol/command_block.h"

#include <algorithm>
#include <cstring>

#include "hid/hid_device.h"
#include "protocol/little_endian.h"

namespace gps {

std::size_t PackCommand(uint16_t code, uint32_t arg1, uint32_t arg2,
                        uint32_t signature, uint32_t checksum, uint8_t* out) {
  uint8_t* p = PutLe16(out, code);
  p = PutLe32(p, arg1);
  p = PutLe32(p, arg2);
  p = PutLe32(p, signature);
  p = PutLe32(p, checksum);
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
