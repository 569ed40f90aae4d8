// The main dialog: the picture, the progress bar, the status line, the
// line under it, "更新" and "取消". It probes the device when it opens, runs
// each update on a worker thread, and serves the worker's reports on its own
// thread. The file "更新" writes is the one given on the command line, or
// dropped onto the window, or picked with "選擇檔案…" in the system menu.
#pragma once

#include <windows.h>
#include <dbt.h>
#include <shellapi.h>  // HDROP

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/stop_event.h"
#include "protocol/update_job.h"
#include "ui/common/sleep_inhibitor.h"
#include "ui/common/update_progress.h"
#include "ui/common/update_session.h"
#include "ui/win32/dialog.h"
#include "ui/win32/dialog_picture.h"
#include "ui/win32/shutdown_block.h"
#include "ui/win32/taskbar_progress.h"

namespace gps {

class CUpdateDlg : public CDialog {
 public:
  // Probes and updates through `backend`; the dialog has no owner. `file` is
  // the image; `fileGiven` when the user named it (no numbered copy of it is
  // looked for).
  explicit CUpdateDlg(HidBackend& backend, std::filesystem::path file = kDefaultImageFile,
                      bool fileGiven = false);
  ~CUpdateDlg() override;

  // The four operations the update reports through, on the UI thread.
  void SetStatusText(const wchar_t* text);
  void SetProgressRange(uint32_t upper);
  void SetProgressPosition(uint32_t position);
  void ShowMessage(const wchar_t* text);

  // The folders the default file was looked for in; the line that says it
  // was not found names them.
  void SetSearchedFolders(std::vector<std::filesystem::path> folders) {
    m_searched = std::move(folders);
  }
  // What the shutdown screen shows while an update holds Windows back;
  // empty when nothing holds it.
  const std::wstring& ShutdownReason() const { return m_shutdown.Reason(); }

 protected:
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnOK() override { OnClose(IDOK); }
  void OnCancel() override { OnClose(IDCANCEL); }

 private:
  // Returns true when it handled the command (the About entry).
  bool OnSysCommand(UINT nID, LPARAM lParam);
  // Returns true when it painted (the minimised window's icon).
  bool OnPaint();
  // A HID interface arrived or left.
  void OnDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header);
  // While a device that would not open may still become usable after a
  // change, it is probed again at each tick.
  void OnSettleTimer();
  // Opens the device once, closes it again, and shows what it found.
  void Probe();
  // The window's icons drawn for `dpi` (16 and 32 pixels at 96 DPI).
  void SetIcons(UINT dpi);
  HCURSOR OnQueryDragIcon() const { return m_hIcon; }
  void OnUpdate();
  // Asks whether to write the newer download instead; starts on an answer
  // that says to.
  void AskAboutCopy();
  void StartUpdate();
  void OnWorkerDone();
  // "選擇檔案…": the system's file dialog, in the current file's folder.
  void OnChooseFile();
  void FileChosen(const std::filesystem::path& file);
  // The line under the status line, the title's percentage and the taskbar
  // button's progress, as the job stands now.
  void ShowProgressLine();
  // The status line's colour: the failure colour after a failed job, but
  // the system's in high contrast.
  COLORREF StatusColour() const;
  // Draws the status line and the two lines under it: one line each, an
  // ellipsis where a text is too long for its place.
  bool OnDrawItem(const DRAWITEMSTRUCT& item);
  // Sets a line's whole text and draws it anew.
  void SetLine(HWND line, const std::wstring& text);
  std::wstring WholeText(HWND line) const;
  // The tooltip asks for a line's text.
  bool OnNotify(NMHDR& header);
  // Windows ends the session during an update after all.
  void OnEndSession();
  void OnDropFiles(HDROP drop);
  // "選擇檔案…" is greyed while an update runs.
  void EnableChooseFile(bool enabled);
  // After a job that failed: the status line reads as a failure, the bar
  // stays where it stopped, and a box says what it means for the device and
  // what to do.
  void ShowFailure();
  // Ends the dialog with `code`; while an update runs, only once the user
  // has confirmed and the worker has stopped.
  void OnClose(int code);

  static DWORD WINAPI UpdateThreadProc(LPVOID parameter);

  HWND m_status = nullptr;    // IDC_STATUS
  HWND m_progress = nullptr;  // IDC_PROGRESS1
  HWND m_progressLine = nullptr;  // IDC_PROGRESS_LINE
  HWND m_deviceNote = nullptr;    // IDC_DEVICE_NOTE
  std::wstring m_shownLine;       // what it shows now
  bool m_lineIsFile = false;      // it tells of the file
  std::vector<std::filesystem::path> m_searched;  // for the default file
  HWND m_tooltip = nullptr;       // over the three lines
  std::wstring m_tooltipText;     // what it shows now
  bool m_failed = false;          // the status line tells of a failure
  CDialogPicture m_picture;   // IDC_PICTURE
  HICON m_hIcon = nullptr;       // the large icon, at the window's DPI
  HICON m_hIconSmall = nullptr;
  StopEvent m_stop;    // stops the running update's transfers
  LinkSettings m_link; // the probe's and every update's device link
  HANDLE m_worker = nullptr;  // the running update, or null
  // How the worker's job ended: written by the worker before its last
  // message, read here once it has ended.
  UpdateOutcome m_outcome = UpdateOutcome::Succeeded;
  std::filesystem::path m_writing;  // the running update's file
  std::unique_ptr<SleepInhibitor> m_awake;  // held while an update runs
  ShutdownBlock m_shutdown;                 // likewise
  TaskbarProgress m_taskbar;
  // The whole job's progress, fed with what the worker shows.
  UpdateProgress m_jobProgress;
  std::wstring m_title;       // the dialog's own
  std::wstring m_shownTitle;  // what the title bar shows now
  int m_shownPercent = -1;    // on the taskbar button
  // What the dialog's rules say now: following the device, one update at a
  // time, what a close does.
  UpdateSession m_session;
  HWND m_closeQuestion = nullptr;  // while the close question is open
  HDEVNOTIFY m_deviceNotify = nullptr;
};

}  // namespace gps
