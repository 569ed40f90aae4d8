#include "ui/common/image_checksum.h"

#include <gtest/gtest.h>

#include "protocol/flash_layout.h"
#include "protocol/sha256.h"
#include "tests/temp_folder.h"

namespace gps {
namespace {

TEST(ImageChecksum, TheFilesDigestOrNothingWhenItWouldNotBeWritten) {
  test::TempFolder folder("checksum");
  // Larger than one block of the read, and not a whole number of them.
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + (i >> 9));
  const auto image = folder.Write("code_data.bin", bytes);
  EXPECT_EQ(ImageFileSha256(image),
            Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  EXPECT_EQ(ImageFileSha256(folder.Write("empty.bin", "")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(ImageFileSha256(folder.path() / "missing.bin"), std::nullopt);
  EXPECT_EQ(ImageFileSha256(folder.path()), std::nullopt);  // a folder
  const auto large = folder.Write("large.bin", "");
  std::filesystem::resize_file(large, MAX_DATABASE_SIZE + 1ull);
  EXPECT_EQ(ImageFileSha256(large), std::nullopt);
  EXPECT_EQ(ChecksumTip("ab12"), "SHA-256: ab12");
}

}  // namespace
}  // namespace gps
