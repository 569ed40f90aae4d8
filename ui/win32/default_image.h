// Where Update.exe looks for code_data.bin when the user names no file. The
// guide says to put it beside Update.exe, but a shortcut or a launcher may
// start the program in another folder, and a browser saves the file in the
// Downloads folder while the zip is unpacked into a folder of its own.
#pragma once

#include <filesystem>
#include <vector>

namespace gps {

struct DefaultImageSearch {
  // The first of the folders with the file or a numbered copy of it (as
  // `name` alone in the current folder); `name` itself when none has.
  std::filesystem::path file;
  // Each folder looked in, once, in the order looked.
  std::vector<std::filesystem::path> searched;
};

// Looks in the current folder, then Update.exe's, then the user's Downloads
// folder.
DefaultImageSearch FindDefaultImage(const std::filesystem::path& name);

}  // namespace gps
