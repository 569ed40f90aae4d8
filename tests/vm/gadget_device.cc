// gps-gadget-device NODE DIR
//
// Plays the road-safety device on the device side of a USB gadget's HID
// function (NODE, /dev/hidgN, in the test VM). It only moves reports: each
// 64-byte output report the host sends arrives here as one read and goes to
// the project's device model (sim/device_model.h), and the input reports
// the model plans during an erase go back as writes once they are due.
//
// NODE exists while the gadget is plugged in. The program opens it when it
// appears and again after an unplug, so that one device, and its flash,
// lives through unplugging and plugging in.
//
// SIGTERM or SIGINT ends it; on its way out it writes into DIR:
//   flash.bin     the 16 MiB flash; sectors never touched stay holes, which
//                 read as the unerased 0x00
//   commands.log  each command block the device took, one a line
//   summary       the number of output reports taken and input reports sent
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "protocol/command_block.h"
#include "sim/device_model.h"

namespace {

using gps::DeviceModel;
using Clock = DeviceModel::Clock;

std::atomic<bool> stopRequested{false};

void OnStopSignal(int) { stopRequested = true; }

// f_hid hands over one output report per read and takes one input report
// per write, of the gadget's report_length.
constexpr std::size_t kReportSize = DeviceModel::kPayloadSize;

// How often the program looks for a missing node, and the longest it waits
// in poll() before it looks at the stop flag and the node again.
constexpr int kIdleMs = 50;

// The pace of the erase messages: four progress messages and "over", 50 ms
// apart, so that an erase is over in a quarter of a second.
gps::EraseBehaviour Erase() {
  gps::EraseBehaviour erase;
  erase.gap = std::chrono::milliseconds(50);
  return erase;
}

// An unplugged gadget's node does not wake its readers: it is removed, and
// made afresh (a new inode) when the gadget is plugged in again. So the
// program looks whether the name still leads to the node it holds.
bool SameNode(int fd, const std::string& node) {
  struct stat held {}, named {};
  return fstat(fd, &held) == 0 && stat(node.c_str(), &named) == 0 &&
         held.st_ino == named.st_ino && held.st_rdev == named.st_rdev;
}

int MillisecondsUntil(Clock::time_point t) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, kIdleMs));
}

// One line per command block, in the words of the cases' expectations:
// "erase 10 1", "write 160 4, 16 data reports", "restart", or "rejected"
// with the block's code and arguments.
bool WriteCommandLog(const DeviceModel& model, const std::string& path) {
  std::ofstream log(path);
  for (const DeviceModel::Command& c : model.Commands()) {
    if (!c.accepted) {
      log << "rejected 0x" << std::hex << c.code << std::dec << ' ' << c.arg1 << ' ' << c.arg2;
    } else if (c.code == gps::CMD_ERASE_SECTORS) {
      log << "erase " << c.arg1 << ' ' << c.arg2;
    } else if (c.code == gps::CMD_WRITE_PAGES) {
      log << "write " << c.arg1 << ' ' << c.arg2 << ", " << c.dataReports << " data reports";
    } else {
      log << "restart";
    }
    log << '\n';
  }
  return log.good();
}

bool WriteFlash(const gps::SimFlash& flash, const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, gps::SIM_FLASH_SIZE) == 0;
  for (uint32_t s = 0; ok && s < gps::SIM_FLASH_SIZE / gps::SIM_SECTOR_SIZE; ++s) {
    if (const uint8_t* bytes = flash.SectorBytes(s)) {
      ok = pwrite(fd, bytes, gps::SIM_SECTOR_SIZE, off_t{s} * gps::SIM_SECTOR_SIZE) ==
           static_cast<ssize_t>(gps::SIM_SECTOR_SIZE);
    }
  }
  return close(fd) == 0 && ok;
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

  DeviceModel model(gps::SimFlash::Storage::Bytes, Erase());
  model.RecordCommands(true);
  uint64_t nextInput = 0;  // the number of the next input report to send
  uint64_t outputReports = 0;
  uint64_t inputReports = 0;
  int fd = -1;
  while (!stopRequested) {
    if (fd < 0) {
      fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleMs));
        continue;
      }
      std::fprintf(stderr, "%s opened\n", node.c_str());
    }
    const std::optional<DeviceModel::InputReport> input = model.NextInputReport(nextInput);
    pollfd p{fd, POLLIN, 0};
    const int waitMs = input ? MillisecondsUntil(input->sentAt) : kIdleMs;
    if (input && waitMs == 0) p.events |= POLLOUT;
    const int ready = poll(&p, 1, waitMs);
    if (ready < 0) continue;  // a signal
    bool gone = (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
                (ready == 0 && !SameNode(fd, node));
    if (!gone && (p.revents & POLLIN)) {
      uint8_t report[kReportSize] = {};  // a short report is taken padded with zeros
      const ssize_t n = read(fd, report, sizeof report);
      if (n > 0) {
        model.Receive(report, Clock::now());
        ++outputReports;
      } else if (n == 0 || errno != EAGAIN) {
        gone = true;
      }
    }
    if (!gone && (p.revents & POLLOUT) && input) {
      const ssize_t n = write(fd, input->payload.data(), kReportSize);
      if (n == static_cast<ssize_t>(kReportSize)) {
        nextInput = input->number + 1;
        ++inputReports;
      } else if (n >= 0 || errno != EAGAIN) {
        gone = true;
      }
    }
    if (gone) {
      std::fprintf(stderr, "%s gone\n", node.c_str());
      close(fd);
      fd = -1;
      model.PortReset();
    }
  }
  if (fd >= 0) close(fd);
  std::ofstream summary(dir + "/summary");
  summary << "output_reports " << outputReports << "\ninput_reports " << inputReports << '\n';
  summary.close();
  const bool written = WriteFlash(model.Flash(), dir + "/flash.bin") &&
                      WriteCommandLog(model, dir + "/commands.log") && summary.good();
  return written ? 0 : 1;
}
