#include "ui/win32/update_dlg.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "hid/backend_win32.h"
#include "hid/device_match.h"
#include "hid/device_view_backend.h"
#include "hid/win32/wide_text.h"
#include "protocol/device_probe.h"
#include "res/resource.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/image_file.h"
#include "ui/win32/about_dlg.h"
#include "ui/win32/dialog_reporter.h"
#include "ui/win32/file_choice.h"
#include "ui/win32/running_copy.h"
#include "ui/win32/update_app.h"

namespace gps {

namespace {

// Posted to itself after WM_DPICHANGED, so that the picture is laid out once
// the dialog manager has scaled the controls.
constexpr UINT WM_APP_DPI_CHANGED = WM_APP + 32;

// After a refused end of session, how long the dialog waits for the stopped
// worker before it lets Windows go on.
constexpr DWORD kEndSessionWaitMs = 5000;

// The system menu's entry that picks the file, with its mnemonic.
std::wstring ChooseFileEntry() {
  std::wstring entry = WideFromUtf8(text::kChooseFile);
  const size_t dots = entry.find(L'…');
  entry.insert(dots == std::wstring::npos ? entry.size() : dots, L"(&F)");
  return entry;
}

// The file dialog's second filter: every file, in Windows' own pattern.
constexpr wchar_t kAllFilesFilter[] = L"所有檔案 (*.*)";

std::wstring Wide(std::string_view text) { return WideFromUtf8(text); }

}  // namespace

CUpdateDlg::CUpdateDlg(HidBackend& backend, std::filesystem::path file, bool fileGiven)
    : CDialog(IDD_UPDATE_DIALOG, nullptr), m_backend(backend), m_model(std::move(file), fileGiven) {
  m_link.backend = &backend;
  m_link.stop = &m_stop;
  // The several-devices note has a line of its own, so that the status line
  // keeps its words.
  m_model.KeepDeviceNoteApart();
}

CUpdateDlg::~CUpdateDlg() {
  // The dialog ends only after its worker, but should that ever fail, the
  // worker must not outlive the object it was given.
  if (m_worker) {
    m_stop.Set();
    WaitForSingleObject(m_worker, INFINITE);
    CloseHandle(m_worker);
  }
  if (m_hIcon) DestroyIcon(m_hIcon);
  if (m_hIconSmall) DestroyIcon(m_hIconSmall);
}

BOOL CUpdateDlg::OnInitDialog() {
  m_status = GetDlgItem(m_hWnd, IDC_STATUS);
  m_progress = GetDlgItem(m_hWnd, IDC_PROGRESS1);
  m_progressLine = GetDlgItem(m_hWnd, IDC_PROGRESS_LINE);
  m_deviceNote = GetDlgItem(m_hWnd, IDC_DEVICE_NOTE);
  // A second copy finds this window by it: the title changes during an
  // update ("37% - ...").
  MarkAsRunningCopy(m_hWnd);
  // Started elevated, the window would not hear of files dropped from
  // Explorer, nor of its taskbar button, which come from a lower level.
  for (const UINT message : {UINT{WM_DROPFILES}, UINT{WM_COPYDATA}, UINT{0x0049},
                             TaskbarProgress::ButtonCreatedMessage()})
    ChangeWindowMessageFilterEx(m_hWnd, message, MSGFLT_ALLOW, nullptr);

  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
    const wchar_t* about = nullptr;
    // With a zero length LoadStringW hands out the resource's own text,
    // which is not zero-terminated.
    const int length = LoadStringW(theApp.Instance(), IDS_ABOUTBOX,
                                   reinterpret_cast<LPWSTR>(&about), 0);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_CHOOSEFILE, ChooseFileEntry().c_str());
    if (length > 0) {
      const std::wstring entry(about, static_cast<size_t>(length));
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, entry.c_str());
    }
  }
  AcceptDroppedFiles(m_hWnd);
  AttachLineTooltip();

  const UINT dpi = WindowDpi(m_hWnd);
  SetIcons(dpi);
  m_picture.Attach(m_hWnd, GetDlgItem(m_hWnd, IDC_PICTURE), m_progress, IDB_BACKGROUND, dpi);

  // Arrivals and removals of HID interfaces, so that the status line can
  // follow the device while the user plugs it in.
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  if (HidClassGuid(filter.dbcc_classguid))
    m_deviceNotify = RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

  // The list first, then the probe, which opens the device and closes it
  // again before the dialog shows.
  LookAtDevices();
  Render();
  return TRUE;
}

