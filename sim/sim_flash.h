// The simulated device's NOR flash: 16 MiB that start unerased, where an
// erase sets a 4096-byte sector to 0xFF and programming can only clear bits.
//
// It keeps either the bytes themselves (tests look at them) or only a digest
// of every 64-byte piece (2.3 MiB instead of 16), for demos and measurements
// of the host that should not count a second copy of the image.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace gps {

constexpr uint32_t SIM_FLASH_SIZE = 16u * 1024 * 1024;
constexpr uint32_t SIM_SECTOR_SIZE = 4096;
constexpr uint32_t SIM_CHUNK_SIZE = 64;  // what one data report programs
constexpr uint8_t SIM_UNERASED = 0x00;   // what the flash holds before any erase

class SimFlash {
 public:
  enum class Storage { Bytes, Digests };

  explicit SimFlash(Storage storage);
  ~SimFlash();

  void EraseSector(uint32_t sector);

  // Programs one 64-byte piece at a 64-byte boundary. Returns the number of
  // bytes that needed a bit set that was not erased (0 on erased flash).
  // With digests only, a piece programmed twice counts every byte that sets
  // a bit, since its earlier content is not known.
  uint32_t Program(uint32_t address, const uint8_t* data);

  // The bytes at `address`; with digests only, nothing.
  std::vector<uint8_t> Read(uint32_t address, uint32_t length) const;

  // Bytes: the SIM_SECTOR_SIZE bytes of `sector`, or null while nothing has
  // erased or programmed it (it holds SIM_UNERASED throughout). Digests:
  // always null.
  const uint8_t* SectorBytes(uint32_t sector) const;

  // A digest of the 256-byte page `page`, equal to PageDigestOf() of the
  // bytes it holds.
  uint64_t PageDigest(uint32_t page) const;
  static uint64_t PageDigestOf(const uint8_t* page);

 private:
  uint8_t* Sector(uint32_t index);  // allocated on first use, unerased

  Storage storage_;
  // Bytes: one buffer per sector, null while the sector is untouched.
  std::vector<std::unique_ptr<uint8_t[]>> sectors_;
  // Digests: per 64-byte piece, its state and the digest of its content.
  std::vector<uint8_t> state_;
  std::vector<uint64_t> digests_;
};

}  // namespace gps
