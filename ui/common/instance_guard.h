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
  // When Unavailable: the place is not this user's alone (someone else's,
  // a link, open to others), rather than the system refusing to make the
  // lock (a full disk, a read-only file system).
  bool placeUnsafe() const { return placeUnsafe_; }

 private:
  InstanceGuard(State state, std::intptr_t handle, std::string problem = {},
                bool placeUnsafe = false)
      : state_(state), handle_(handle), problem_(std::move(problem)), placeUnsafe_(placeUnsafe) {}
  State state_;
  std::intptr_t handle_;
  std::string problem_;
  bool placeUnsafe_;
};

namespace text {

// The box of a second copy, which then exits with status 1.
inline constexpr std::string_view kSoftwareInUse = "軟體正在使用中";
// No guard could be had safely, so nothing is updated. What to check differs
// by platform: each platform's guard file defines it.
extern const std::string_view kInstanceLockFailed;
// The same when the system refused to make the lock (a full disk, a
// read-only file system) rather than the place being someone else's.
inline constexpr std::string_view kInstanceLockSystemFailed =
    "無法建立執行鎖定，未進行更新! 請確認磁碟空間足夠且暫存目錄可以寫入。";

}  // namespace text

// The user's text for a guard that is Unavailable: what to check depends on
// whether the place was someone else's or the system refused.
inline std::string_view LockFailedText(const InstanceGuard& guard) {
  return guard.placeUnsafe() ? text::kInstanceLockFailed : text::kInstanceLockSystemFailed;
}

}  // namespace gps
