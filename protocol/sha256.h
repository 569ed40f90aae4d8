// SHA-256 (FIPS 180-4) of an image, so that an operator can compare what is
// about to be written with a checksum published beside the download.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace gps {

class Sha256 {
 public:
  using Digest = std::array<uint8_t, 32>;

  Sha256();
  // Adds `length` bytes to the message; may be called any number of times.
  void Update(const uint8_t* data, std::size_t length);
  // Pads the message and returns its digest. The object is spent afterwards.
  Digest Finish();

 private:
  void Compress(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> block_{};
  std::size_t held_ = 0;      // bytes of block_ in use
  uint64_t totalBytes_ = 0;
};

// The digest of `length` bytes as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, std::size_t length);
std::string HexDigest(const Sha256::Digest& digest);

}  // namespace gps
