// The file the record is appended to. Each line goes out in one write to a
// file opened for appending only, so that a crash loses at most the line
// being written, and two stations that share one file never interleave
// halves of their lines: the system puts each write at the end whole.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace gps {

class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Opens (or creates) `file` for appending. Empty when it is open; else
  // why not, in the system's words.
  std::string Open(const std::filesystem::path& file);
  bool IsOpen() const;

  // Appends `line` and a line feed in one write. Empty when it was written
  // whole; else why not. May be called from several threads at once.
  std::string Append(std::string_view line);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
  void* appendLock_ = nullptr;  // Windows: the mutex that keeps appends whole
#else
  int fd_ = -1;
#endif
};

}  // namespace gps