void CUpdateDlg::SetIcons(UINT dpi) {
  // The icon resource holds 16, 20, 24, 32, 40, 48, 64 and 256 pixels: the
  // sizes of 100 to 200 % come straight from it.
  auto load = [dpi](int size96) {
    const int size = MulDiv(size96, static_cast<int>(dpi), 96);
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                         MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size,
                                         size, LR_DEFAULTCOLOR));
  };
  HICON big = load(32);
  HICON smallIcon = load(16);
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  if (m_hIcon) DestroyIcon(m_hIcon);
  if (m_hIconSmall) DestroyIcon(m_hIconSmall);
  m_hIcon = big;
  m_hIconSmall = smallIcon;
}

// --- the device --------------------------------------------------------------

void CUpdateDlg::LookAtDevices() {
  // The system's list of our interfaces: nothing is opened to count them.
  const std::vector<std::string> interfaces =
      MatchingInterfaces(m_backend, HID_VENDOR_ID, HID_PRODUCT_ID);
  if (m_model.DeviceListLooked(interfaces, DialogModel::Clock::now())) Probe();
}

void CUpdateDlg::Probe() {
  const ProbeResult probe = ProbeDevice(m_link);
  m_model.Probed(probe.outcome, probe.text);
}

void CUpdateDlg::OnDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
  // Nothing of this touches the device while an update has it, and an
  // update's last text stays.
  if (!m_shown.watchDevice) return;
  LookAtDevices();
  Render();
}

// --- the file and "更新" -------------------------------------------------------

void CUpdateDlg::OnUpdate() {
  // As the command-line program does, a look at the device first: with none
  // there nothing is sent, and "更新" stays usable.
  if (PressUpdate(m_model, m_link) == DialogModel::StartAction::Start) StartUpdate();
  Render();
}

void CUpdateDlg::OnCopyAnswered(DialogModel::CopyAnswer answer) {
  if (m_model.CopyAnswered(answer) == DialogModel::StartAction::Start) StartUpdate();
  Render();
}

void CUpdateDlg::StartUpdate() {
  m_stop.Reset();  // a stop meant for an earlier update is void
  m_writing = m_model.File();
  m_worker = CreateThread(nullptr, 0, UpdateThreadProc, this, 0, nullptr);
  if (!m_worker) return;
  // The worker's first request waits for this thread, which marks the
  // update started before it serves it.
  m_model.JobStarted(DialogModel::Clock::now());
}

void CUpdateDlg::OnChooseFile() {
  if (!m_shown.chooseFileEnabled) return;  // the running update keeps its file
  const std::filesystem::path& current = m_model.File();
  std::error_code error;
  const std::filesystem::path folder =
      current.has_parent_path() ? current.parent_path() : std::filesystem::current_path(error);
  const auto file =
      PickFile(m_hWnd, folder, Wide(text::kChooseFile), Wide(text::kImageFilesFilter),
               kAllFilesFilter);
  if (file) FileChosen(*file);
}

void CUpdateDlg::OnDropFiles(HDROP drop) {
  std::vector<DroppedItem> items;
  for (std::filesystem::path& file : DroppedFiles(drop)) {
    std::error_code error;
    const bool folder = std::filesystem::is_directory(file, error);
    items.push_back({std::move(file), folder});
  }
  if (m_model.Dropped(items)) Render();
}

void CUpdateDlg::FileChosen(const std::filesystem::path& file) {
  if (m_model.FileChosen(file)) Render();
}

