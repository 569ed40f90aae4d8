#include "sim/sim_flash.h"

#include <bit>
#include <cstring>

namespace gps {
namespace {

constexpr uint32_t kSectors = SIM_FLASH_SIZE / SIM_SECTOR_SIZE;
constexpr uint32_t kChunks = SIM_FLASH_SIZE / SIM_CHUNK_SIZE;
constexpr uint32_t kPageSize = 256;

enum ChunkState : uint8_t { kUnerased, kErased, kProgrammed, kUnknown };

// FNV-1a, 64-bit: cheap, and good enough to tell one page from another.
uint64_t Fnv(const uint8_t* p, std::size_t n, uint64_t h = 0xcbf29ce484222325ull) {
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

uint64_t ChunkDigest(const uint8_t* chunk) { return Fnv(chunk, SIM_CHUNK_SIZE); }

uint64_t Filled(uint8_t value) {
  uint8_t chunk[SIM_CHUNK_SIZE];
  std::memset(chunk, value, sizeof chunk);
  return ChunkDigest(chunk);
}

uint64_t CombinePage(const uint64_t (&chunks)[kPageSize / SIM_CHUNK_SIZE]) {
  return Fnv(reinterpret_cast<const uint8_t*>(chunks), sizeof chunks);
}

// Bytes of `data` that set a bit `old` does not have, eight at a time.
uint32_t Defects(const uint8_t* old, const uint8_t* data) {
  uint32_t defects = 0;
  for (uint32_t i = 0; i < SIM_CHUNK_SIZE; i += 8) {
    uint64_t o, d;
    std::memcpy(&o, old + i, 8);
    std::memcpy(&d, data + i, 8);
    if (uint64_t wanted = d & ~o) {
      for (; wanted; wanted >>= 8) defects += (wanted & 0xFF) != 0;
    }
  }
  return defects;
}

}  // namespace

SimFlash::SimFlash(Storage storage) : storage_(storage) {
  if (storage_ == Storage::Bytes) {
    sectors_.resize(kSectors);
  } else {
    state_.assign(kChunks, kUnerased);
    digests_.assign(kChunks, Filled(SIM_UNERASED));
  }
}

SimFlash::~SimFlash() = default;

const uint8_t* SimFlash::SectorBytes(uint32_t sector) const {
  if (sector >= sectors_.size()) return nullptr;
  return sectors_[sector].get();
}

uint8_t* SimFlash::Sector(uint32_t index) {
  if (!sectors_[index]) {
    sectors_[index] = std::make_unique<uint8_t[]>(SIM_SECTOR_SIZE);
    std::memset(sectors_[index].get(), SIM_UNERASED, SIM_SECTOR_SIZE);
  }
  return sectors_[index].get();
}

void SimFlash::EraseSector(uint32_t sector) {
  if (sector >= kSectors) return;
  if (storage_ == Storage::Bytes) {
    std::memset(Sector(sector), 0xFF, SIM_SECTOR_SIZE);
    return;
  }
  static const uint64_t erased = Filled(0xFF);
  const uint32_t first = sector * (SIM_SECTOR_SIZE / SIM_CHUNK_SIZE);
  for (uint32_t c = first; c < first + SIM_SECTOR_SIZE / SIM_CHUNK_SIZE; ++c) {
    state_[c] = kErased;
    digests_[c] = erased;
  }
}

uint32_t SimFlash::Program(uint32_t address, const uint8_t* data) {
  if (address >= SIM_FLASH_SIZE || address % SIM_CHUNK_SIZE != 0) return 0;
  if (storage_ == Storage::Bytes) {
    uint8_t* cells = Sector(address / SIM_SECTOR_SIZE) + address % SIM_SECTOR_SIZE;
    const uint32_t defects = Defects(cells, data);
    for (uint32_t i = 0; i < SIM_CHUNK_SIZE; ++i) cells[i] &= data[i];
    return defects;
  }
  const uint32_t c = address / SIM_CHUNK_SIZE;
  switch (state_[c]) {
    case kErased:
      state_[c] = kProgrammed;
      digests_[c] = ChunkDigest(data);
      return 0;
    case kUnerased: {  // all zeros, and programming keeps them so
      uint8_t zeros[SIM_CHUNK_SIZE] = {};
      return Defects(zeros, data);
    }
    default: {  // programmed before: the result is not known
      uint8_t zeros[SIM_CHUNK_SIZE] = {};
      state_[c] = kUnknown;
      digests_[c] = 0;
      return Defects(zeros, data);
    }
  }
}

std::vector<uint8_t> SimFlash::Read(uint32_t address, uint32_t length) const {
  if (storage_ != Storage::Bytes) return {};
  std::vector<uint8_t> out(length, SIM_UNERASED);
  for (uint32_t i = 0; i < length && address + i < SIM_FLASH_SIZE; ++i) {
    const uint32_t a = address + i;
    if (const auto& sector = sectors_[a / SIM_SECTOR_SIZE]) out[i] = sector[a % SIM_SECTOR_SIZE];
  }
  return out;
}

uint64_t SimFlash::PageDigest(uint32_t page) const {
  if (page >= SIM_FLASH_SIZE / kPageSize) return 0;  // no page holds that digest
  if (storage_ == Storage::Bytes) {
    const std::vector<uint8_t> bytes = Read(page * kPageSize, kPageSize);
    return PageDigestOf(bytes.data());
  }
  uint64_t chunks[kPageSize / SIM_CHUNK_SIZE];
  for (uint32_t i = 0; i < 4; ++i) chunks[i] = digests_[page * 4 + i];
  return CombinePage(chunks);
}

uint64_t SimFlash::PageDigestOf(const uint8_t* page) {
  uint64_t chunks[kPageSize / SIM_CHUNK_SIZE];
  for (uint32_t i = 0; i < 4; ++i) chunks[i] = ChunkDigest(page + i * SIM_CHUNK_SIZE);
  return CombinePage(chunks);
}

}  // namespace gps
