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

std::string LockParent() {
  const char* parent = std::getenv("GPS_UPDATE_LOCK_PARENT");
  return parent && *parent ? parent : "/tmp";
}

LockDirectory OpenLockDirectory(const std::string& sharedParent) {
  const std::string path = SharedLockDirectory(sharedParent);
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return {-1, path, path + ": " + Cause(errno), LockProblem::SystemError};
  // O_NOFOLLOW: a link planted in the shared parent is refused rather than
  // followed to a directory of someone else's choosing. The parent is
  // sticky (/tmp), so no one else can swap the directory once it is open.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    const bool link = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (link) return {-1, path, path + ": a symbolic link", LockProblem::UnsafePlace};
    return {-1, path, path + ": " + Cause(error),
            error == ENOTDIR ? LockProblem::UnsafePlace : LockProblem::SystemError};
  }
  if (std::string problem = Unsafe(fd); !problem.empty()) {
    close(fd);
    return {-1, path, path + ": " + problem, LockProblem::UnsafePlace};
  }
  return {fd, path, {}, LockProblem::None};
}

std::unique_ptr<InstanceGuard> InstanceGuard::Acquire() {
  auto make = [](State state, int fd, std::string problem = {},
                 LockProblem kind = LockProblem::None) {
    return std::unique_ptr<InstanceGuard>(
        new InstanceGuard(state, fd, std::move(problem), kind == LockProblem::UnsafePlace));
  };
  const LockDirectory dir = OpenLockDirectory(LockParent());
  if (dir.fd < 0) return make(State::Unavailable, -1, dir.problem, dir.kind);
  const std::string path = dir.path + "/" + kInstanceGuardName;
  // O_NONBLOCK: should something other than a file sit there, the open must
  // not wait on it.
  const int fd = openat(dir.fd, kInstanceGuardName,
                        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  const int openError = errno;
  close(dir.fd);
  if (fd < 0) {
    // Something that is not a file stands at the lock's name (ELOOP: a
    // link); anything else is the system's refusal (ENOSPC, EROFS, EDQUOT).
    const bool planted = openError == ELOOP || openError == EISDIR;
    return make(State::Unavailable, -1, path + ": " + Cause(openError),
                planted ? LockProblem::UnsafePlace : LockProblem::SystemError);
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return make(State::Unavailable, -1, path + ": not a regular file", LockProblem::UnsafePlace);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return make(State::AlreadyRunning, -1);
    return make(State::Unavailable, -1, path + ": " + Cause(error), LockProblem::SystemError);
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
