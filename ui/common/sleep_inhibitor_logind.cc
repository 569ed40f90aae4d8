#include "ui/common/sleep_inhibitor_logind.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QString>
#include <QVariant>

#include <unistd.h>

#include <atomic>

namespace gps {
namespace {

// Holds logind's descriptor; closing it ends the lock.
class LogindHold : public SleepInhibitor {
 public:
  explicit LogindHold(int fd) : m_fd(fd) {}
  ~LogindHold() override {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool Holding() const override { return m_fd >= 0; }

 private:
  const int m_fd;
};

int CallInhibit(QDBusConnection bus, std::string_view why) {
  if (!bus.isConnected()) return -1;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << QStringLiteral("sleep") << QStringLiteral("gps-update")
       << QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size()))
       << QStringLiteral("block");
  const QDBusMessage reply = bus.call(call, QDBus::Block, kLogindCallTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return -1;
  const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
  // The reply's descriptor is closed with it; the hold keeps a copy.
  return fd.isValid() ? ::dup(fd.fileDescriptor()) : -1;
}

}  // namespace

std::unique_ptr<SleepInhibitor> InhibitSleepOnBus(const std::string& address,
                                                  std::string_view why) {
  if (address.empty()) {
    return std::make_unique<LogindHold>(CallInhibit(QDBusConnection::systemBus(), why));
  }
  static std::atomic<int> connections{0};
  const QString name = QStringLiteral("gps-sleep-inhibitor-%1").arg(++connections);
  const int fd =
      CallInhibit(QDBusConnection::connectToBus(QString::fromStdString(address), name), why);
  QDBusConnection::disconnectFromBus(name);
  return std::make_unique<LogindHold>(fd);
}

std::unique_ptr<SleepInhibitor> SleepInhibitor::Acquire(std::string_view why) {
  return InhibitSleepOnBus({}, why);
}

}  // namespace gps
