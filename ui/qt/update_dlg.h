// The main dialog: the picture, the progress bar, the status line, "更新"
// and "取消".
//
// When it opens it probes the device and shows what it found; while the
// status line still shows a probe's text and no update runs, it follows the
// device as it arrives and leaves (a look at the system's device list twice a
// second, which opens nothing; the device is opened for a probe only when
// that list changed). "更新" runs
// the update job on a worker thread, which reports through a DialogReporter;
// the UI thread never waits for the worker. A close while an update runs
// asks first, then stops the update through the link's stop event and
// closes once the worker has ended. The dialog outlives its worker in every
// case: its destructor releases the worker's pending request, stops it and
// joins it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "protocol/device_probe.h"
#include "protocol/update_job.h"
#include "ui/common/sleep_inhibitor.h"
#include "ui/common/update_progress.h"
#include "ui/common/update_session.h"
#include "ui/qt/dialog_reporter.h"

class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QThread;

namespace gps {

class CUpdateDlg : public QDialog {
  Q_OBJECT

 public:
  // `link` chooses the device (its backend: null for the platform's) and
  // its bounds; the stop event is the dialog's own. `file` is the image;
  // `fileGiven` when the user named it (no numbered copy is looked for).
  explicit CUpdateDlg(LinkSettings link = {},
                      std::filesystem::path file = kDefaultImageFile, bool fileGiven = false,
                      QWidget* parent = nullptr);
  ~CUpdateDlg() override;

  bool IsUpdating() const { return m_worker != nullptr; }
  DialogReporter& Reporter() { return *m_reporter; }
  // How often the device list is looked at while the dialog waits.
  void SetDeviceWatchInterval(int milliseconds) { m_watch.setInterval(milliseconds); }

  // "取消", Esc and the close box all end here. While an update runs, the
  // user is asked first.
  void done(int result) override;
  // The system asks the program to end (SIGTERM, SIGINT): no question. An
  // update stops at its next report with the device closed, its stop text
  // shows, and the dialog closes once the worker has ended; without one the
  // dialog closes at once.
  void Terminate();

 signals:
  // On the UI thread, once the worker has ended.
  void UpdateFinished(gps::UpdateOutcome outcome);
  // After each look at the device list while the dialog waits.
  void DeviceListLooked();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // A file dropped on the window is the one "更新" writes.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void OnUpdate();
  // Asks whether to write the newer download instead; starts on an answer
  // that says to.
  void AskAboutCopy();
  void StartUpdate();
  // "選擇檔案…": the file dialog, in the current file's folder.
  void OnChooseFile();
  void FileChosen(const std::filesystem::path& file);
  void OnAbout();
  void OnWorkerFinished();
  // The user chose to close during the update: stop it; the dialog closes
  // once the worker has ended.
  void StopToClose();
  void PresentMessage(const QString& text, std::function<void()> closed);
  void Probe();
  void OnWatch();
  // The line under the status line: the file "更新" writes while no update
  // runs; during one, its step, percentage and time left; after it, the
  // time it took. The window title carries the percentage.
  void ShowProgressLine();
  // After a job that ended in failure: the status line reads as one, and a
  // box says what it means for the device and what to do.
  void ShowFailure(UpdateOutcome outcome);

  LinkSettings m_link;
  StopEvent m_stop;

  QLabel* m_picture;
  QProgressBar* m_progress;
  QLabel* m_status;
  QLabel* m_progressLine;
  QPushButton* m_cancel;
  QPushButton* m_update;
  std::unique_ptr<DialogReporter> m_reporter;

  // What the dialog's rules say now: following the device, one update at a
  // time, what a close does.
  UpdateSession m_session;
  QThread* m_worker = nullptr;
  std::shared_ptr<UpdateOutcome> m_outcome;
  std::filesystem::path m_writing;  // the running update's file
  std::unique_ptr<SleepInhibitor> m_awake;  // held while an update runs
  QPointer<QMessageBox> m_confirm;

  // Following the device while the session says so: a look at the device
  // list at each tick.
  QTimer m_watch;
  std::vector<std::string> m_present;  // matching interfaces at the last look

  // The whole job's progress, fed with what the reporter shows; the tick
  // moves the time left on between reports.
  UpdateProgress m_jobProgress;
  QTimer m_tick;
};

}  // namespace gps
