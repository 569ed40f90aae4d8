#include "ui/common/single_instance.h"

#include "hid/shown_text.h"
#include "protocol/messages.h"

namespace gps {

InstanceRule RuleFor(InstanceGuard::State state, std::string_view problem, bool placeUnsafe) {
  switch (state) {
    case InstanceGuard::State::Held:
      return {true, 0, {}, {}};
    case InstanceGuard::State::AlreadyRunning:
      return {false, kInstanceInUseStatus, std::string(text::kSoftwareInUse), {}};
    case InstanceGuard::State::Unavailable:
      break;
  }
  // What to check depends on whether the place was someone else's or the
  // system refused to make the lock.
  return {false, kInstanceNoLockStatus,
          std::string(placeUnsafe ? text::kInstanceLockFailed : text::kInstanceLockSystemFailed),
          ShownText(problem)};
}

InstanceRule RuleFor(const InstanceGuard& guard) {
  return RuleFor(guard.state(), guard.problem(), guard.placeUnsafe());
}

SingleInstance TakeSingleInstance() {
  SingleInstance instance;
  instance.guard = InstanceGuard::Acquire();
  instance.rule = RuleFor(*instance.guard);
  return instance;
}

}  // namespace gps
