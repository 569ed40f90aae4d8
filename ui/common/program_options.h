// The options that the command-line program and the Linux desktop program
// share, parsed once so that both take them, and refuse what they do not
// take, in the same words.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ui/common/image_file.h"

namespace gps {

struct ProgramOptions {
  std::filesystem::path file = kDefaultImageFile;
  bool fileGiven = false;
  bool help = false;     // -h, --help
  bool version = false;  // --version
  bool simulate = false; // --simulate: the in-process simulated device instead of USB
  std::string error;     // set when the command line is not understood
};

// What a program's own option parser made of one argument.
enum class OwnOption {
  NotMine,  // not one of the program's own: the common rules apply
  Taken,    // the program took it
};

// The program's own options: `args[at]` is the argument at hand; an option
// that takes the next argument as its value moves `at` on to it. A malformed
// option of its own sets `error`.
using OwnOptionParser =
    std::function<OwnOption(const std::vector<std::string>& args, std::size_t& at,
                            std::string& error)>;

// Parses the program's arguments (after its name, in UTF-8): `--` ends the
// options, one FILE may be given, an option that is neither common nor taken
// by `own` is an error. Parsing stops at the first error.
ProgramOptions ParseProgramOptions(const std::vector<std::string>& args,
                                   const OwnOptionParser& own = {});

}  // namespace gps
