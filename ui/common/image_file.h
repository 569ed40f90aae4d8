// Which image file "更新" will write, and how the front ends describe it.
//
// A browser that downloads code_data.bin a second time names the new file
// "code_data (1).bin" (Chrome, Edge, Firefox) or "code_data-1.bin", and
// leaves the old one in place: so the default file may be missing while a
// download is there, or be older than one. Such a copy is offered to the
// user, never taken silently.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace gps {

// The image a program writes when it is given none, in its working folder.
inline constexpr const char* kDefaultImageFile = "code_data.bin";

// A regular file as it is on disk.
struct ImageFile {
  std::filesystem::path path;
  uint64_t size = 0;
  std::filesystem::file_time_type modified{};
};

// The file at `path` when it is a regular file; empty otherwise.
std::optional<ImageFile> InspectImage(const std::filesystem::path& path);

// The newest of the numbered copies of `file` ("name (N).ext", "name-N.ext")
// beside it, by modification time and then by number; empty when none.
std::optional<ImageFile> NewestNumberedCopy(const std::filesystem::path& file);

struct ImageChoice {
  std::filesystem::path file;     // what "更新" writes unless the user takes the offer
  std::optional<ImageFile> found;  // that file, when it is there
  // A numbered copy to offer: the file is missing, or older than the copy.
  std::optional<ImageFile> offer;
};

// `file` is the default one: numbered copies of it are looked for.
ImageChoice ChooseDefaultImage(const std::filesystem::path& file);
// `file` was named by the user: it is taken as it is.
ImageChoice ChooseGivenImage(const std::filesystem::path& file);

// The file's name as the user sees it, in UTF-8 on every platform, with
// control characters and invalid UTF-8 written out (ShownText): fit for a
// terminal, a log line or a box. The file is opened by its path, never by
// this.
std::string DisplayName(const std::filesystem::path& file);
// "code_data.bin (1.5 MB, 2024/05/01 10:22)"; `local` is the modification
// time in local time.
std::string Describe(const ImageFile& file, const std::tm& local);
std::string Describe(const ImageFile& file);
// "1.5 MB", "12.0 KB", "300 位元組".
std::string SizeText(uint64_t size);

// The dialogs' line above the bar.
std::string FileLine(const ImageChoice& choice);
// The question before an update when there is a copy to offer.
std::string OfferQuestion(const ImageChoice& choice);
// The command line's note about a copy it does not use; empty when none.
std::string OfferNote(const ImageChoice& choice);

}  // namespace gps
