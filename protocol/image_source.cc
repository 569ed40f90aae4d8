#include "protocol/image_source.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace gps {

#ifdef _WIN32

ImageSource::~ImageSource() {
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

ImageSource::OpenResult ImageSource::Open(const std::filesystem::path& file) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
               ? OpenResult::InUse
               : OpenResult::Failed;
  }
  m_handle = reinterpret_cast<std::intptr_t>(handle);
  return OpenResult::Opened;
}

bool ImageSource::Read(uint8_t* into, uint64_t length) {
  if (m_handle == -1) return false;
  while (length > 0) {
    const DWORD chunk = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), into, chunk, &got, nullptr) || got == 0)
      return false;
    into += got;
    length -= got;
  }
  return true;
}

#else

ImageSource::~ImageSource() {
  if (m_handle != -1) close(static_cast<int>(m_handle));
}

ImageSource::OpenResult ImageSource::Open(const std::filesystem::path& file) {
  // O_NONBLOCK: a FIFO put in the file's place does not hold the open.
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return OpenResult::Failed;
  m_handle = fd;
  return OpenResult::Opened;
}

bool ImageSource::Read(uint8_t* into, uint64_t length) {
  if (m_handle == -1) return false;
  while (length > 0) {
    const size_t chunk = length > (1u << 30) ? (1u << 30) : static_cast<size_t>(length);
    const ssize_t got = read(static_cast<int>(m_handle), into, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    length -= static_cast<uint64_t>(got);
  }
  return true;
}

#endif

std::optional<std::filesystem::path> UnfinishedDownload(const std::filesystem::path& file) {
  // Firefox, Chrome and Edge, older Edge and Internet Explorer, Safari, Opera.
  static constexpr const char* kPartialEndings[] = {".part", ".crdownload", ".partial",
                                                    ".download", ".opdownload"};
  for (const char* ending : kPartialEndings) {
    std::filesystem::path partial = file;
    partial += ending;
    std::error_code error;
    if (std::filesystem::exists(partial, error)) return partial;
  }
  return std::nullopt;
}

}  // namespace gps