// --- the job -------------------------------------------------------------------

DWORD WINAPI CUpdateDlg::UpdateThreadProc(LPVOID parameter) {
  auto* dlg = static_cast<CUpdateDlg*>(parameter);
  {
    CDialogReporter reporter(dlg->m_hWnd);
    // The job keeps to the first device attached when it starts, even if
    // others come and go meanwhile.
    LinkSettings link = dlg->m_link;
    std::optional<DeviceViewBackend> pinned = FirstDeviceView(*link.backend);
    if (pinned) link.backend = &*pinned;
    UpdateJob job(reporter, link);
    dlg->m_outcome = job.LoadAndUpdate(dlg->m_writing);
  }
  // The last thing the worker does with the dialog: it never touches it after.
  PostMessageW(dlg->m_hWnd, WM_APP_WORKER_DONE, 0, 0);
  return 0;
}

void CUpdateDlg::OnJobMessage(std::string_view text) {
  // A user who has chosen to close is not kept by a message of the update
  // being stopped.
  if (!m_model.JobMessage()) return;
  // The update's boxes all tell why the file could not be written.
  MessageBoxW(m_hWnd, Wide(text).c_str(), theApp.AppName().c_str(), MB_OK | MB_ICONERROR);
}

void CUpdateDlg::OnWorkerDone() {
  if (!m_worker) return;
  // The worker has posted its last message and is returning.
  WaitForSingleObject(m_worker, INFINITE);
  CloseHandle(m_worker);
  m_worker = nullptr;
  const DialogModel::AfterJob after = m_model.JobEnded(m_outcome, DialogModel::Clock::now());
  Render();
  if (after == DialogModel::AfterJob::Close) EndDialog(m_hWnd, m_model.CloseCode());
}

// --- closing -------------------------------------------------------------------

void CUpdateDlg::OnClose(int code) {
  switch (m_model.CloseRequested(code)) {
    case DialogModel::CloseAction::Close:
      EndDialog(m_hWnd, code);
      return;
    case DialogModel::CloseAction::Ignore:  // already stopping, or asking
      return;
    case DialogModel::CloseAction::Ask:
      Render();
      return;
  }
}

void CUpdateDlg::OnCloseAnswered(DialogModel::AnswerAction action) {
  switch (action) {
    case DialogModel::AnswerAction::Close:  // the update ended while the user was asked
      EndDialog(m_hWnd, m_model.CloseCode());
      return;
    case DialogModel::AnswerAction::StopUpdate:
      // The worker's next transfer ends at once; the dialog closes when the
      // worker tells it has ended, and serves its last reports until then.
      m_stop.Set();
      break;
    case DialogModel::AnswerAction::KeepRunning:
      break;
  }
  Render();
}

void CUpdateDlg::OnEndSession() {
  if (!m_worker) {
    // Nothing to hold back: the dialog ends with the session.
    if (m_model.EndRequested(IDCANCEL) == DialogModel::AnswerAction::Close)
      EndDialog(m_hWnd, m_model.CloseCode());
    return;
  }
  // Windows ends the session although the update asked it to wait: the
  // worker stops at its next transfer, and its last reports are served here
  // while the dialog waits for it, so that the device is left between two
  // reports rather than in the middle of one.
  m_stop.Set();
  const ULONGLONG deadline = GetTickCount64() + kEndSessionWaitMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    const DWORD woke = MsgWaitForMultipleObjects(1, &m_worker, FALSE,
                                                 static_cast<DWORD>(deadline - now),
                                                 QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) break;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  m_shutdown.Release();
}

// --- messages --------------------------------------------------------------------

