// How the update tells the user what it is doing. Each front end implements
// this: the Win32 dialog, the Qt dialog, the terminal.
//
// The job calls these on its own thread, in order, and expects each to have
// taken effect (or at least to keep its place in that order) when it returns.
#pragma once

#include <cstdint>
#include <string_view>

namespace gps {

// The parts of one job, in the order it reaches them. A job that fails
// stops in the part it was in; one that succeeds reaches Done.
enum class JobStage {
  Erase,         // the image's erase command went out; its progress follows
  Write,         // the erase was confirmed; the image's pages go out
  ImageWritten,  // every page of the image reached the device
  Header,        // the header page is erased and written
  Done,          // the header is written: the restart follows
};

class UpdateReporter {
 public:
  virtual ~UpdateReporter() = default;

  // Replaces the whole status line.
  virtual void SetStatusText(std::string_view text) = 0;
  // Sets the bar's range to 0..upper. A front end whose bar, like the Win32
  // progress control, holds 16 bits keeps only the low 16 bits of `upper`;
  // the update never sets more than 65377.
  virtual void SetProgressRange(uint32_t upper) = 0;
  virtual void SetProgressPosition(uint32_t position) = 0;
  // A modal message with one OK button; returns when the user has closed it.
  virtual void ShowMessage(std::string_view text) = 0;
  // The job has reached `stage`. It tells how far the job is without a look
  // at its texts; a reporter that shows no progress ignores it.
  virtual void StageBegins(JobStage /*stage*/) {}
};

}  // namespace gps
