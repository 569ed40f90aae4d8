// How the update tells the user what it is doing. Each front end implements
// this: the Win32 dialog, the Qt dialog, the terminal.
//
// The job calls these on its own thread, in order, and expects each to have
// taken effect (or at least to keep its place in that order) when it returns.
#pragma once

#include <cstdint>
#include <string_view>

namespace gps {

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
};

}  // namespace gps
