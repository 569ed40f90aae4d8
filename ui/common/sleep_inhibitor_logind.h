// The Linux hold: a logind "sleep" inhibitor lock, taken with the
// org.freedesktop.login1.Manager.Inhibit call on the system bus. logind hands
// back a file descriptor and keeps the lock until it is closed.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ui/common/sleep_inhibitor.h"

namespace gps {

// The same call on the bus at `address` (tests run a bus of their own, with
// a stand-in for logind). An empty address means the system bus.
std::unique_ptr<SleepInhibitor> InhibitSleepOnBus(const std::string& address,
                                                  std::string_view why);

// logind answers at once; a bus that does not is not waited for longer.
inline constexpr int kLogindCallTimeoutMs = 2000;

}  // namespace gps