bool CUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  const auto now = DialogModel::Clock::now();
  switch (message) {
    case WM_SYSCOMMAND:
      result = TRUE;
      return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT:
      result = TRUE;
      return OnPaint();
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(OnQueryDragIcon());
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_UPDATE && HIWORD(wParam) == BN_CLICKED) {
        OnUpdate();
        result = TRUE;
        return true;
      }
      return CDialog::OnMessage(message, wParam, lParam, result);
    case WM_APP_SET_STATUS:
      m_model.JobStatus(*reinterpret_cast<const std::string_view*>(lParam));
      Render();
      return true;
    case WM_APP_STAGE_BEGINS:
      m_model.JobStageBegins(static_cast<JobStage>(wParam), now);
      Render();
      return true;
    case WM_APP_SET_RANGE:
      m_model.JobRange(static_cast<uint32_t>(wParam));
      Render();
      return true;
    case WM_APP_SET_POSITION:
      m_model.JobPosition(static_cast<uint32_t>(wParam), now);
      Render();
      return true;
    case WM_APP_SHOW_MESSAGE:
      OnJobMessage(*reinterpret_cast<const std::string_view*>(lParam));
      return true;
    case WM_APP_WORKER_DONE:
      OnWorkerDone();
      return true;
    case WM_APP_OPEN_BOX:
      OpenWantedBox();
      return true;
    case WM_DPICHANGED:
      // The dialog manager scales the dialog and its controls when this
      // returns unhandled; the picture and the icons follow after it.
      PostMessageW(m_hWnd, WM_APP_DPI_CHANGED, LOWORD(wParam), 0);
      return false;
    case WM_APP_DPI_CHANGED:
      SetIcons(static_cast<UINT>(wParam));
      m_picture.OnDpiChanged(static_cast<UINT>(wParam));
      return true;
    case WM_TIMER:
      if (wParam == kSettleTimer) {
        if (m_shown.watchDevice) LookAtDevices();
        Render();
      } else if (wParam == kTickTimer) {
        Render();
      } else {
        return CDialog::OnMessage(message, wParam, lParam, result);
      }
      return true;
    case WM_DRAWITEM:
      result = TRUE;
      return OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
      // High contrast on or off: the lines are drawn anew in its colours.
      for (HWND line : {m_status, m_progressLine, m_deviceNote}) InvalidateRect(line, nullptr, TRUE);
      return false;
    case WM_QUERYENDSESSION:
      // While an update writes the device, Windows is asked to wait; the
      // shutdown screen names the reason.
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, m_shutdown.HeldBack() ? FALSE : TRUE);
      result = TRUE;
      return true;
    case WM_ENDSESSION:
      if (wParam) OnEndSession();
      return true;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return true;
    case WM_DEVICECHANGE:
      OnDeviceChange(wParam, reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
      result = TRUE;
      return true;
    case WM_DESTROY:
      MarkAsRunningCopy(m_hWnd, false);
      if (m_deviceNotify) UnregisterDeviceNotification(m_deviceNotify);
      m_deviceNotify = nullptr;
      return false;
    default:
      if (message == TaskbarProgress::ButtonCreatedMessage()) {
        m_taskbar.OnButtonCreated(m_hWnd);
        // A button made anew (Explorer restarted) shows what the model says.
        m_shownTaskbar = -2;
        RenderTaskbar(m_shown);
        return true;
      }
      return CDialog::OnMessage(message, wParam, lParam, result);
  }
}

bool CUpdateDlg::OnSysCommand(UINT nID, LPARAM) {
  if ((nID & 0xFFF0) == IDM_CHOOSEFILE) {
    OnChooseFile();
    return true;
  }
  if ((nID & 0xFFF0) != IDM_ABOUTBOX) return false;
  CAboutDlg dlgAbout(m_hWnd);
  dlgAbout.DoModal();
  return true;
}

bool CUpdateDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  // The icon, centred in the client rectangle.
  const int cxIcon = GetSystemMetrics(SM_CXICON);
  const int cyIcon = GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(m_hWnd, &rect);
  const int x = (rect.right - rect.left - cxIcon + 1) / 2;
  const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
  DrawIcon(dc, x, y, m_hIcon);
  EndPaint(m_hWnd, &paint);
  return true;
}

}  // namespace gps
