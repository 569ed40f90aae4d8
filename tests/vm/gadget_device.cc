// gps-gadget-device NODE DIR
//
// Plays the road-safety device on the device side of a USB gadget's HID
// function (NODE, /dev/hidgN, in the test VM): each 64-byte output report
// the host sends arrives here as one read, goes to the simulated device, and
// the input reports the device sends during an erase go back as writes. The
// device is the project's simulated one; this program only moves reports.
//
// NODE exists while the gadget is plugged in. The program opens it when it
// appears and opens it again after an unplug, so one device (and its flash)
// lives through unplugging and plugging in, as a real one does.
//
// SIGTERM or SIGINT ends it; on its way out it writes into DIR:
//   flash.bin     the 16 MiB flash (sectors never touched stay holes that
//                 read as the unerased 0x00)
//   commands.log  what the device took, one line per command
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tests/vm/gadget_model.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnStopSignal(int) { stopRequested = true; }

// f_hid hands over one output report per read and takes one input report
// per write, 64 bytes each (the gadget's report_length).
constexpr std::size_t kReportSize = 64;

// How often the program looks for a missing node, and the longest it waits
// in poll() without looking at the stop flag.
constexpr int kIdleMs = 50;

// An unplugged gadget's node does not wake its readers: it is removed, and
// made afresh (a new inode) when the gadget is plugged in again. So the
// program looks whether the name still leads to the node it holds.
bool SameNode(int fd, const std::string& node) {
  struct stat held {}, named {};
  return fstat(fd, &held) == 0 && stat(node.c_str(), &named) == 0 &&
         held.st_ino == named.st_ino && held.st_rdev == named.st_rdev;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gps-gadget-device NODE DIR\n");
    return 2;
  }
  const std::string node = argv[1];
  const std::string dir = argv[2];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  gps::GadgetModel model;
  int fd = -1;
  while (!stopRequested) {
    if (fd < 0) {
      fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleMs));
        continue;
      }
      std::fprintf(stderr, "%s opened\n", node.c_str());
      model.Plugged();
    }
    const std::optional<gps::GadgetModel::Input> input = model.NextInput();
    pollfd p{fd, POLLIN, 0};
    int waitMs = kIdleMs;
    if (input) {
      if (input->dueInMs <= 0) p.events |= POLLOUT;
      else waitMs = std::min(waitMs, input->dueInMs);
    }
    const int ready = poll(&p, 1, waitMs);
    if (ready < 0) continue;  // a signal
    bool gone = (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
                (ready == 0 && !SameNode(fd, node));
    if (!gone && (p.revents & POLLIN)) {
      uint8_t report[kReportSize] = {};
      const ssize_t n = read(fd, report, sizeof report);
      if (n > 0) model.TakeOutput(report, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EAGAIN) gone = true;
    }
    if (!gone && (p.revents & POLLOUT) && input) {
      const ssize_t n = write(fd, input->payload.data(), kReportSize);
      if (n == static_cast<ssize_t>(kReportSize)) model.InputSent();
      else if (n >= 0 || errno != EAGAIN) gone = true;
    }
    if (gone) {
      // Unplugged: the node goes away with the gadget's binding.
      std::fprintf(stderr, "%s gone\n", node.c_str());
      close(fd);
      fd = -1;
      model.Unplugged();
    }
  }
  if (fd >= 0) close(fd);
  const bool written = model.WriteResults(dir);
  return written ? 0 : 1;
}
