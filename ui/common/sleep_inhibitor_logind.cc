#include "ui/common/sleep_inhibitor_logind.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QString>
#include <QVariant>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The socket of a "unix:path=..." or "unix:abstract=..." bus address; false
// for other kinds, which are left to the bus library alone.
bool SocketOf(const std::string& address, sockaddr_un& where, socklen_t& length) {
  std::string entry = address.substr(0, address.find(';'));
  if (entry.rfind("unix:", 0) != 0) return false;
  entry = entry.substr(5);
  std::string path;
  bool abstract = false;
  std::size_t at = 0;
  while (at <= entry.size()) {
    const std::size_t end = std::min(entry.find(',', at), entry.size());
    const std::string pair = entry.substr(at, end - at);
    if (pair.rfind("path=", 0) == 0) path = pair.substr(5);
    if (pair.rfind("abstract=", 0) == 0) path = pair.substr(9), abstract = true;
    at = end + 1;
  }
  if (path.empty() || path.find('%') != std::string::npos ||
      path.size() + 1 >= sizeof where.sun_path) {
    return false;
  }
  where = {};
  where.sun_family = AF_UNIX;
  std::memcpy(where.sun_path + (abstract ? 1 : 0), path.data(), path.size());
  // A path's terminating zero, or an abstract name's leading one.
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

// Whether the bus at `address` answers a connection and its authentication
// before `deadline`. The bus library waits for that without a limit, so it
// is asked first here, on a connection of its own that is then closed.
bool BusAnswers(const std::string& address, Clock::time_point deadline) {
  sockaddr_un where{};
  socklen_t length = 0;
  if (!SocketOf(address, where, length)) return true;  // not ours to judge
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool answered = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&where), length) == 0 || errno == EINPROGRESS) {
    char hello[64];
    const std::string uid = std::to_string(geteuid());
    std::string hex;
    for (char c : uid) {
      std::snprintf(hello, sizeof hello, "%02x", static_cast<unsigned char>(c));
      hex += hello;
    }
    const std::string auth = std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n";
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, MsLeft(deadline)) == 1 &&
        send(fd, auth.data(), auth.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(auth.size())) {
      std::string reply;
      p = {fd, POLLIN, 0};
      while (reply.find("\r\n") == std::string::npos && poll(&p, 1, MsLeft(deadline)) == 1) {
        char buffer[128];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
      }
      answered = reply.find("\r\n") != std::string::npos;
    }
  }
  close(fd);
  return answered;
}

std::string SystemBusAddress() {
  const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  return address && *address ? address : "unix:path=/run/dbus/system_bus_socket";
}

int CallInhibit(QDBusConnection& bus, const InhibitRequest& request, std::string_view why,
                Clock::time_point deadline) {
  const int left = MsLeft(deadline);
  if (left == 0) return -1;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << QString::fromStdString(request.what) << QStringLiteral("gps-update")
       << QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size()))
       << QString::fromStdString(request.mode);
  const QDBusMessage reply = bus.call(call, QDBus::Block, left);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return -1;
  const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
  // The reply's descriptor is closed with it; the hold keeps a copy.
  return fd.isValid() ? ::dup(fd.fileDescriptor()) : -1;
}

// What the hold's thread hands back, shared with it: the hold may be
// released, or dropped, before the thread is done.
struct Taking {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool released = false;  // the hold is gone: the thread closes what it gets
  std::vector<int> fds;
  bool granted = false;

  void Close() {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
    fds.clear();
  }
};

class LogindHold : public SleepInhibitor {
 public:
  LogindHold(std::shared_ptr<Taking> taking, Clock::time_point deadline)
      : taking_(std::move(taking)), deadline_(deadline) {}
  ~LogindHold() override {
    std::lock_guard<std::mutex> hold(taking_->mutex);
    taking_->released = true;
    taking_->Close();
  }
  // Waits for logind's answer, never past the bound.
  bool Holding() const override {
    std::unique_lock<std::mutex> hold(taking_->mutex);
    taking_->done.wait_until(hold, deadline_, [this] { return taking_->finished; });
    return taking_->granted;
  }

 private:
  std::shared_ptr<Taking> taking_;
  const Clock::time_point deadline_;
};

void TakeLocks(std::shared_ptr<Taking> taking, std::string address,
               std::vector<InhibitRequest> requests, std::string why,
               Clock::time_point deadline) {
  std::vector<int> fds;
  const bool system = address.empty();
  if (BusAnswers(system ? SystemBusAddress() : address, deadline)) {
    static std::atomic<int> connections{0};
    const QString name = QStringLiteral("gps-inhibitor-%1").arg(++connections);
    QDBusConnection bus = system ? QDBusConnection::systemBus()
                                 : QDBusConnection::connectToBus(
                                       QString::fromStdString(address), name);
    if (bus.isConnected()) {
      for (const InhibitRequest& request : requests) {
        fds.push_back(CallInhibit(bus, request, why, deadline));
        if (fds.back() < 0) break;
      }
    }
    if (!system) QDBusConnection::disconnectFromBus(name);
  }
  std::lock_guard<std::mutex> hold(taking->mutex);
  taking->fds = std::move(fds);
  taking->granted = taking->fds.size() == requests.size() && !taking->fds.empty();
  for (int fd : taking->fds) taking->granted = taking->granted && fd >= 0;
  taking->finished = true;
  if (taking->released) taking->Close();
  taking->done.notify_all();
}

}  // namespace

std::vector<InhibitRequest> UpdateLocks() { return {{"sleep", "block"}, {"shutdown", "delay"}}; }

std::unique_ptr<SleepInhibitor> InhibitOnBus(const std::string& address,
                                             std::vector<InhibitRequest> requests,
                                             std::string_view why) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLogindBoundMs);
  auto taking = std::make_shared<Taking>();
  std::thread(TakeLocks, taking, address, std::move(requests), std::string(why), deadline)
      .detach();
  return std::make_unique<LogindHold>(taking, deadline);
}

std::unique_ptr<SleepInhibitor> InhibitSleepOnBus(const std::string& address,
                                                  std::string_view why) {
  return InhibitOnBus(address, {{"sleep", "block"}}, why);
}

std::unique_ptr<SleepInhibitor> SleepInhibitor::Acquire(std::string_view why) {
  return InhibitOnBus({}, UpdateLocks(), why);
}

}  // namespace gps
