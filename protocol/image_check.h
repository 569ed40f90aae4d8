// Whether a file can be an image for the device, from what the system says
// of it (its type and size) before a byte of it is read: a file of 2 GiB is
// refused at once, not after a long read, and a FIFO named like the image is
// never opened. The job, the command line's first look and the dialogs all
// refuse a file through this one check, so that each says the same.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/update_job.h"
#include "protocol/update_reporter.h"

namespace gps {

enum class ImageProblem {
  None,        // a regular file of 1 to MAX_DATABASE_SIZE bytes that opens
  Missing,     // nothing of that name
  Unreadable,  // it is there, but the system will not let it be read
  NotAFile,    // a folder, a FIFO, a device node...
  Empty,       // no bytes at all: most often a download that failed
  TooLarge,    // more than the device takes
};

struct ImageCheck {
  ImageProblem problem = ImageProblem::None;
  uint64_t size = 0;  // when the system told it
  // Unreadable: why, in a few English words ("permission denied"), for a
  // second line under the user's text.
  std::string cause;

  bool Refused() const { return problem != ImageProblem::None; }
};

// The file at `file`: its type, its size, and whether it opens for reading
// (it is opened and closed again; nothing is read).
ImageCheck CheckImageFile(const std::filesystem::path& file);
// A file known only by its size (one a browser hands over).
ImageCheck CheckImageSize(uint64_t size);

// What the job returns for a refused file; empty when it is not refused.
std::optional<UpdateOutcome> OutcomeOf(const ImageCheck& check);

// What the user is told of a refused file named `name`: a box, or, for a
// file too large, a status text (its advice follows once the job has
// ended). Empty texts when it is not refused.
struct ImageRefusal {
  std::string message;  // for a box with one OK button
  std::string status;   // for the status line
};
ImageRefusal RefusalOf(const ImageCheck& check, std::string_view name);

// Tells the user through `reporter`, as the job does. True when refused.
bool ReportRefusal(const ImageCheck& check, std::string_view name, UpdateReporter& reporter);

}  // namespace gps
