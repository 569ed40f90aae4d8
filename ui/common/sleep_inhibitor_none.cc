#include "ui/common/sleep_inhibitor.h"

namespace gps {
namespace {

// A build without a way to reach the system's power management.
class NoHold : public SleepInhibitor {
 public:
  bool Holding() const override { return false; }
};

}  // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::Acquire(std::string_view) {
  return std::make_unique<NoHold>();
}

}  // namespace gps
