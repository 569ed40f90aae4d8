// The desktop dialog on the offscreen platform, against the simulated device.
//
// Run with no arguments it is the QTest program. Run as
// `gps_qt_tests --as-program [ARGS]` it is the program itself (its guard,
// probe and dialog), printing instead of showing boxes: the second-instance
// test starts it as a child.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/sim_device.h"
#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "res/version.h"
#include "tests/temp_folder.h"
#include "tests/test_support.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/fill_in.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/instance_guard.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/app.h"
#include "ui/qt/dialog_reporter.h"
#include "ui/qt/update_dlg.h"

namespace gps {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::vector<uint8_t> Image(uint32_t size) {
  std::vector<uint8_t> image(size);
  for (uint32_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 131 + (i >> 8));
  return image;
}

void WriteImage(const std::vector<uint8_t>& image, const QString& name = "code_data.bin") {
  QFile file(name);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
}

// A device whose erase takes `steps` messages `gapMs` apart.
SimConfig PacedDevice(int steps, int gapMs) {
  SimConfig config;
  for (int i = 1; i <= steps; ++i) config.progress.push_back(static_cast<uint32_t>(i * 100 / steps));
  config.progressGap = std::chrono::milliseconds(gapMs);
  return config;
}

// What the user saw, in order: "status:…", "range:N" and "pos:N" lines.
struct Observer {
  explicit Observer(CUpdateDlg& dialog) {
    DialogReporter& reporter = dialog.Reporter();
    QObject::connect(&reporter, &DialogReporter::StatusShown, &reporter,
                     [this](const QString& text) { seen << "status:" + text; });
    QObject::connect(&reporter, &DialogReporter::RangeShown, &reporter,
                     [this](uint32_t upper) { seen << QStringLiteral("range:%1").arg(upper); });
    QObject::connect(dialog.findChild<QProgressBar*>("progress"), &QProgressBar::valueChanged,
                     &reporter, [this](int value) { seen << QStringLiteral("pos:%1").arg(value); });
  }
  QStringList Only(const QString& kind) const {
    QStringList out;
    for (const QString& line : seen)
      if (line.startsWith(kind)) out << line.mid(kind.size());
    return out;
  }
  QStringList seen;
};

QLabel* Status(CUpdateDlg& dialog) { return dialog.findChild<QLabel*>("status"); }
QPushButton* Button(QWidget& dialog, const char* name) {
  return dialog.findChild<QPushButton*>(name);
}

// The visible box of that object name among the dialog's children, if any.
// Saves what the dialog shows as NAME.png in $GPS_SCREENSHOT_DIR (ctest
// sets it: build/<preset>/ui/qt/screenshots), for a person to look at.
void Screenshot(QWidget& dialog, const QString& name) {
  const QString dir = qEnvironmentVariable("GPS_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  QVERIFY(dialog.grab().save(dir + "/" + name + ".png"));
}

QString ProgressLine(QWidget& dialog) {
  return dialog.findChild<QLabel*>("progress_line")->text();
}

QMessageBox* OpenBox(QWidget& dialog, const char* name) {
  for (QMessageBox* box : dialog.findChildren<QMessageBox*>(name))
    if (box->isVisible()) return box;
  return nullptr;
}

QPushButton* BoxButton(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->text() == text) return qobject_cast<QPushButton*>(b);
  return nullptr;
}

// A bus that counts what the UI thread asks of it: looks at the device list
// and opens of the device.
class WatchedBus : public ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;
  std::vector<std::string> EnumerateInterfaces() override {
    if (OnUiThread()) ++uiLooks;
    return ForwardingBackend::EnumerateInterfaces();
  }
  HidOpenResult OpenData(const std::string& path, HidAccess access) override {
    if (OnUiThread()) ++uiOpens;
    return ForwardingBackend::OpenData(path, access);
  }

  std::atomic<int> uiLooks{0};
  std::atomic<int> uiOpens{0};

 private:
  static bool OnUiThread() { return QThread::currentThread() == qApp->thread(); }
};

// Holds the worker's first look at the device list (before it reads the
// file) until the test releases it.
class HeldWorker : public ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;
  std::vector<std::string> EnumerateInterfaces() override {
    if (QThread::currentThread() != qApp->thread()) {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_released; });
    }
    return ForwardingBackend::EnumerateInterfaces();
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_released = true;
    }
    m_changed.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_released = false;
};

// Lets the erase monitor read the device's next message only once the bar
// has shown the position the job took from the one before. However far the
// UI thread falls behind, the positions then cannot pile up and be merged
// into the latest, so a test can expect every one of them.
class ShownBeforeNextRead : public ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;

  void Watch(QProgressBar& bar) {
    QObject::connect(&bar, &QProgressBar::valueChanged, &bar, [this](int value) {
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shown = value;
      }
      m_changed.notify_all();
    });
  }

  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
    if (direction == HidDirection::Read && m_awaited) {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_shown == *m_awaited; });
    }
    const TransferResult result =
        ForwardingBackend::Transfer(handle, direction, buffer, length, boundMs, stop);
    if (direction == HidDirection::Read) {
      m_awaited.reset();
      const bool progress = result.status == TransferStatus::Completed && result.count >= 5 &&
                            std::memcmp(buffer + 1, "over", 4) != 0;
      if (progress) m_awaited = buffer[1] | buffer[2] << 8 | buffer[3] << 16 | buffer[4] << 24;
    }
    return result;
  }

 private:
  std::optional<int> m_awaited;  // worker thread only
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_shown = 0;
};

}  // namespace

class UpdateDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_folder.emplace("qt-dialog");
  }

  void cleanup() {
    m_folder.reset();
  }

  void ProbeShowsWhatItFound_data() {
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<int>("refusal");
    QTest::addColumn<QString>("text");
    QTest::newRow("present") << true << false << 0 << Q(text::kDeviceConnected);
    QTest::newRow("absent") << false << false << 0 << Q(text::kDeviceConnectFailed);
    QTest::newRow("no permission") << true << true << int(HidOpenError::AccessDenied)
                                   << Q(text::kDeviceNoPermission);
    QTest::newRow("held by another program")
        << true << true << int(HidOpenError::Busy) << Q(text::kDeviceBusy);
  }

  void ProbeShowsWhatItFound() {
    QFETCH(bool, plugged);
    QFETCH(bool, refuse);
    QFETCH(int, refusal);
    QFETCH(QString, text);
    SimConfig config;
    config.faults.refuseReadOpen = refuse;
    config.faults.refusal = static_cast<HidOpenError>(refusal);
    test::SimRig rig(config);
    if (!plugged) rig.device.Unplug();
    CUpdateDlg dialog(rig.link);
    QCOMPARE(Status(dialog)->text(), text);
    QCOMPARE(rig.bus.OpenHandles(), 0u);  // nothing stays open once the dialog is up
    QVERIFY(Button(dialog, "update")->isEnabled());
  }

  // The whole update as the user sees it: every status text and range the
  // job set, and its positions (the UI may skip some, never reorder them),
  // in the job's order; the button disabled meanwhile; "更新成功!" at the end.
  // The erase's messages are handed over only as the bar shows them, so
  // that every one of its positions can be expected, however slow the UI
  // thread (under a sanitizer, its first requests alone may outlast a timed
  // erase, whose messages then arrive at once and merge into the last).
  void WholeUpdateShowsEveryStepInOrder() {
    const auto image = Image(5000);  // 2 sectors, 20 pages
    WriteImage(image);
    const SimConfig config = PacedDevice(10, 0);

    test::SimRig reference(config);
    test::RecordingReporter recorder;
    QCOMPARE(UpdateJob(recorder, reference.link).LoadAndUpdate("code_data.bin"),
             UpdateOutcome::Succeeded);
    QStringList expected;
    for (const std::string& e : recorder.events) expected << QString::fromStdString(e);

    test::SimRig rig(config);
    ShownBeforeNextRead gate(rig.bus);
    LinkSettings link = rig.link;
    link.backend = &gate;
    CUpdateDlg dialog(link);
    gate.Watch(*dialog.findChild<QProgressBar*>("progress"));
    dialog.show();
    Observer observer(dialog);
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QPushButton* update = Button(dialog, "update");
    QTest::mouseClick(update, Qt::LeftButton);
    QVERIFY(dialog.IsUpdating());
    QVERIFY(!update->isEnabled());
    QTest::mouseClick(update, Qt::LeftButton);  // ignored: one update at a time
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Succeeded);
    QVERIFY(update->isEnabled());

    QCOMPARE(Status(dialog)->text(), Q(text::kUpdateSucceeded));
    QCOMPARE(rig.device.Restarts(), 1);
    const auto written = rig.device.ReadFlash(DATABASE_ADDRESS, static_cast<uint32_t>(image.size()));
    QVERIFY(written == image);

    // Every text and range, in order; the bar's values a subsequence of the
    // job's positions.
    QStringList expectedShown;
    for (const QString& e : expected)
      if (e.startsWith("status:") || e.startsWith("range:")) expectedShown << e;
    QStringList seenShown;
    for (const QString& e : observer.seen)
      if (e.startsWith("status:") || e.startsWith("range:")) seenShown << e;
    QCOMPARE(seenShown, expectedShown);
    qsizetype at = 0;
    for (const QString& e : observer.seen) {
      while (at < expected.size() && expected[at] != e) ++at;
      QVERIFY2(at < expected.size(), qPrintable("shown out of the job's order: " + e +
                                                "\nshown: " + observer.seen.join(' ')));
      ++at;
    }
    // The erase's progress was shown as it went, every step of it.
    QStringList erasePositions;
    for (const QString& e : observer.seen.mid(0, observer.seen.indexOf("range:20")))
      if (e.startsWith("pos:") && e != "pos:0") erasePositions << e;
    QCOMPARE(erasePositions.mid(0, 10),
             QStringList({"pos:10", "pos:20", "pos:30", "pos:40", "pos:50", "pos:60", "pos:70",
                          "pos:80", "pos:90", "pos:100"}));
  }

  void UnplugDuringPageWriteEndsWithItsTexts() {
    WriteImage(Image(5000));
    SimConfig config;
    config.faults.unplugAfterReports = 10;  // erase, write command, 8 data reports
    test::SimRig rig(config);
    CUpdateDlg dialog(rig.link);
    dialog.show();
    Observer observer(dialog);
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::WriteFailed);
    QCOMPARE(observer.Only("status:").mid(observer.Only("status:").size() - 3),
             QStringList({Q(text::kWritingDatabase), Q(text::kWriteDataError),
                          Q(text::kDatabaseWriteFailed)}));
    // The bar stays where the write got to, as the write showed it: of 20
    // pages, two were sent whole.
    QCOMPARE(dialog.findChild<QProgressBar*>("progress")->maximum(), 20);
    QCOMPARE(dialog.findChild<QProgressBar*>("progress")->value(), 3);
    QVERIFY(Button(dialog, "update")->isEnabled());
    QCOMPARE(rig.device.Restarts(), 0);
    // The status line reads as a failure, the line under it says where the
    // update stopped, and a box says what it means and what to do.
    QVERIFY(Status(dialog)->styleSheet().contains("color"));
    QVERIFY2(ProgressLine(dialog).startsWith("更新停止於步驟 2/2 寫入中 "),
             qPrintable(ProgressLine(dialog)));
    QMessageBox* advice = nullptr;
    QTRY_VERIFY((advice = OpenBox(dialog, "failure_advice")) != nullptr);
    QCOMPARE(advice->text(), Q(FillIn(text::kAdviceIncomplete, {{"%again%", text::kAgainDialog}})));
    Screenshot(dialog, "failure-halfway");
    Screenshot(*advice, "failure-halfway-advice");
    advice->accept();
  }

  // The line under the status line: the file before, the whole job's step,
  // percentage and a warning not to unplug during, the time taken after; the
  // window title carries the percentage.
  void TheProgressLineFollowsTheWholeJob() {
    WriteImage(Image(5000));
    test::SimRig rig(PacedDevice(10, 30));
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QVERIFY2(ProgressLine(dialog).startsWith("檔案: code_data.bin ("), qPrintable(ProgressLine(dialog)));
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_VERIFY(ProgressLine(dialog).startsWith("步驟 1/2 清除中 "));
    QVERIFY(ProgressLine(dialog).endsWith("更新中，請勿拔除設備"));
    Screenshot(dialog, "in-progress");
    QVERIFY2(QRegularExpression("^\\d+% - ").match(dialog.windowTitle()).hasMatch(),
             qPrintable(dialog.windowTitle()));
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Succeeded);
    QVERIFY2(ProgressLine(dialog).startsWith("更新完成，共用時 "), qPrintable(ProgressLine(dialog)));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("道路安全警示系統更新介面"));
    QVERIFY(Status(dialog)->styleSheet().isEmpty());
    QVERIFY(!OpenBox(dialog, "failure_advice"));
  }

  // Once the job has run long enough to know its pace, the line tells the
  // time left (the picture of an update in progress for the README).
  void TheTimeLeftShowsOnceThePaceIsKnown() {
    WriteImage(Image(5000));
    test::SimRig rig(PacedDevice(20, 600));  // a 12 s erase
    LinkSettings link = rig.link;
    link.bounds.readMs = 5000;  // each erase message comes after 600 ms
    CUpdateDlg dialog(link);
    dialog.show();
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(ProgressLine(dialog).contains("，剩餘約 "), qPrintable(ProgressLine(dialog) + " / " + Status(dialog)->text()), 20000);
    QVERIFY2(ProgressLine(dialog).startsWith("步驟 1/2 清除中 "), qPrintable(ProgressLine(dialog)));
    Screenshot(dialog, "in-progress-time-left");
    // The dialog stops the update as it goes.
  }

  // "更新" with no device says so and starts nothing: nothing is sent and
  // the button stays usable.
  void UpdateWithoutADeviceStartsNothing() {
    WriteImage(Image(5000));
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QCOMPARE(Status(dialog)->text(), Q(text::kDeviceConnected));
    rig.device.Unplug();  // before the dialog looked again
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QCOMPARE(Status(dialog)->text(), Q(text::kDeviceConnectFailed));
    Screenshot(dialog, "no-device-update-pressed");
    QVERIFY(!dialog.IsUpdating());
    QVERIFY(Button(dialog, "update")->isEnabled());
    QCOMPARE(finished.size(), 0);
    QCOMPARE(rig.device.OutputReportCount(), 0u);
  }

  // The file "更新" writes: a browser's newer download beside the default
  // file is named on the file line and offered before the update; a file
  // dropped on the window, or picked with "選擇檔案…", is taken as it is.
  void TheFileComesFromTheOfferADropOrTheFileDialog() {
    const std::vector<uint8_t> old(1000, 0x11);
    const std::vector<uint8_t> download = Image(3000);
    WriteImage(old);
    WriteImage(download, "code_data (1).bin");
    const auto now = std::filesystem::file_time_type::clock::now();
    std::filesystem::last_write_time("code_data.bin", now - std::chrono::hours(2));
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QVERIFY2(ProgressLine(dialog).startsWith("檔案: code_data.bin (1000 位元組, ") &&
                 ProgressLine(dialog).endsWith("；資料夾中有較新的 code_data (1).bin"),
             qPrintable(ProgressLine(dialog)));
    Screenshot(dialog, "file-line");

    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QMessageBox* offer = nullptr;
    QTRY_VERIFY((offer = OpenBox(dialog, "offer_question")) != nullptr);
    QVERIFY(!dialog.IsUpdating());  // nothing starts before the answer
    QCOMPARE(offer->buttons().size(), 3);
    QVERIFY(BoxButton(offer, "使用 code_data.bin"));
    QVERIFY(BoxButton(offer, "取消"));
    Screenshot(*offer, "offer-question");
    QTest::mouseClick(BoxButton(offer, "使用這個檔案"), Qt::LeftButton);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Succeeded);
    QCOMPARE(rig.device.ReadFlash(DATABASE_ADDRESS, 3000), download);
    // From now on the download is the file, and nothing more is asked.
    QTRY_VERIFY2(ProgressLine(dialog).startsWith("更新完成"), qPrintable(ProgressLine(dialog)));

    // A dropped file.
    QVERIFY(QDir().mkdir("elsewhere"));
    WriteImage(Image(700), "elsewhere/dropped.bin");
    QMimeData dragged;
    dragged.setUrls({QUrl::fromLocalFile(QDir::current().filePath("elsewhere/dropped.bin"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
    QVERIFY2(ProgressLine(dialog).startsWith("檔案: dropped.bin (700 位元組, "),
             qPrintable(ProgressLine(dialog)));

    // "選擇檔案…" opens in the current file's folder and takes what is picked.
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20),
                            dialog.mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(&dialog, &event);
    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = dialog.findChild<QMenu*>("context_menu")) && menu->isVisible());
    QAction* choose = menu->findChild<QAction*>("choose_file");
    QVERIFY(choose && choose->isEnabled());
    choose->trigger();
    menu->close();
    QFileDialog* chooser = nullptr;
    QTRY_VERIFY((chooser = dialog.findChild<QFileDialog*>("file_dialog")) && chooser->isVisible());
    QCOMPARE(QDir(chooser->directory()).canonicalPath(),
             QDir(QDir::current().filePath("elsewhere")).canonicalPath());
    chooser->selectFile(QDir::current().filePath("code_data.bin"));
    QMetaObject::invokeMethod(chooser, "accept");
    QTRY_VERIFY2(ProgressLine(dialog).startsWith("檔案: code_data.bin (1000 位元組, "),
                 qPrintable(ProgressLine(dialog)));
    // Named by the user, the file is written without a question.
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_COMPARE(finished.size(), 2);
    QVERIFY(!OpenBox(dialog, "offer_question"));
    QCOMPARE(rig.device.ReadFlash(DATABASE_ADDRESS, 1000), old);
  }

  // Two devices: the status line says so, and the update keeps to the first
  // one even when it leaves before its header and the second one is there.
  void SeveralDevicesTheFirstIsUpdatedAlone() {
    WriteImage(Image(5000));
    SimConfig config;
    config.faults.unplugAfterReports = 82;  // erase, write command, 80 data reports
    SimDevice first(config), second;
    SimBus bus;
    bus.AddDevice(first, "sim:1");
    bus.AddDevice(second, "sim:2");
    LinkSettings link;
    link.backend = &bus;
    link.bounds = test::ShortBounds();
    CUpdateDlg dialog(link);
    QCOMPARE(Status(dialog)->text(), QString::fromStdString(text::DeviceStatusText(
                                         text::kDeviceConnected, 2)));
    QVERIFY(Status(dialog)->text().contains("gps-update-cli --all"));
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::EraseFailed);
    QCOMPARE(second.OutputReportCount(), 0u);
    QCOMPARE(bus.OpenHandles(), 0u);
  }

  // A file "更新" cannot write is refused before anything starts or is
  // sent, and before it is read: missing or empty, a box captioned with the
  // program's name with one "確定" and no icon, the probe's text staying; too
  // large (a sparse 3 GiB file, refused by its size alone), the status line
  // as a failure and the size against the limit in a warning.
  void ARefusedFileStartsNothing_data() {
    QTest::addColumn<qint64>("size");  // -1: no file
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    QTest::newRow("missing") << qint64(-1) << "message" << "Can't find code_data.bin"
                             << Q(text::kDeviceConnected);
    QTest::newRow("empty") << qint64(0) << "message"
                           << Q(text::kFileEmptyPrefix) + "code_data.bin" + Q(text::kFileEmptySuffix)
                           << Q(text::kDeviceConnected);
    QTest::newRow("3 GiB") << (qint64(3) << 30) << "failure_advice"
                           << Q(FillIn(text::kTooLargeAdvice, {{"%name%", "code_data.bin"},
                                                               {"%size%", "3,221,225,472"},
                                                               {"%limit%", "16,736,256"}}))
                           << Q(text::kTooMuchData);
  }

  void ARefusedFileStartsNothing() {
    QFETCH(qint64, size);
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QString, status);
    if (size >= 0) {
      QFile file("code_data.bin");
      QVERIFY(file.open(QIODevice::WriteOnly));
      QVERIFY(file.resize(size));
    }
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QVERIFY2(clock.elapsed() < 1000, "the file was read");
    QVERIFY(!dialog.IsUpdating());
    QMessageBox* shown = nullptr;
    QTRY_VERIFY((shown = OpenBox(dialog, box.toUtf8().constData())) != nullptr);
    QCOMPARE(shown->text(), text);
    QCOMPARE(shown->windowTitle(), QStringLiteral("gps-update"));
    QCOMPARE(shown->buttons().size(), 1);
    QCOMPARE(shown->icon(), size > 0 ? QMessageBox::Warning : QMessageBox::NoIcon);
    QCOMPARE(Status(dialog)->text(), status);
    QCOMPARE(Status(dialog)->styleSheet().contains("color"), size > 0);
    if (size < 0) Screenshot(*shown, "missing-file");
    shown->accept();
    QTRY_VERIFY(!OpenBox(dialog, box.toUtf8().constData()));
    QVERIFY(Button(dialog, "update")->isEnabled());
    QCOMPARE(finished.size(), 0);
    QCOMPARE(rig.device.OutputReportCount(), 0u);
  }

  // A close asks first; "繼續更新" leaves the update running, "中斷更新"
  // stops it at once and closes when the worker has ended.
  void CloseDuringUpdateAsksThenStops() {
    WriteImage(Image(5000));
    test::SimRig rig(PacedDevice(100, 50));  // a 5 s erase
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kErasing));

    dialog.reject();  // Esc
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = OpenBox(dialog, "confirm_close")) != nullptr);
    QTest::mouseClick(BoxButton(box, "繼續更新"), Qt::LeftButton);
    QTRY_VERIFY(!OpenBox(dialog, "confirm_close"));
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.IsUpdating());

    dialog.close();  // the close box
    QTRY_VERIFY((box = OpenBox(dialog, "confirm_close")) != nullptr);
    QElapsedTimer clock;
    clock.start();
    Screenshot(*box, "user-stop-question");
    QTest::mouseClick(BoxButton(box, "中斷更新"), Qt::LeftButton);
    QTRY_VERIFY(!dialog.isVisible());
    QCOMPARE(Status(dialog)->text(), Q(text::kUpdateStopped));
    QVERIFY2(clock.elapsed() < 2000, "the stop did not end the erase wait");
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::EraseFailed);
    QVERIFY(!dialog.IsUpdating());
    QCOMPARE(rig.device.Restarts(), 0);
    QCOMPARE(rig.bus.OpenHandles(), 0u);
  }

  // An update that ends while the close question is open takes the question
  // away: the user reads the update's last text, and the dialog stays.
  void UpdateEndingUnderTheCloseQuestionTakesItAway() {
    WriteImage(Image(1000));
    test::SimRig rig(PacedDevice(10, 50));  // a half-second erase
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kErasing));
    dialog.reject();
    QTRY_VERIFY(OpenBox(dialog, "confirm_close") != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QTRY_VERIFY(!OpenBox(dialog, "confirm_close"));
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Succeeded);
    QCOMPARE(Status(dialog)->text(), Q(text::kUpdateSucceeded));
    QVERIFY(dialog.isVisible());
    QVERIFY(Button(dialog, "update")->isEnabled());
    QCOMPARE(rig.device.Restarts(), 1);
    dialog.reject();  // no update runs now: it closes at once
    QTRY_VERIFY(!dialog.isVisible());
  }

  // The dialog going away under a running worker neither hangs nor lets the
  // worker touch it: during the erase, and while the worker waits on a box
  // (the file went between "更新" and the job's read of it).
  void DestroyedDuringUpdate_data() {
    QTest::addColumn<bool>("fileStays");
    QTest::newRow("erasing") << true;
    QTest::newRow("waiting on a message box") << false;
  }

  void DestroyedDuringUpdate() {
    QFETCH(bool, fileStays);
    WriteImage(Image(5000));
    test::SimRig rig(PacedDevice(100, 50));
    HeldWorker held(rig.bus);
    LinkSettings link = rig.link;
    link.backend = &held;
    auto dialog = std::make_unique<CUpdateDlg>(link);
    dialog->show();
    QTest::mouseClick(Button(*dialog, "update"), Qt::LeftButton);
    QVERIFY(dialog->IsUpdating());
    if (!fileStays) QVERIFY(QFile::remove("code_data.bin"));
    held.Release();
    if (fileStays)
      QTRY_COMPARE(Status(*dialog)->text(), Q(text::kErasing));
    else
      QTRY_VERIFY(OpenBox(*dialog, "message"));
    QElapsedTimer clock;
    clock.start();
    dialog.reset();
    QVERIFY(clock.elapsed() < 2000);
    QCOMPARE(rig.bus.OpenHandles(), 0u);
  }

  // The About box comes from the context menu's entry (by its mnemonic), is
  // modal over the dialog, and the update goes on showing behind it.
  void AboutFromContextMenuDuringUpdate() {
    WriteImage(Image(5000));
    test::SimRig rig(PacedDevice(10, 30));
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kErasing));

    QPointer<CAboutDlg> first;
    for (int round = 0; round < 2; ++round) {
      QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20),
                              dialog.mapToGlobal(QPoint(20, 20)));
      QApplication::sendEvent(&dialog, &event);
      QPointer<QMenu> menu;
      QTRY_VERIFY((menu = dialog.findChild<QMenu*>("context_menu")) && menu->isVisible());
      // Beside About, the file choice, which waits while the update runs
      // (the second round comes after it).
      QCOMPARE(menu->actions().size(), 2);
      QCOMPARE(menu->actions().at(0)->text(), Q(text::kChooseFile));
      QCOMPARE(menu->actions().at(0)->isEnabled(), round == 1);
      QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("關於 Update(&A)..."));
      QTest::keyClick(menu, Qt::Key_A);
      QPointer<CAboutDlg> about;
      QTRY_VERIFY((about = dialog.findChild<CAboutDlg*>()) && about->isVisible());
      QVERIFY(about != first);  // a fresh box each time
      QCOMPARE(about->windowTitle(), QStringLiteral("關於 Update"));
      QCOMPARE(about->findChild<QLabel*>("version")->text(), QStringLiteral("Update 1.0 版"));
      QVERIFY(!about->findChild<QLabel*>("purpose")->text().isEmpty());
      QCOMPARE(about->findChild<QLabel*>("licence")->text(), QStringLiteral("以 MIT 授權條款發行"));
      QVERIFY(!about->findChild<QLabel*>("icon")->pixmap().isNull());
      QVERIFY(about->isModal());
      if (round == 0) {
        // Served behind the box: the update runs to its end.
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(Status(dialog)->text(), Q(text::kUpdateSucceeded));
        QVERIFY(about->isVisible());
        first = about;
      }
      QTest::mouseClick(about->findChild<QPushButton*>("ok"), Qt::LeftButton);
      QTRY_VERIFY(!about);  // closed and gone
    }
  }

  // While the dialog waits, the status line follows the device; only a
  // change in the device list leads to opening it.
  void FollowsTheDeviceWhileIdle() {
    test::SimRig rig;
    rig.device.Unplug();
    WatchedBus bus(rig.bus);
    LinkSettings link = rig.link;
    link.backend = &bus;
    CUpdateDlg dialog(link);
    dialog.SetDeviceWatchInterval(20);
    QSignalSpy looked(&dialog, &CUpdateDlg::DeviceListLooked);
    QCOMPARE(Status(dialog)->text(), Q(text::kDeviceConnectFailed));

    rig.device.Plug();
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kDeviceConnected));
    QCOMPARE(rig.bus.OpenHandles(), 0u);
    const int opens = bus.uiOpens;
    looked.clear();
    QTRY_VERIFY(looked.size() >= 5);
    QCOMPARE(bus.uiOpens.load(), opens);  // no change, no open

    rig.device.Unplug();
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kDeviceConnectFailed));
    rig.device.Plug();
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kDeviceConnected));
  }

  // udev grants the user's access a moment after the device appears: a
  // device that arrives without permission is looked at again for a while.
  void ArrivalGetsItsPermissionLate() {
    test::SimRig rig;
    rig.device.Unplug();
    SimFaults refused;
    refused.refuseReadOpen = true;
    refused.refusal = HidOpenError::AccessDenied;
    rig.device.SetFaults(refused);
    CUpdateDlg dialog(rig.link);
    dialog.SetDeviceWatchInterval(20);
    rig.device.Plug();
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kDeviceNoPermission));
    rig.device.SetFaults({});
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kDeviceConnected));
  }

  // During an update nothing looks at the device list from the UI thread;
  // after it, the update's last message stays whatever the device does. A
  // file refused before any update leaves the probe's text following the
  // device.
  void WatchPausesForTheUpdateAndKeepsItsLastMessage() {
    WriteImage(Image(5000));
    test::SimRig rig(PacedDevice(10, 30));
    WatchedBus bus(rig.bus);
    LinkSettings link = rig.link;
    link.backend = &bus;
    CUpdateDlg dialog(link);
    dialog.SetDeviceWatchInterval(10);
    dialog.show();
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    int looksAtEnd = -1;
    int opensAtEnd = -1;
    connect(&dialog, &CUpdateDlg::UpdateFinished, this, [&] {
      looksAtEnd = bus.uiLooks;
      opensAtEnd = bus.uiOpens;
    });
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    const int looks = bus.uiLooks;
    const int opens = bus.uiOpens;
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(looksAtEnd, looks);
    QCOMPARE(opensAtEnd, opens);
    rig.device.Unplug();
    QCOMPARE(Status(dialog)->text(), Q(text::kUpdateSucceeded));
    QVERIFY(!QTest::qWaitFor([&] { return Status(dialog)->text() != Q(text::kUpdateSucceeded); },
                             200));
  }

  void ARefusedFileLeavesTheDeviceFollowed() {
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    dialog.SetDeviceWatchInterval(10);
    dialog.show();
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);  // no file
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = OpenBox(dialog, "message")) != nullptr);
    QTest::mouseClick(BoxButton(box, "確定"), Qt::LeftButton);
    rig.device.Unplug();
    QTRY_COMPARE(Status(dialog)->text(), Q(text::kDeviceConnectFailed));
  }

  void EnterRightAfterStartCloses() {
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QPushButton* cancel = Button(dialog, "cancel");
    QCOMPARE(QApplication::focusWidget(), cancel);
    QVERIFY(cancel->isDefault());
    QTest::keyClick(cancel, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Button(dialog, "update"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(rig.device.OutputReportCount(), 0u);
  }

  // The bar behaves as the Windows control: 16-bit ranges, clamped positions.
  void ProgressBarActsAsTheWindowsControl_data() {
    QTest::addColumn<uint>("range");
    QTest::addColumn<uint>("position");
    QTest::addColumn<uint>("laterRange");
    QTest::addColumn<uint>("upper");
    QTest::addColumn<int>("value");
    QTest::newRow("largest range carried whole") << 65377u << 65000u << 65377u << 65377u << 65000;
    QTest::newRow("position above the range") << 100u << 250u << 100u << 100u << 100;
    QTest::newRow("range loses its high bits") << 70000u << 9000u << 70000u << 4464u << 4464;
    QTest::newRow("range of 65536 is empty") << 65536u << 5u << 65536u << 0u << 0;
    QTest::newRow("smaller range keeps the position in it") << 100u << 80u << 50u << 50u << 50;
    QTest::newRow("larger range keeps the position") << 10u << 7u << 100u << 100u << 7;
  }

  void ProgressBarActsAsTheWindowsControl() {
    QFETCH(uint, range);
    QFETCH(uint, position);
    QFETCH(uint, laterRange);
    QFETCH(uint, upper);
    QFETCH(int, value);
    test::SimRig rig;
    CUpdateDlg dialog(rig.link);
    // The job's requests, from a thread of their own as the worker's are.
    std::atomic<bool> sent{false};
    std::thread job([&] {
      dialog.Reporter().SetProgressRange(range);
      dialog.Reporter().SetProgressPosition(position);
      dialog.Reporter().SetProgressRange(laterRange);
      sent = true;
    });
    const bool served = QTest::qWaitFor([&] { return sent.load(); }, 5000);
    job.join();
    QVERIFY(served);
    QProgressBar* bar = dialog.findChild<QProgressBar*>("progress");
    QCOMPARE(bar->maximum(), upper == 0 ? 1 : int(upper));  // never Qt's busy indicator
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->value(), value);
  }

  // --help, --version and a command line that is not understood need no
  // display: the program answers them before it starts Qt's GUI.
  void CommandLineAnsweredWithoutADisplay_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("outputLost");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString usage = "Try 'gps-update --help' for more information.\n";
    QTest::newRow("help") << QStringList{"--help"} << false << 0 << AppHelpText() << "";
    QTest::newRow("version") << QStringList{"--version"} << false << 0
                             << QStringLiteral("gps-update " GPS_VERSION "\n") << "";
    QTest::newRow("Qt's own options are passed over")
        << QStringList{"-platform", "xcb", "--style=fusion", "--version"} << false << 0
        << QStringLiteral("gps-update " GPS_VERSION "\n") << "";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << false << 2 << ""
                                    << "gps-update: unknown option: --frobnicate\n" + usage;
    QTest::newRow("two files") << QStringList{"a.bin", "b.bin"} << false << 2 << ""
                               << "gps-update: only one FILE may be given\n" + usage;
    QTest::newRow("help to a full disk") << QStringList{"--help"} << true << int(kAppExitOutputFailed) << ""
                                         << "gps-update: the output could not be written\n";
  }

  void CommandLineAnsweredWithoutADisplay() {
    QFETCH(QStringList, args);
    QFETCH(bool, outputLost);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    program.setProcessEnvironment(env);
    if (outputLost) program.setStandardOutputFile("/dev/full");
    program.start(GPS_QT_PATH, args);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()), out);
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardError()), err);
  }

  // The name as the system gave it, byte for byte: it need not be UTF-8.
  void AFileNameThatIsNotUtf8IsOpened() {
    const std::string name = "caf\xE9.bin";  // Latin-1, as an older system names it
    const auto image = Image(700);
    {
      std::ofstream file(name, std::ios::binary);
      file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    char program[] = "gps-update";
    std::string arg = name;
    char* argv[] = {program, arg.data(), nullptr};
    const AppOptions options = ParseAppOptions(ProgramArguments(2, argv));
    QVERIFY(options.error.isEmpty());
    test::SimRig rig;
    CUpdateDlg dialog(rig.link, options.file);
    QSignalSpy finished(&dialog, &CUpdateDlg::UpdateFinished);
    QTest::mouseClick(Button(dialog, "update"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Succeeded);
    QVERIFY(rig.device.ReadFlash(DATABASE_ADDRESS, 700) == image);
    std::remove(name.c_str());  // QTemporaryDir, which reads names as UTF-8, could not
  }

  // Started from the menu (--in-downloads) without FILE, the image is the
  // one in the user's download folder; a FILE given, or no such option,
  // keeps to the name as given.
  void TheMenuEntryLooksInTheDownloadFolder() {
    QTemporaryDir config;
    QVERIFY(config.isValid());
    const QString downloads = config.filePath("下載");
    QVERIFY(QDir().mkpath(downloads));
    QFile dirs(config.filePath("user-dirs.dirs"));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write(("XDG_DOWNLOAD_DIR=\"" + downloads + "\"\n").toUtf8());
    dirs.close();
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    struct Case {
      std::vector<std::string> args;
      std::filesystem::path image;
    };
    const Case cases[] = {
        {{"--in-downloads"}, std::filesystem::path(downloads.toStdString()) / "code_data.bin"},
        {{"--in-downloads", "mine.bin"}, "mine.bin"},
        {{}, "code_data.bin"},
    };
    for (const Case& c : cases) {
      const AppOptions options = ParseAppOptions(c.args);
      QVERIFY(options.error.isEmpty());
      QCOMPARE(QString::fromStdString(ImageToWrite(options).string()),
               QString::fromStdString(c.image.string()));
    }
    if (oldConfig.isNull()) qunsetenv("XDG_CONFIG_HOME");
    else qputenv("XDG_CONFIG_HOME", oldConfig);
  }

  // A second copy, started while one holds the guard, says so and ends with
  // status 1 without a dialog; one started after it has gone runs; one that
  // can have no lock at all refuses as well.
  void SecondInstanceOrNoLockRefused() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const QByteArray oldParent = qgetenv("GPS_UPDATE_LOCK_PARENT");
    qputenv("GPS_UPDATE_LOCK_PARENT", runtime.path().toUtf8());
    auto guard = InstanceGuard::Acquire();
    if (oldParent.isNull()) qunsetenv("GPS_UPDATE_LOCK_PARENT");
    else qputenv("GPS_UPDATE_LOCK_PARENT", oldParent);
    QCOMPARE(guard->state(), InstanceGuard::State::Held);

    auto run = [&](QByteArray* output) {
      QProcess child;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("GPS_UPDATE_LOCK_PARENT", runtime.path());
      env.insert("XDG_RUNTIME_DIR", runtime.path());  // elsewhere: the lock does not move
      child.setProcessEnvironment(env);
      child.start(QCoreApplication::applicationFilePath(), {"--as-program", "--simulate"});
      if (!child.waitForFinished(60000)) return -1;
      *output = child.readAllStandardOutput();
      return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    };
    QByteArray output;
    QCOMPARE(run(&output), 1);
    QCOMPARE(QString::fromUtf8(output), "refused: " + Q(text::kSoftwareInUse) + "\n");

    guard.reset();
    QCOMPARE(run(&output), 0);
    QCOMPARE(QString::fromUtf8(output), "dialog: " + Q(text::kDeviceConnected) + "\n");

    // No lock can be made where it belongs: refused with its own text and
    // status, and the place and cause, before anything touches the device.
    const QString lock = runtime.filePath(QStringLiteral("gps-update-%1/").arg(geteuid()) +
                                          kInstanceGuardName);
    QVERIFY(QFile::remove(lock));
    QVERIFY(QDir().mkdir(lock));
    QCOMPARE(run(&output), kAppExitNoLock);
    QCOMPARE(QString::fromUtf8(output),
             "refused: " + Q(text::kInstanceLockFailed) + "\n" + lock + ": Is a directory\n");
  }

 private:
  std::optional<test::WorkingTempFolder> m_folder;
};

}  // namespace gps

namespace {

// The program as main.cc runs it, with its boxes and its dialog's loop
// replaced by lines on standard output.
int RunAsProgram(int argc, char** argv) {
  const gps::AppOptions options = gps::ParseAppOptions(gps::ProgramArguments(argc - 1, argv + 1));
  QApplication app(argc, argv);
  gps::SetUpApplication();
  gps::AppHooks hooks;
  hooks.showRefusal = [](const QString& text) {
    std::printf("refused: %s\n", text.toUtf8().constData());
  };
  hooks.runDialog = [](gps::CUpdateDlg& dialog) {
    std::printf("dialog: %s\n",
                dialog.findChild<QLabel*>("status")->text().toUtf8().constData());
    return 0;
  };
  return gps::RunUpdateApp(options, hooks);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--as-program") == 0) return RunAsProgram(argc, argv);
  QApplication app(argc, argv);
  gps::SetUpApplication();
  gps::UpdateDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "update_dlg_test.moc"
