#include "ui/common/image_file.h"

#include <cstdio>
#include <system_error>

#include "hid/shown_text.h"
#include "ui/common/fill_in.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

// The N of "stem (N).ext" (Chrome, Edge), "stem(N).ext" (Firefox) or
// "stem-N.ext" when `name` is one of those.
std::optional<uint32_t> CopyNumber(const std::string& name, const std::string& stem,
                                   const std::string& extension) {
  if (name.size() <= stem.size() + extension.size() || name.rfind(stem, 0) != 0 ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
    return std::nullopt;
  }
  std::string middle = name.substr(stem.size(), name.size() - stem.size() - extension.size());
  if (middle.size() > 3 && middle.rfind(" (", 0) == 0 && middle.back() == ')') {
    middle = middle.substr(2, middle.size() - 3);
  } else if (middle.size() > 2 && middle[0] == '(' && middle.back() == ')') {
    middle = middle.substr(1, middle.size() - 2);
  } else if (middle.size() > 1 && middle[0] == '-') {
    middle = middle.substr(1);
  } else {
    return std::nullopt;
  }
  if (middle.empty() || middle.size() > 9) return std::nullopt;
  uint32_t number = 0;
  for (char c : middle) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  return number;
}

std::tm LocalTime(fs::file_time_type time) {
#ifdef __EMSCRIPTEN__
  // The web page's C++ library has no file_clock::to_sys; its files (in
  // memory) are dated by the same clock, so the offset from now serves.
  const auto system = std::chrono::system_clock::now() +
                      std::chrono::duration_cast<std::chrono::system_clock::duration>(
                          time - fs::file_time_type::clock::now());
#else
  const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(time));
#endif
  const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  return local;
}

}  // namespace

std::optional<ImageFile> InspectImage(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  ImageFile file{path, fs::file_size(path, error), fs::last_write_time(path, error)};
  if (error) return std::nullopt;
  return file;
}

std::optional<ImageFile> NewestNumberedCopy(const fs::path& file) {
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const std::string stem = DisplayName(file.stem());
  const std::string extension = DisplayName(file.extension());
  std::optional<ImageFile> newest;
  uint32_t newestNumber = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const auto number = CopyNumber(DisplayName(it->path().filename()), stem, extension);
    if (!number) continue;
    // The copy keeps the path the way the default was given.
    const auto copy = InspectImage(file.has_parent_path() ? folder / it->path().filename()
                                                          : it->path().filename());
    // An empty copy is a download that failed: never offered.
    if (!copy || copy->size == 0) continue;
    if (!newest || copy->modified > newest->modified ||
        (copy->modified == newest->modified && *number > newestNumber)) {
      newest = copy;
      newestNumber = *number;
    }
  }
  return newest;
}

ImageChoice ChooseDefaultImage(const fs::path& file) {
  ImageChoice choice{file, InspectImage(file), NewestNumberedCopy(file)};
  if (choice.found && choice.offer && choice.offer->modified <= choice.found->modified)
    choice.offer.reset();
  return choice;
}

ImageChoice ChooseGivenImage(const fs::path& file) {
  return ImageChoice{file, InspectImage(file), std::nullopt};
}

std::string DisplayName(const fs::path& file) {
  const std::u8string name = file.filename().u8string();
  return ShownText(std::string(name.begin(), name.end()));
}

std::string SizeText(uint64_t size) {
  if (size < 1024) return std::to_string(size) + std::string(text::kBytes);
  char text[32];
  // Below 1000 KB in KB, so that no figure reads "1024.0 KB".
  if (static_cast<double>(size) / 1024 < 999.95) {
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(size) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(size) / (1024 * 1024));
  }
  return text;
}

std::string Describe(const ImageFile& file, const std::tm& local) {
  char when[64];
  std::snprintf(when, sizeof when, "%04d/%02d/%02d %02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
  return DisplayName(file.path) + " (" + SizeText(file.size) + ", " + when + ")";
}

std::string Describe(const ImageFile& file) { return Describe(file, LocalTime(file.modified)); }

std::string FileLine(const ImageChoice& choice) {
  std::string line = choice.found
                         ? std::string(text::kFileLinePrefix) + Describe(*choice.found)
                         : std::string(text::kFileMissingPrefix) + DisplayName(choice.file);
  if (choice.offer) {
    line += std::string(choice.found ? text::kNewerCopyPrefix : text::kOtherCopyPrefix) +
            DisplayName(choice.offer->path);
  }
  return line;
}

std::string OfferQuestion(const ImageChoice& choice) {
  if (!choice.offer) return {};
  const std::string name = DisplayName(choice.file);
  const std::string offer = Describe(*choice.offer);
  if (!choice.found) return FillIn(text::kOfferForMissing, {{"%name%", name}, {"%offer%", offer}});
  return FillIn(text::kOfferForOlder,
                {{"%name%", name}, {"%offer%", offer}, {"%current%", Describe(*choice.found)}});
}

std::string OfferNote(const ImageChoice& choice) {
  if (!choice.offer) return {};
  const std::string name = DisplayName(choice.file);
  const std::string offer = DisplayName(choice.offer->path);
  if (!choice.found) {
    return FillIn(text::kOfferHintCommandLine,
                  {{"%offer%", Describe(*choice.offer)}, {"%file%", offer}});
  }
  return FillIn(text::kNewerNoteCommandLine, {{"%name%", name}, {"%offer%", offer}});
}

}  // namespace gps
