// The command block: the 18-byte instruction record the device understands,
// and the 65-byte output report that carries it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gps {

constexpr uint16_t CMD_WRITE_PAGES = 0x0EC3;
constexpr uint16_t CMD_ERASE_SECTORS = 0x0E71;
constexpr uint16_t CMD_RESTART = 0x0EA5;
constexpr uint32_t CMD_SIGNATURE = 0x43444948;  // "HIDC" on the wire
constexpr uint32_t RESTART_ARG1 = 0x12345678;
constexpr uint32_t RESTART_ARG2 = 0xABCDEF01;

constexpr std::size_t COMMAND_BLOCK_SIZE = 18;
constexpr uint8_t REPORT_FILL = 0xCC;

struct CommandBlock {
  uint16_t code = 0;
  uint32_t arg1 = 0;
  uint32_t arg2 = 0;
  uint32_t signature = CMD_SIGNATURE;
  uint32_t checksum = 0;
};

// Serialises the fields little-endian and packed into `out` (at least 18
// bytes) and returns the number of bytes written, 18. The checksum is stored
// as given: it is neither computed nor checked here.
std::size_t PackCommand(uint16_t code, uint32_t arg1, uint32_t arg2,
                        uint32_t signature, uint32_t checksum, uint8_t* out);

// Sum of `length` bytes taken as 0..255, wrapping in 32 bits.
uint32_t CheckSum(const uint8_t* data, std::size_t length);

// Builds the block for `code`, checksums its first 14 serialised bytes and
// frames it into a whole output report: byte 0 is the report identifier 0,
// bytes 1..18 the block, the rest REPORT_FILL. `report` holds 65 bytes.
void FrameCommand(uint16_t code, uint32_t arg1, uint32_t arg2, uint8_t* report);

}  // namespace gps
