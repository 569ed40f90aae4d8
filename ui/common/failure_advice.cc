#include "ui/common/failure_advice.h"

#include <optional>

#include "protocol/flash_layout.h"
#include "ui/common/fill_in.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/image_file.h"

namespace gps {

JobEnd EndOfJob(UpdateOutcome outcome, bool deviceTouched, const std::filesystem::path& file) {
  JobEnd end;
  end.outcome = outcome;
  end.deviceTouched = deviceTouched;
  end.fileName = DisplayName(file);
  if (const std::optional<ImageFile> image = InspectImage(file)) end.fileSize = image->size;
  return end;
}

bool EndsInFailureText(const JobEnd& end) {
  switch (end.outcome) {
    case UpdateOutcome::Succeeded:
    case UpdateOutcome::FileMissing:
    case UpdateOutcome::FileUnreadable:
    case UpdateOutcome::FileEmpty:
      return false;
    default:
      return true;
  }
}

std::string_view StopStatusText(const JobEnd& end) {
  if (!end.stoppedByUser || end.outcome == UpdateOutcome::Succeeded) return {};
  return text::kUpdateStopped;
}

std::string Advice(const JobEnd& end, FrontEnd frontEnd) {
  const std::string_view again =
      frontEnd == FrontEnd::Dialog ? text::kAgainDialog : text::kAgainCommandLine;
  if (end.stoppedByUser) return {};
  switch (end.outcome) {
    case UpdateOutcome::Succeeded:
    case UpdateOutcome::FileMissing:
    case UpdateOutcome::FileUnreadable:
    case UpdateOutcome::FileEmpty:
    case UpdateOutcome::DeviceBusy:  // its text says what to do
      return {};
    case UpdateOutcome::TooLarge:
      return TooLargeText(end.fileName, end.fileSize);
    case UpdateOutcome::RestartFailed:
      return std::string(text::kAdviceRestart);
    case UpdateOutcome::NoDevice:
      return FillIn(text::kAdviceUnchanged, {{"%again%", again}});
    case UpdateOutcome::EraseFailed:
    case UpdateOutcome::WriteFailed:
      break;
  }
  return FillIn(end.deviceTouched ? text::kAdviceIncomplete : text::kAdviceUnchanged,
                {{"%again%", again}});
}

std::string TooLargeText(std::string_view fileName, uint64_t size) {
  if (size <= MAX_DATABASE_SIZE) return {};
  return FillIn(text::kTooLargeAdvice, {{"%name%", fileName},
                                        {"%size%", GroupedNumber(size)},
                                        {"%limit%", GroupedNumber(MAX_DATABASE_SIZE)}});
}

std::string GroupedNumber(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

}  // namespace gps
