#include "ui/common/instance_guard_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/common/instance_guard.h"

namespace gps {
namespace {

std::string Cause(int error) { return std::strerror(error); }

// Empty when the open directory `fd` is one that only this user can write
// to; else what is wrong with it.
std::string Unsafe(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return Cause(errno);
  if (!S_ISDIR(st.st_mode)) return "not a directory";
  if (st.st_uid != geteuid()) return "owned by another user";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "writable by other users";
  return {};
}

}  // namespace

std::string SharedLockDirectory(const std::string& sharedParent) {
  return sharedParent + "/gps-update-" + std::to_string(geteuid());
}

LockDirectory OpenLockDirectory(const char* runtimeDir, const std::string& sharedParent) {
  // The user's runtime directory is emptied at logout, which suits a lock.
  // One that does not pass is passed over, not refused: the per-user
  // directory below is as safe.
  if (runtimeDir && *runtimeDir) {
    const int fd = open(runtimeDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 && Unsafe(fd).empty()) return {fd, runtimeDir, {}};
    if (fd >= 0) close(fd);
  }

  const std::string path = SharedLockDirectory(sharedParent);
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return {-1, path, path + ": " + Cause(errno)};
  // O_NOFOLLOW: a link planted in the shared parent is refused rather than
  // followed to a directory of someone else's choosing. The parent is
  // sticky (/tmp), so no one else can swap the directory once it is open.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    const bool link = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    return {-1, path, path + ": " + (link ? "a symbolic link" : Cause(error))};
  }
  if (std::string problem = Unsafe(fd); !problem.empty()) {
    close(fd);
    return {-1, path, path + ": " + problem};
  }
  return {fd, path, {}};
}

std::unique_ptr<InstanceGuard> InstanceGuard::Acquire() {
  auto make = [](State state, int fd, std::string problem = {}) {
    return std::unique_ptr<InstanceGuard>(new InstanceGuard(state, fd, std::move(problem)));
  };
  const LockDirectory dir = OpenLockDirectory(std::getenv("XDG_RUNTIME_DIR"), "/tmp");
  if (dir.fd < 0) return make(State::Unavailable, -1, dir.problem);
  const std::string path = dir.path + "/" + kInstanceGuardName;
  // O_NONBLOCK: should something other than a file sit there, the open must
  // not wait on it.
  const int fd = openat(dir.fd, kInstanceGuardName,
                        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  const int openError = errno;
  close(dir.fd);
  if (fd < 0) return make(State::Unavailable, -1, path + ": " + Cause(openError));
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return make(State::Unavailable, -1, path + ": not a regular file");
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return make(State::AlreadyRunning, -1);
    return make(State::Unavailable, -1, path + ": " + Cause(error));
  }
  return make(State::Held, fd);
}

InstanceGuard::~InstanceGuard() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

// The lock lives in $XDG_RUNTIME_DIR or in /tmp/gps-update-UID; either
// must belong to this user alone.
extern const std::string_view text::kInstanceLockFailed =
    "無法建立執行鎖定，未進行更新! 請確認執行目錄只屬於目前使用者。";

}  // namespace gps
