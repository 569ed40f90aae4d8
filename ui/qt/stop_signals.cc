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
  if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeEnd = m_pipe[1];
  m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
  connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::OnReadable);
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
  m_notifier.reset();
  for (int fd : m_pipe)
    if (fd >= 0) ::close(fd);
}

void StopSignals::OnReadable() {
  char number = 0;
  while (::read(m_pipe[0], &number, 1) == 1) {
    if (m_caught != 0) continue;
    m_caught = number;
    emit Stop(number);
  }
}

}  // namespace gps
