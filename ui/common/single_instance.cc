#include "ui/common/single_instance.h"

#include "protocol/messages.h"

namespace gps {

InstanceRule RuleFor(InstanceGuard::State state, std::string_view problem) {
  switch (state) {
    case InstanceGuard::State::Held:
      return {true, 0, {}, {}};
    case InstanceGuard::State::AlreadyRunning:
      return {false, kInstanceInUseStatus, std::string(text::kSoftwareInUse), {}};
    case InstanceGuard::State::Unavailable:
      break;
  }
  return {false, kInstanceNoLockStatus, std::string(text::kInstanceLockFailed),
          std::string(problem)};
}

SingleInstance TakeSingleInstance() {
  SingleInstance instance;
  instance.guard = InstanceGuard::Acquire();
  instance.rule = RuleFor(instance.guard->state(), instance.guard->problem());
  return instance;
}

}  // namespace gps
