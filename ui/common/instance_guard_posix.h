// Where the POSIX programs keep their single-instance lock file.
//
// Two copies of one user must always meet, however each was started (from
// the desktop, from cron, through sudo -u, as a service), so the place comes
// from the user id alone, never from the environment: $XDG_RUNTIME_DIR is
// set in one of those and not in another, or set to another place.
//
// Whoever can create or replace the lock file can hold it, and so stop
// every update, or make it unreachable, and so let two run at once. It
// therefore lives in a directory of this user's own under a shared parent
// (/tmp), made with mode 0700 and checked once open: a directory, not a
// link, this user's, writable by no one else. Another user who made it first
// cannot be told apart from an attack, so the lock is then refused.
#pragma once

#include <string>

namespace gps {

// Why a lock could not be had, for the user's text: the place is not this
// user's alone (someone else's, a link, open to others), or the system
// refused (a full disk, a read-only file system).
enum class LockProblem { None, UnsafePlace, SystemError };

struct LockDirectory {
  int fd = -1;          // the directory, open; -1 when none could be had
  std::string path;     // its name, for messages
  std::string problem;  // when fd is -1: why, naming the place
  LockProblem kind = LockProblem::None;
};

// The caller closes the directory.
LockDirectory OpenLockDirectory(const std::string& sharedParent);

// The shared parent: /tmp. The tests of the programs, which run many
// copies side by side, each put their copies under a folder of their own
// with GPS_UPDATE_LOCK_PARENT; no user has reason to set it.
std::string LockParent();

// The name of this user's own directory under `sharedParent`.
std::string SharedLockDirectory(const std::string& sharedParent);

}  // namespace gps
