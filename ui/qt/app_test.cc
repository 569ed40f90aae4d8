// The program around the dialog, against the simulated device: what the
// system sends it (SIGTERM), what the system may fail to answer (the bus of
// the sleep inhibitor), and names from outside shown in its boxes.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLocalServer>
#include <QMimeData>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QUrl>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "protocol/messages.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"
#include "ui/common/guidance_texts.h"
#include "ui/qt/app.h"
#include "ui/qt/update_dlg.h"

namespace gps {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* Status(CUpdateDlg& dialog) { return dialog.findChild<QLabel*>("status"); }

void WriteFile(const QString& name, qint64 size) {
  QFile file(name);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QVERIFY(file.resize(size));
}

}  // namespace

class AppTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    folder_.emplace("qt-app");
    // The program's single-instance lock goes into the test's folder.
    qputenv("GPS_UPDATE_LOCK_PARENT", Folder().toUtf8());
  }

  void cleanup() {
    qunsetenv("GPS_UPDATE_LOCK_PARENT");
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    folder_.reset();
  }

  // A name with markup in it is shown as the characters it is made of.
  void AMarkupNameIsShownAsPlainText() {
    const QString name = QStringLiteral("<h1><font color=green>更新成功! 設備已更新.bin");
    test::SimRig rig;
    CUpdateDlg dialog(rig.link, QDir::current().filePath(name).toStdString(), true);
    dialog.show();
    QTest::mouseClick(dialog.findChild<QPushButton*>("update"), Qt::LeftButton);
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = dialog.findChild<QMessageBox*>("message")) != nullptr && box->isVisible());
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->text(), Q(text::kCantFindPrefix) + name);
    box->accept();
    QCOMPARE(rig.device.OutputReportCount(), 0u);
  }

  // SIGTERM while the flash is written (a logout, a shutdown, kill): the
  // update stops at its next report with the device closed, the stop text
  // shows, and the program ends with 128 + SIGTERM.
  void SigtermMidWriteStopsLikeTheCommandLine() {
    WriteFile("code_data.bin", 2 * 1024 * 1024);
    AppOptions options;
    options.simulate = true;
    bool written = false;
    QString last;
    bool devicesClosed = false;
    AppHooks hooks;
    hooks.runDialog = [&](CUpdateDlg& dialog) {
      dialog.show();
      QTest::mouseClick(dialog.findChild<QPushButton*>("update"), Qt::LeftButton);
      written = QTest::qWaitFor(
          [&] { return Status(dialog)->text() == Q(text::kWritingDatabase); }, 30000);
      if (written) ::kill(::getpid(), SIGTERM);
      const bool closed = QTest::qWaitFor([&] { return !dialog.isVisible(); }, 10000);
      last = Status(dialog)->text();
      devicesClosed = closed && !dialog.IsUpdating();
      return 0;
    };
    const int status = RunUpdateApp(options, hooks);
    QVERIFY(written);
    QCOMPARE(last, Q(text::kUpdateStopped));
    QVERIFY(devicesClosed);
    QCOMPARE(status, 128 + SIGTERM);
  }

  // A system bus that takes the connection and never answers holds up
  // neither the dialog nor the update.
  void ASilentSystemBusHoldsNothing() {
    QLocalServer silent;  // listens, and never says a word
    QVERIFY(silent.listen(Folder() + "/silent-bus"));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + silent.fullServerName()).toUtf8());
    WriteFile("code_data.bin", 5000);
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(dialog.findChild<QPushButton*>("update"), Qt::LeftButton);
    QVERIFY2(clock.elapsed() < 500, "the UI thread waited on the bus");
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Succeeded);
  }

  // A dropped file whose name is not UTF-8 (Big5, as unzip leaves it) is
  // the very file written; a dropped folder stands for its code_data.bin.
  void ADroppedBig5NameIsTheFileWritten() {
    const std::string raw = Folder().toStdString() + "/\xa7\xf3\xb7\x73.bin";  // 更新 in Big5
    std::ofstream(raw, std::ios::binary) << std::string(5000, 'x');
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    dialog.show();
    auto drop = [&dialog](const QByteArray& url) {
      QMimeData data;
      data.setUrls({QUrl::fromEncoded(url)});
      QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&dialog, &enter);
      if (!enter.isAccepted()) return false;
      QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&dialog, &dropped);
      return true;
    };
    QVERIFY(drop("file://" + QUrl::toPercentEncoding(Folder(), "/")));
    QVERIFY(dialog.findChild<QLabel*>("progress_line")->text().startsWith("找不到 code_data.bin"));
    QVERIFY(drop("file://" + QByteArray::fromStdString(raw).toPercentEncoding("/")));
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(dialog.findChild<QPushButton*>("update"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Succeeded);
  }

 private:
  QString Folder() const { return QString::fromStdString(folder_->path().string()); }

  std::optional<test::WorkingTempFolder> folder_;
};

}  // namespace gps

QTEST_MAIN(gps::AppTest)
#include "app_test.moc"
