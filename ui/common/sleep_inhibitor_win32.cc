#include <windows.h>

#include "ui/common/sleep_inhibitor.h"

namespace gps {
namespace {

// The system stays out of sleep while the thread's execution state asks for
// it; the display may still turn off, which the update does not need.
class ExecutionStateHold : public SleepInhibitor {
 public:
  ExecutionStateHold()
      : holding_(SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0) {}
  ~ExecutionStateHold() override {
    if (holding_) SetThreadExecutionState(ES_CONTINUOUS);
  }
  bool Holding() const override { return holding_; }

 private:
  const bool holding_;
};

}  // namespace

std::unique_ptr<SleepInhibitor> SleepInhibitor::Acquire(std::string_view) {
  return std::make_unique<ExecutionStateHold>();
}

}  // namespace gps
