#include "hid/device_lock_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace gps {
namespace {

class NodeLock : public DeviceLock {
 public:
  explicit NodeLock(int fd) : fd_(fd) {}
  ~NodeLock() override { close(fd_); }  // closing the last descriptor unlocks

 private:
  int fd_;
};

}  // namespace

DeviceClaim ClaimDeviceNode(const std::string& path) {
  // Read-only is all flock needs; O_NONBLOCK so that nothing standing at the
  // path can hold the open up, O_NOCTTY should it be a terminal.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return {false, std::make_unique<NodeLock>(fd)};
  const int error = errno;
  close(fd);
  return {error == EWOULDBLOCK, nullptr};
}

}  // namespace gps
