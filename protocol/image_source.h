// Reading the image file as the update needs it: whole, and as it stands.
//
// On Windows the file is opened with read sharing only. Another program that
// has it open for writing (a download manager, an editor saving it) makes
// the open fail, rather than hand out a file that is still being written;
// and while it is read, no one can write it. Elsewhere the open shares as
// the system does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace gps {

class ImageSource {
 public:
  enum class OpenResult { Opened, InUse, Failed };

  ImageSource() = default;
  ~ImageSource();
  ImageSource(const ImageSource&) = delete;
  ImageSource& operator=(const ImageSource&) = delete;

  OpenResult Open(const std::filesystem::path& file);
  // Reads exactly `length` bytes from the start; false when fewer came.
  bool Read(uint8_t* into, uint64_t length);

 private:
  std::intptr_t m_handle = -1;  // a Windows HANDLE or a file descriptor
};

// A download of `file` that a browser has not finished, beside it
// ("code_data.bin.part", ".crdownload", ...); empty when there is none.
// Firefox creates the file itself, empty, at the start of the download and
// fills it only at the end, from its ".part".
std::optional<std::filesystem::path> UnfinishedDownload(const std::filesystem::path& file);

}  // namespace gps
