// The main dialog: the picture, the progress bar, the status line, the
// line under it, "更新" and "取消".
//
// What it shows and what each thing the user, the system or the job does
// means is the DialogModel's (ui/common/dialog_model.h): this dialog tells
// the model what happened and renders its view. It keeps the widgets and
// what only Windows has: the device notifications (on which it looks at the
// device list, opening nothing; the device is opened for a probe only when
// the model asks), the worker thread whose reports arrive as window
// messages from CDialogReporter, the lines it draws itself (one line each,
// an ellipsis and a tooltip for a text too long), the taskbar button's
// progress, the hold on shutdown, high contrast, dropped files, the system
// menu and the DPI. The file "更新" writes is the one given on the command
// line, or dropped onto the window, or picked with "選擇檔案…" in the
// system menu.
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
#include "ui/common/dialog_model.h"
#include "ui/common/sleep_inhibitor.h"
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

  // The folders the default file was looked for in; the line that says it
  // was not found names them.
  void SetSearchedFolders(std::vector<std::filesystem::path> folders) {
    m_model.SetSearchedFolders(std::move(folders));
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
  // Posted to itself when the model asks for a box: the box's own loop runs
  // from the dialog's, not inside the handler that changed the view.
  static constexpr UINT WM_APP_OPEN_BOX = WM_APP + 33;
  // While a device that would not open may still become usable after a
  // change, the device list is looked at again at a short tick.
  static constexpr UINT_PTR kSettleTimer = 1;
  // While an update runs, the time left moves on between its reports.
  static constexpr UINT_PTR kTickTimer = 2;

  // Returns true when it handled the command (the About entry, the file).
  bool OnSysCommand(UINT nID, LPARAM lParam);
  // Returns true when it painted (the minimised window's icon).
  bool OnPaint();
  HCURSOR OnQueryDragIcon() const { return m_hIcon; }
  // The window's icons drawn for `dpi` (16 and 32 pixels at 96 DPI).
  void SetIcons(UINT dpi);

  // --- the device -----------------------------------------------------------
  // A look at the device list (which opens nothing); a probe when the model
  // asks for one.
  void LookAtDevices();
  void Probe();
  void OnDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header);

  // --- the file and "更新" ---------------------------------------------------
  void OnUpdate();
  void OnCopyAnswered(DialogModel::CopyAnswer answer);
  void StartUpdate();
  // "選擇檔案…": the system's file dialog, in the current file's folder.
  void OnChooseFile();
  void OnDropFiles(HDROP drop);
  void FileChosen(const std::filesystem::path& file);

  // --- the job ----------------------------------------------------------------
  static DWORD WINAPI UpdateThreadProc(LPVOID parameter);
  // A message of the job, shown while the worker waits for it.
  void OnJobMessage(std::string_view text);
  void OnWorkerDone();

  // --- closing ----------------------------------------------------------------
  // "取消", Esc and the close box.
  void OnClose(int code);
  void OnCloseAnswered(DialogModel::AnswerAction action);
  // Windows ends the session during an update after all.
  void OnEndSession();

  // --- rendering (update_dlg_view.cc) ------------------------------------------
  // A tooltip over the three lines, with the whole text of each.
  void AttachLineTooltip();
  // Shows the model's view now; only what changed is touched.
  void Render();
  void RenderBar(uint32_t range, uint32_t position);
  void RenderButtons(const DialogView& view);
  void RenderTaskbar(const DialogView& view);
  void RenderHolds(const DialogView& view);
  // Opens the model's box once the handler that asked for it has returned,
  // and takes away an open one that is no longer the model's.
  void RenderBox(const DialogBox& box);
  void OpenWantedBox();
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

  HWND m_status = nullptr;        // IDC_STATUS
  HWND m_progress = nullptr;      // IDC_PROGRESS1
  HWND m_progressLine = nullptr;  // IDC_PROGRESS_LINE
  HWND m_deviceNote = nullptr;    // IDC_DEVICE_NOTE
  HWND m_tooltip = nullptr;       // over the three lines
  std::wstring m_tooltipText;     // what it shows now
  CDialogPicture m_picture;       // IDC_PICTURE
  HICON m_hIcon = nullptr;        // the large icon, at the window's DPI
  HICON m_hIconSmall = nullptr;

  HidBackend& m_backend;
  StopEvent m_stop;     // stops the running update's transfers
  LinkSettings m_link;  // the probe's and every update's device link
  HANDLE m_worker = nullptr;  // the running update, or null
  // How the worker's job ended: written by the worker before its last
  // message, read here once it has ended.
  UpdateOutcome m_outcome = UpdateOutcome::Succeeded;
  std::filesystem::path m_writing;  // the running update's file
  HDEVNOTIFY m_deviceNotify = nullptr;

  DialogModel m_model;
  DialogView m_shown;  // what the widgets show now
  bool m_rendered = false;
  int m_shownTaskbar = -2;  // the percent on the taskbar button; -1 none
  bool m_shownFailedTaskbar = false;
  std::unique_ptr<SleepInhibitor> m_awake;  // held while the model says so
  ShutdownBlock m_shutdown;                 // likewise
  TaskbarProgress m_taskbar;
  // The model's box: the one it wants (its number), the one open now and
  // its window while it is a question that can be taken away.
  uint64_t m_boxWanted = 0;
  uint64_t m_boxOpen = 0;
  HWND m_boxWindow = nullptr;
  bool m_boxPosted = false;
};

}  // namespace gps
