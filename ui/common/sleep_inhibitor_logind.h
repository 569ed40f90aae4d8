// The Linux hold: logind inhibitor locks, taken with the
// org.freedesktop.login1.Manager.Inhibit call on the system bus. logind hands
// back a file descriptor for each and keeps the lock until it is closed.
//
// The update must never wait on the bus: a bus that accepts a connection and
// then says nothing would hold it for good (a connection has no time limit
// of its own). So the hold is taken on a thread of its own, connection and
// calls together within kLogindBoundMs, and Acquire returns at once; the
// update goes on whether or not the hold comes. A thread that the bus never
// answers is left behind (the programs end with _Exit, which does not wait
// for it).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/common/sleep_inhibitor.h"

namespace gps {

// One lock: what it inhibits ("sleep", "shutdown") and how ("block", or
// "delay": logind waits for its release, at most its InhibitDelayMaxSec,
// before it goes on).
struct InhibitRequest {
  std::string what;
  std::string mode;
};

// The locks an update holds: sleep is blocked; a shutdown, reboot or logout
// is delayed, so that the program, told to end (SIGTERM), can stop the
// update at its next report and close the device before the system goes.
std::vector<InhibitRequest> UpdateLocks();

// The locks on the bus at `address` (tests run a bus of their own, with a
// stand-in for logind). An empty address means the system bus. Returns at
// once; the hold is Holding() once every lock was granted.
std::unique_ptr<SleepInhibitor> InhibitOnBus(const std::string& address,
                                             std::vector<InhibitRequest> requests,
                                             std::string_view why);
// The sleep lock alone.
std::unique_ptr<SleepInhibitor> InhibitSleepOnBus(const std::string& address,
                                                  std::string_view why);

// Connection and calls together: logind answers at once, and a bus that
// does not is not waited for longer.
inline constexpr int kLogindBoundMs = 2000;
inline constexpr int kLogindCallTimeoutMs = kLogindBoundMs;

}  // namespace gps
