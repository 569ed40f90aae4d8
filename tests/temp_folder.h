// A folder of one test's own under the system's temporary folder, removed
// with all it holds when the object goes. Only its owner may enter it (the
// lock's tests need that), and its name is new each time: builds of other
// presets run the same tests at the same time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace gps::test {

class TempFolder {
 public:
  explicit TempFolder(std::string_view tag = "test") {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("gps-" + std::string(tag) + "-" + std::to_string(random()) + "-" +
                      std::to_string(random()));
      if (std::filesystem::create_directory(path_)) break;  // else the name was taken
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `bytes` to the file `name` in the folder; returns its path.
  std::filesystem::path Write(std::string_view name, std::string_view bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }
  std::filesystem::path Write(std::string_view name, const std::vector<uint8_t>& bytes) const {
    return Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }

 private:
  std::filesystem::path path_;
};

// A TempFolder that is the process's working folder while it lives, as the
// desktop programs look for their image in the working folder.
class WorkingTempFolder : public TempFolder {
 public:
  explicit WorkingTempFolder(std::string_view tag = "test")
      : TempFolder(tag), previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path());
  }
  // Runs before the folder is removed: the process leaves it first.
  ~WorkingTempFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }

 private:
  std::filesystem::path previous_;
};

}  // namespace gps::test
