// Keeps a second copy of the updater from running: the desktop programs and
// the command-line program all take the same guard, named GPS_UPDATE_CLIENT.
//
// On Windows it is the named mutex; elsewhere an flock on a file of that
// name in the user's runtime directory. Both are released by the system when
// the process ends, however it ends, so a crash leaves no stale lock.
#pragma once

#include <cstdint>
#include <memory>

namespace gps {

inline constexpr char kInstanceGuardName[] = "GPS_UPDATE_CLIENT";

class InstanceGuard {
 public:
  enum class State {
    Held,            // this process is the only copy
    AlreadyRunning,  // another copy holds the guard
    Unavailable,     // the guard could not be made; the program runs anyway
  };

  // Takes the guard for the life of the returned object (and so, as the
  // programs keep it, for the life of the process).
  static std::unique_ptr<InstanceGuard> Acquire();
  ~InstanceGuard();

  State state() const { return state_; }

 private:
  explicit InstanceGuard(State state, std::intptr_t handle)
      : state_(state), handle_(handle) {}
  State state_;
  std::intptr_t handle_;
};

}  // namespace gps
