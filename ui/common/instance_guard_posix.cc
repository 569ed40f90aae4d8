#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "ui/common/instance_guard.h"

namespace gps {
namespace {

// $XDG_RUNTIME_DIR belongs to the user and is emptied at logout. Without
// it, a name of the user's own in /tmp keeps users from locking each other.
std::string LockPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/" + kInstanceGuardName;
  return "/tmp/" + std::string(kInstanceGuardName) + "-" + std::to_string(getuid());
}

}  // namespace

std::unique_ptr<InstanceGuard> InstanceGuard::Acquire() {
  // O_NOFOLLOW: in the shared /tmp a link planted by another user must not
  // make this program create or lock a file of that user's choosing.
  const int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return std::unique_ptr<InstanceGuard>(new InstanceGuard(State::Unavailable, -1));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const State state = errno == EWOULDBLOCK ? State::AlreadyRunning : State::Unavailable;
    close(fd);
    return std::unique_ptr<InstanceGuard>(new InstanceGuard(state, -1));
  }
  return std::unique_ptr<InstanceGuard>(new InstanceGuard(State::Held, fd));
}

InstanceGuard::~InstanceGuard() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

}  // namespace gps
