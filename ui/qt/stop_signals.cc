#include "ui/qt/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace gps {
namespace {

int g_writeEnd = -1;

void OnSignal(int signal) {
  const int saved = errno;
  const char number = static_cast<char>(signal);
  if (g_writeEnd >= 0) (void)!::write(g_writeEnd, &number, 1);
  // The next one gets the default action: the program ends.
  struct sigaction deflt {};
  deflt.sa_handler = SIG_DFL;
  sigaction(signal, &deflt, nullptr);
  errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeEnd = pipe_[1];
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &StopSignals::OnReadable);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

StopSignals::~StopSignals() {
  struct sigaction deflt {};
  deflt.sa_handler = SIG_DFL;
  sigaction(SIGTERM, &deflt, nullptr);
  sigaction(SIGINT, &deflt, nullptr);
  g_writeEnd = -1;
  notifier_.reset();
  for (int fd : pipe_)
    if (fd >= 0) ::close(fd);
}

void StopSignals::OnReadable() {
  char number = 0;
  while (::read(pipe_[0], &number, 1) == 1) {
    if (caught_ != 0) continue;
    caught_ = number;
    emit Stop(number);
  }
}

}  // namespace gps
