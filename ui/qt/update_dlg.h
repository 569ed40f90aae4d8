// The main dialog: the picture, the progress bar, the status line, the line
// under it, "更新" and "取消".
//
// What it shows and what each thing the user or the job does means is the
// DialogModel's (ui/common/dialog_model.h): this dialog tells the model what
// happened and renders its view. It keeps its widgets and its own ways of
// watching and working: a look at the system's device list twice a second
// while the model follows the device (which opens nothing; the device is
// opened for a probe only when the model asks), the update job on a worker
// thread that reports through a DialogReporter (the UI thread never waits
// for the worker), and the stop event that a confirmed close sets. The
// dialog outlives its worker in every case: its destructor releases the
// worker's pending request, stops it and joins it.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "protocol/device_probe.h"
#include "protocol/update_job.h"
#include "ui/common/dialog_model.h"
#include "ui/common/sleep_inhibitor.h"
#include "ui/qt/dialog_reporter.h"

class QLabel;
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
  void StartUpdate();
  // "選擇檔案…": the file dialog, in the current file's folder.
  void OnChooseFile();
  void FileChosen(const std::filesystem::path& file);
  void OnAbout();
  void OnWorkerFinished();
  void PresentMessage(const QString& text, std::function<void()> closed);
  void Probe();
  void OnWatch();
  // Shows the model's view now.
  void Render();
  void RenderBar(uint32_t range, uint32_t position);
  // Opens the box the model asks for; takes away the one it no longer does.
  void RenderBox(const DialogBox& box);
  QMessageBox* NewBox(QMessageBox::Icon icon, const char* name, const std::string& text);
  void OnCopyAnswered(DialogModel::CopyAnswer answer);
  void OnCloseAnswered(bool stop);
  void OnCloseAnswered(DialogModel::AnswerAction action);

  LinkSettings m_link;
  StopEvent m_stop;

  QLabel* m_picture;
  QProgressBar* m_progress;
  QLabel* m_status;
  QLabel* m_progressLine;
  QPushButton* m_cancel;
  QPushButton* m_update;
  std::unique_ptr<DialogReporter> m_reporter;

  DialogModel m_model;
  DialogView m_shown;  // what the widgets show now
  bool m_rendered = false;
  QThread* m_worker = nullptr;
  std::shared_ptr<UpdateOutcome> m_outcome;
  std::unique_ptr<SleepInhibitor> m_awake;  // held while the model says so
  // The model's box that is open, and its number.
  QPointer<QMessageBox> m_box;
  uint64_t m_boxSerial = 0;

  // Following the device while the model says so: a look at the device list
  // at each tick.
  QTimer m_watch;
  // While an update runs, the time left moves on between its reports.
  QTimer m_tick;
};

}  // namespace gps
