// The logind hold against a bus of the test's own (a private dbus-daemon)
// with a stand-in for logind on it.
#include "ui/common/sleep_inhibitor_logind.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <vector>

namespace gps {

// Answers Inhibit as logind does: with a descriptor whose closing ends the
// lock. Here it is the write end of a pipe, so the test sees the lock end as
// the end of the pipe.
class FakeLogind : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

 public:
  explicit FakeLogind(bool refuse) : refuse_(refuse) {}
  ~FakeLogind() override {
    for (int fd : readEnds_) ::close(fd);
  }
  // The read end of the first lock's pipe; -1 before one was taken.
  int ReadEnd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readEnds_.empty() ? -1 : readEnds_.front();
  }
  QStringList Arguments() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return arguments_;
  }
  // "what mode" of every call, in order.
  QStringList Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 public slots:
  QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                  const QString& mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (arguments_.isEmpty()) arguments_ = {what, who, why, mode};
    calls_ << what + " " + mode;
    if (refuse_) {
      sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied"));
      return {};
    }
    int ends[2];
    if (::pipe(ends) != 0) return {};
    readEnds_.push_back(ends[0]);
    QDBusUnixFileDescriptor fd(ends[1]);  // a copy of its own
    ::close(ends[1]);
    return fd;
  }

 private:
  const bool refuse_;
  mutable std::mutex mutex_;
  QStringList arguments_;
  QStringList calls_;
  std::vector<int> readEnds_;
};

namespace {

// A private bus, with the stand-in registered on it from a thread of its own
// (the hold's call blocks the test's thread).
class PrivateBus : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_.start(QStringLiteral(GPS_DBUS_DAEMON),
                   {"--session", "--nofork", "--nopidfile", "--print-address"});
    ASSERT_TRUE(daemon_.waitForStarted(5000));
    QElapsedTimer waited;
    waited.start();
    while (!daemon_.canReadLine() && waited.elapsed() < 5000) daemon_.waitForReadyRead(100);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    ASSERT_FALSE(address_.isEmpty());
    thread_.start();
  }
  void TearDown() override {
    if (logind_) {
      QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
      // Deleted on its own thread before the thread is told to quit: a
      // deleteLater could still be queued when the loop ends, and leak.
      FakeLogind* logind = logind_;
      QMetaObject::invokeMethod(logind_, [logind] { delete logind; }, Qt::BlockingQueuedConnection);
      logind_ = nullptr;
    }
    thread_.quit();
    thread_.wait(5000);
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }
  FakeLogind& StartLogind(bool refuse = false) {
    logind_ = new FakeLogind(refuse);
    logind_->moveToThread(&thread_);
    QDBusConnection bus =
        QDBusConnection::connectToBus(address_, QStringLiteral("fake-logind"));
    EXPECT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), logind_,
                                   QDBusConnection::ExportAllSlots));
    EXPECT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    return *logind_;
  }
  std::string Address() const { return address_.toStdString(); }

  QProcess daemon_;
  QString address_;
  QThread thread_;
  FakeLogind* logind_ = nullptr;
};

// True when the pipe's write end is closed everywhere within `waitMs`: the
// lock has ended. (The bus may still hold a copy of the descriptor for a
// moment after the reply went out.)
bool LockEnded(int readEnd, int waitMs) {
  pollfd p{readEnd, POLLIN, 0};
  if (::poll(&p, 1, waitMs) != 1) return false;
  char c;
  return ::read(readEnd, &c, 1) == 0;
}

TEST_F(PrivateBus, HoldsLogindsSleepLockUntilReleased) {
  FakeLogind& logind = StartLogind();
  auto hold = InhibitSleepOnBus(Address(), kKeepAwakeReason);
  ASSERT_TRUE(hold->Holding());
  EXPECT_EQ(logind.Arguments(),
            QStringList({"sleep", "gps-update", QString::fromUtf8(kKeepAwakeReason.data()),
                         "block"}));
  ASSERT_GE(logind.ReadEnd(), 0);
  EXPECT_FALSE(LockEnded(logind.ReadEnd(), 200));
  hold.reset();
  EXPECT_TRUE(LockEnded(logind.ReadEnd(), 5000));
}

// An update's hold: sleep blocked, a shutdown or logout delayed until the
// update has stopped.
TEST_F(PrivateBus, AnUpdateAlsoDelaysShutdown) {
  FakeLogind& logind = StartLogind();
  auto hold = InhibitOnBus(Address(), UpdateLocks(), kKeepAwakeReason);
  ASSERT_TRUE(hold->Holding());
  EXPECT_EQ(logind.Calls(), QStringList({"sleep block", "shutdown delay"}));
}

TEST_F(PrivateBus, GoesOnWithoutALock) {
  QElapsedTimer took;
  took.start();
  // No logind on the bus, as in a container.
  EXPECT_FALSE(InhibitSleepOnBus(Address(), kKeepAwakeReason)->Holding());
  // No bus at all.
  EXPECT_FALSE(InhibitSleepOnBus("unix:path=/nonexistent/bus", kKeepAwakeReason)->Holding());
  // logind there, but the user may not take the lock.
  StartLogind(/*refuse=*/true);
  EXPECT_FALSE(InhibitSleepOnBus(Address(), kKeepAwakeReason)->Holding());
  // None of them is waited for.
  EXPECT_LT(took.elapsed(), kLogindCallTimeoutMs);
}

// A bus that accepts the connection and then says nothing: taking the hold
// costs the caller nothing, and the answer is given up within the bound.
TEST(SilentBus, IsNotWaitedFor) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = (dir.path() + "/silent-bus").toStdString();
  const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  std::snprintf(where.sun_path, sizeof where.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
  ASSERT_EQ(::listen(server, 8), 0);  // connections wait in the backlog, unanswered

  QElapsedTimer took;
  took.start();
  auto hold = InhibitOnBus("unix:path=" + path, UpdateLocks(), kKeepAwakeReason);
  EXPECT_LT(took.elapsed(), 100);  // returned at once
  EXPECT_FALSE(hold->Holding());
  EXPECT_LT(took.elapsed(), kLogindBoundMs + 500);
  hold.reset();
  ::close(server);
}

}  // namespace
}  // namespace gps

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "sleep_inhibitor_logind_test.moc"
