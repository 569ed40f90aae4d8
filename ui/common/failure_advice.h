// What the user is told when an update ends without success: the status text
// that marks a stop they asked for, and, for a message box (a second line on
// the command line), what the failure means for the device and what to do.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "protocol/update_job.h"

namespace gps {

// Which front end asks: each names its own way to run the update again.
enum class FrontEnd { Dialog, CommandLine };

// How a job ended, as the front end saw it.
struct JobEnd {
  UpdateOutcome outcome = UpdateOutcome::Succeeded;
  bool deviceTouched = false;  // the erase command had gone out
  bool stoppedByUser = false;  // Ctrl+C, or a confirmed close
  std::string fileName;        // as the user knows it
  uint64_t fileSize = 0;
};

// How a job on `file` ended, with the file's name and size as they are now.
JobEnd EndOfJob(UpdateOutcome outcome, bool deviceTouched, const std::filesystem::path& file);

// True when the status line's last text tells of a failure: it is then shown
// as one. A missing or unreadable file says so in its own box instead.
bool EndsInFailureText(const JobEnd& end);

// The status text that follows the stage's own after a stop the user asked
// for; empty otherwise.
std::string_view StopStatusText(const JobEnd& end);

// What the failure means and what to do; empty when there is nothing to add
// (success, a stop the user asked for, a file that was not found or was
// empty: its own box said so).
std::string Advice(const JobEnd& end, FrontEnd frontEnd);

// The refusal of a file that is larger than the device takes, with its size
// and the limit; empty when the size is within it.
std::string TooLargeText(std::string_view fileName, uint64_t size);

// 16736256 -> "16,736,256".
std::string GroupedNumber(uint64_t value);

}  // namespace gps
