#include "protocol/image_check.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

// In English on every system: the Windows runtime's own words come in the
// ANSI code page, which the rest of the texts (UTF-8) would garble.
std::string CauseOf(const std::error_code& error) {
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
    return "permission denied";
  if (error == std::errc::too_many_symbolic_link_levels) return "too many symbolic links";
  if (error == std::errc::filename_too_long) return "name too long";
  if (error == std::errc::io_error) return "input/output error";
  return "system error " + std::to_string(error.value());
}

ImageCheck Unreadable(const std::error_code& error) {
  return {ImageProblem::Unreadable, 0, CauseOf(error)};
}

}  // namespace

ImageCheck CheckImageSize(uint64_t size) {
  if (size == 0) return {ImageProblem::Empty, 0, {}};
  if (size > MAX_DATABASE_SIZE) return {ImageProblem::TooLarge, size, {}};
  return {ImageProblem::None, size, {}};
}

ImageCheck CheckImageFile(const fs::path& file) {
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (status.type() == fs::file_type::not_found) return {ImageProblem::Missing, 0, {}};
  if (error) return Unreadable(error);
  // Only a regular file is opened: a FIFO (or a device node) named like the
  // image would hold the open until some other program wrote to it.
  if (!fs::is_regular_file(status)) return {ImageProblem::NotAFile, 0, {}};
  const std::uintmax_t size = fs::file_size(file, error);
  if (error) return Unreadable(error);
  ImageCheck check = CheckImageSize(size);
  if (check.Refused()) return check;
  // Opened and closed again: a file the user may not read is told as such
  // now, not as missing and not after a device was looked for.
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    const int number = errno;
    return {ImageProblem::Unreadable, size,
            number != 0 ? CauseOf(std::error_code(number, std::generic_category())) : ""};
  }
  return check;
}

std::optional<UpdateOutcome> OutcomeOf(const ImageCheck& check) {
  switch (check.problem) {
    case ImageProblem::None: return std::nullopt;
    case ImageProblem::Missing: return UpdateOutcome::FileMissing;
    case ImageProblem::Unreadable:
    case ImageProblem::NotAFile: return UpdateOutcome::FileUnreadable;
    case ImageProblem::Empty: return UpdateOutcome::FileEmpty;
    case ImageProblem::TooLarge: return UpdateOutcome::TooLarge;
  }
  return std::nullopt;
}

ImageRefusal RefusalOf(const ImageCheck& check, std::string_view name) {
  const std::string file(name);
  switch (check.problem) {
    case ImageProblem::None:
      return {};
    case ImageProblem::Missing:
      return {std::string(text::kCantFindPrefix) + file, {}};
    case ImageProblem::Unreadable:
    case ImageProblem::NotAFile: {
      std::string message =
          std::string(text::kReadFilePrefix) + file + std::string(text::kReadFileSuffix);
      if (!check.cause.empty()) message += "\n(" + check.cause + ")";
      return {message, {}};
    }
    case ImageProblem::Empty:
      return {std::string(text::kFileEmptyPrefix) + file + std::string(text::kFileEmptySuffix), {}};
    case ImageProblem::TooLarge:
      return {{}, std::string(text::kTooMuchData)};
  }
  return {};
}

bool ReportRefusal(const ImageCheck& check, std::string_view name, UpdateReporter& reporter) {
  const ImageRefusal refusal = RefusalOf(check, name);
  if (!refusal.status.empty()) reporter.SetStatusText(refusal.status);
  if (!refusal.message.empty()) reporter.ShowMessage(refusal.message);
  return check.Refused();
}

}  // namespace gps
