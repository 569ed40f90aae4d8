#include "ui/common/image_checksum.h"

#include <fstream>
#include <vector>

#include "protocol/flash_layout.h"
#include "protocol/sha256.h"

namespace gps {

std::optional<std::string> ImageFileSha256(const std::filesystem::path& file) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > MAX_DATABASE_SIZE) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  Sha256 hash;
  std::vector<char> block(64 * 1024);
  uint64_t read = 0;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    hash.Update(reinterpret_cast<const uint8_t*>(block.data()), got);
    read += got;
    if (read > MAX_DATABASE_SIZE) return std::nullopt;  // it grew meanwhile
  }
  if (in.bad()) return std::nullopt;
  return HexDigest(hash.Finish());
}

std::string ChecksumTip(const std::string& sha256) { return "SHA-256: " + sha256; }

}  // namespace gps
