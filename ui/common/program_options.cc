#include "ui/common/program_options.h"

namespace gps {

ProgramOptions ParseProgramOptions(const std::vector<std::string>& args,
                                   const OwnOptionParser& own) {
  ProgramOptions options;
  bool endOfOptions = false;
  for (std::size_t at = 0; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (!endOfOptions && arg == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && (arg == "-h" || arg == "--help")) {
      options.help = true;
    } else if (!endOfOptions && arg == "--version") {
      options.version = true;
    } else if (!endOfOptions && arg == "--simulate") {
      options.simulate = true;
    } else if (!endOfOptions && own && own(args, at, options.error) == OwnOption::Taken) {
      // the program's own
    } else if (!options.error.empty()) {
      // `own` found its option malformed
    } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-') {
      options.error = "unknown option: " + arg;
    } else if (arg.empty()) {
      // An empty name (an unset shell variable, "$FILE") names no file.
      options.error = "FILE is empty: name the image file, or give none for code_data.bin";
    } else if (options.fileGiven) {
      options.error = "only one FILE may be given";
    } else {
      options.file = std::filesystem::u8path(arg);
      options.fileGiven = true;
    }
    if (!options.error.empty()) return options;
  }
  return options;
}

}  // namespace gps
