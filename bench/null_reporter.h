// A reporter that tells no one: what the update costs without a front end.
#pragma once

#include "protocol/update_reporter.h"

namespace gps {

class NullReporter : public UpdateReporter {
 public:
  void SetStatusText(std::string_view) override {}
  void SetProgressRange(uint32_t) override {}
  void SetProgressPosition(uint32_t) override {}
  void ShowMessage(std::string_view) override {}
};

}  // namespace gps
