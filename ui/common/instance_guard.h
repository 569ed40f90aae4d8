// Keeps a second copy of the updater from running: the desktop programs and
// the command-line program all take the same guard, named GPS_UPDATE_CLIENT.
//
// On Windows it is the named mutex; elsewhere an flock on a file of that
// name in a directory that only this user can write to (see
// instance_guard_posix.h). Both are released by the system when the process
// ends, however it ends, so a crash leaves no stale lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace gps {

inline constexpr char kInstanceGuardName[] = "GPS_UPDATE_CLIENT";

class InstanceGuard {
 public:
  enum class State {
    Held,            // this process is the only copy
    AlreadyRunning,  // another copy holds the guard
    // No guard could be had safely. The programs then refuse to update: two
    // updates at once would interleave their reports on the one device.
    Unavailable,
  };

  // Takes the guard for the life of the returned object (and so, as the
  // programs keep it, for the life of the process).
  static std::unique_ptr<InstanceGuard> Acquire();
  ~InstanceGuard();

  State state() const { return state_; }
  // When Unavailable: where and why, in a few English words for a second
  // line under the user's text ("/tmp/gps-update-1000: owned by another
  // user"). Empty otherwise.
  const std::string& problem() const { return problem_; }

 private:
  InstanceGuard(State state, std::intptr_t handle, std::string problem = {})
      : state_(state), handle_(handle), problem_(std::move(problem)) {}
  State state_;
  std::intptr_t handle_;
  std::string problem_;
};

namespace text {

// The box of a second copy, which then exits with status 1.
inline constexpr std::string_view kSoftwareInUse = "軟體正在使用中";
// No guard could be had safely, so nothing is updated. What to check differs
// by platform: each platform's guard file defines it.
extern const std::string_view kInstanceLockFailed;

}  // namespace text
}  // namespace gps
