// The image's SHA-256 as the front ends show it before an update, so that an
// operator can compare it with the checksum published beside the download:
// the command line prints it on standard error, and a dialog may put it on
// its file line's tooltip.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace gps {

// The SHA-256 of the file at `file`, as 64 lower-case hexadecimal digits;
// empty when it cannot be read whole or is larger than the device takes
// (it would not be written then). It reads the whole file: up to 16 MiB,
// some tens of milliseconds, so a dialog asks once per file it shows.
std::optional<std::string> ImageFileSha256(const std::filesystem::path& file);

// "SHA-256: 93410c19…" (all 64 digits): the tooltip's text.
std::string ChecksumTip(const std::string& sha256);

}  // namespace gps
