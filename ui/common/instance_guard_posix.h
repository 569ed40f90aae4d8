// Where the POSIX programs keep their single-instance lock file.
//
// Whoever can create or replace the lock file can hold it, and so stop
// every update, or make it unreachable, and so let two run at once. It
// therefore lives only in a directory that no one but this user can write
// to:
//   - $XDG_RUNTIME_DIR, when it is set, is a directory, belongs to this user
//     and is writable by no group and no other user;
//   - otherwise a directory of this user's own under a shared parent (/tmp),
//     made with mode 0700 and checked once open: a directory, not a link,
//     this user's, writable by no one else. Another user who made it first
//     cannot be told apart from an attack, so the lock is then refused.
#pragma once

#include <string>

namespace gps {

struct LockDirectory {
  int fd = -1;          // the directory, open; -1 when none could be had
  std::string path;     // its name, for messages
  std::string problem;  // when fd is -1: why, naming the place
};

// `runtimeDir` is $XDG_RUNTIME_DIR (null or empty when unset). The caller
// closes the directory.
LockDirectory OpenLockDirectory(const char* runtimeDir, const std::string& sharedParent);

// The name of this user's own directory under `sharedParent`.
std::string SharedLockDirectory(const std::string& sharedParent);

}  // namespace gps
