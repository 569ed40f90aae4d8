#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "ui/common/process_setup.h"

namespace gps {

void PrepareProcess() {
  // In order, so that open() (which takes the lowest free number) fills the
  // very descriptor that was found closed.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // A system without /dev/null cannot give the program safe descriptors;
    // it must not go on to open the device on one of them.
    if (open("/dev/null", O_RDWR) != fd) std::abort();
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
}

}  // namespace gps
