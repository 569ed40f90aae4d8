#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ui/cli/record_file.h"

namespace gps {

RecordFile::~RecordFile() {
  if (fd_ >= 0) close(fd_);
}

std::string RecordFile::Open(const std::filesystem::path& file) {
  const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return std::strerror(errno);
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return {};
}

bool RecordFile::IsOpen() const { return fd_ >= 0; }

std::string RecordFile::Append(std::string_view line) {
  if (fd_ < 0) return "the record is not open";
  std::string whole(line);
  whole += '\n';
  for (;;) {
    const ssize_t written = write(fd_, whole.data(), whole.size());
    if (written == static_cast<ssize_t>(whole.size())) return {};
    // Interrupted before anything went out: the write is made again whole.
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return std::strerror(errno);
    // Part of the line went out (the disk is full): the rest is not sent
    // after it, where another station's line may already follow.
    return "only " + std::to_string(written) + " of " + std::to_string(whole.size()) +
           " bytes were written (is the disk full?)";
  }
}

}  // namespace gps
