#include "ui/win32/update_dlg.h"

#include <commctrl.h>

#include <initializer_list>
#include <iterator>
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
#include "protocol/image_check.h"
#include "res/resource.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/image_file.h"
#include "ui/win32/about_dlg.h"
#include "ui/win32/choice_box.h"
#include "ui/win32/dialog_reporter.h"
#include "ui/win32/file_choice.h"
#include "ui/win32/high_contrast.h"
#include "ui/win32/running_copy.h"
#include "ui/win32/text_line.h"
#include "ui/win32/update_app.h"

namespace gps {

namespace {

// Posted to itself after WM_DPICHANGED, so that the picture is laid out once
// the dialog manager has scaled the controls.
constexpr UINT WM_APP_DPI_CHANGED = WM_APP + 32;
// Posted to itself when the model asks for a box: the box's own loop runs
// from the dialog's, not inside the handler that changed the view.
constexpr UINT WM_APP_OPEN_BOX = WM_APP + 33;

// While a device that would not open may still become usable after a
// change, the device list is looked at again at this pace.
constexpr UINT_PTR kSettleTimer = 1;
constexpr UINT kSettleTickMs = 250;
// While an update runs, the time left moves on between its reports.
constexpr UINT_PTR kTickTimer = 2;
constexpr UINT kTickMs = 1000;

// The status line after a failure: a plain dark red reads as one on the
// dialog's usual light background. In high contrast the system's own text
// colour stands in, and the failure reads by its text and its box.
constexpr COLORREF kFailureColour = RGB(0xB0, 0x00, 0x20);

// What the shutdown screen says while an update holds it back.
constexpr wchar_t kShutdownReason[] = L"正在更新設備資料庫，請勿關機或登出。";
// After a refused end of session, how long the dialog waits for the stopped
// worker before it lets Windows go on.
constexpr DWORD kEndSessionWaitMs = 5000;

// Said when several files are dropped onto the window at once.
constexpr wchar_t kOneFileOnly[] = L"請一次只選一個檔案。";

// The answers to the offer of a newer download.
constexpr int kTakeCopy = 100;
constexpr int kKeepFile = 101;

// The system menu's entry that picks the file, with its mnemonic.
std::wstring ChooseFileEntry() {
  std::wstring entry = WideFromUtf8(text::kChooseFile);
  const size_t dots = entry.find(L'…');
  entry.insert(dots == std::wstring::npos ? entry.size() : dots, L"(&F)");
  return entry;
}

// The file dialog's second filter: every file, in Windows' own pattern.
constexpr wchar_t kAllFilesFilter[] = L"所有檔案 (*.*)";

// A tooltip over each of `lines` that shows its whole text, asked for when it
// is shown (TTN_GETDISPINFOW), so that it follows the line.
HWND CreateLineTooltip(HWND dialog, std::initializer_list<HWND> lines) {
  HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                 WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  if (!tooltip) return nullptr;
  for (HWND line : lines) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(line);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  // Lines as wide as the dialog: the tooltip wraps, and honours "\n".
  SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, 600);
  return tooltip;
}

// The message box this thread shows over `owner`, if any.
HWND BoxOwnedBy(HWND owner) {
  struct Search {
    HWND owner;
    HWND box;
  } search{owner, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[16] = {};
        GetClassNameW(window, name, static_cast<int>(std::size(name)));
        if (GetWindow(window, GW_OWNER) == s->owner && std::wstring(name) == L"#32770") {
          s->box = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.box;
}

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
  m_tooltip = CreateLineTooltip(m_hWnd, {m_status, m_progressLine, m_deviceNote});

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
  // One update at a time, and the device is the worker's while it runs.
  if (!m_model.MayStartUpdate()) return;
  // As the command-line program does, a look at the device first: with none
  // there nothing is sent, and "更新" stays usable.
  const ProbeOutcome probe = ProbeDevice(m_link).outcome;
  const std::filesystem::path& file = m_model.File();
  const DialogModel::StartAction action =
      m_model.UpdatePressed(probe, LookAtImage(file, m_model.FileGiven()), CheckImageFile(file));
  if (action == DialogModel::StartAction::Start) StartUpdate();
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
  const std::vector<std::filesystem::path> files = DroppedFiles(drop);
  if (files.empty() || !m_shown.chooseFileEnabled) return;
  if (files.size() > 1) {
    MessageBoxW(m_hWnd, kOneFileOnly, theApp.AppName().c_str(), MB_OK | MB_ICONINFORMATION);
    return;
  }
  // A folder (the unpacked download, say): its code_data.bin.
  std::error_code error;
  if (std::filesystem::is_directory(files.front(), error)) {
    FileChosen(files.front() / kDefaultImageFile);
    return;
  }
  FileChosen(files.front());
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

// --- rendering -----------------------------------------------------------------

void CUpdateDlg::Render() {
  const auto now = DialogModel::Clock::now();
  DialogView view = m_model.View(now);
  if (view.lookAtImage) {
    m_model.ImageLooked(LookAtImage(m_model.File(), m_model.FileGiven()));
    view = m_model.View(now);
  }
  const bool all = !m_rendered;
  m_rendered = true;
  // Positions come once a page: only what changed is touched.
  if (all || view.status != m_shown.status) SetLine(m_status, Wide(view.status));
  if (all || view.statusFailed != m_shown.statusFailed) InvalidateRect(m_status, nullptr, FALSE);
  if (all || view.deviceNote != m_shown.deviceNote) SetLine(m_deviceNote, Wide(view.deviceNote));
  if (all || view.progressLine != m_shown.progressLine || view.lineFile != m_shown.lineFile)
    SetLine(m_progressLine, Wide(view.progressLine));
  if (all || view.title != m_shown.title) SetWindowTextW(m_hWnd, Wide(view.title).c_str());
  if (all || view.barRange != m_shown.barRange || view.barPosition != m_shown.barPosition)
    RenderBar(view.barRange, view.barPosition);
  RenderButtons(view);
  RenderTaskbar(view);
  RenderHolds(view);
  const DialogBox box = view.box;
  m_shown = std::move(view);
  RenderBox(box);
}

void CUpdateDlg::RenderBar(uint32_t range, uint32_t position) {
  // The control's range holds 16 bits, as the model's does.
  SendMessageW(m_progress, PBM_SETRANGE, 0, MAKELPARAM(0, range & 0xFFFF));
  SendMessageW(m_progress, PBM_SETPOS, position, 0);
}

void CUpdateDlg::RenderButtons(const DialogView& view) {
  HWND update = GetDlgItem(m_hWnd, IDC_UPDATE);
  // A disabled control keeps no focus: it goes to "取消" first.
  if (!view.updateEnabled && GetFocus() == update)
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hWnd, IDOK)), TRUE);
  EnableWindow(update, view.updateEnabled);
  EnableWindow(GetDlgItem(m_hWnd, IDOK), view.cancelEnabled);
  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE))
    EnableMenuItem(menu, IDM_CHOOSEFILE,
                   MF_BYCOMMAND | (view.chooseFileEnabled ? MF_ENABLED : MF_GRAYED));
}

void CUpdateDlg::RenderTaskbar(const DialogView& view) {
  // The job's percentage while it runs, red where a failure left it,
  // nothing otherwise.
  const bool failed = view.percent < 0 && view.failedAtPercent >= 0;
  const int percent = failed ? view.failedAtPercent : view.percent;
  if (percent == m_shownTaskbar && failed == m_shownFailedTaskbar) return;
  m_shownTaskbar = percent;
  m_shownFailedTaskbar = failed;
  if (failed) m_taskbar.ShowFailed(percent);
  else if (percent >= 0) m_taskbar.Show(percent);
  else m_taskbar.Clear();
}

void CUpdateDlg::RenderHolds(const DialogView& view) {
  if (view.keepAwake && !m_awake) {
    // A laptop that sleeps halfway leaves the device without a database, and
    // so does a restart by Windows Update.
    m_awake = SleepInhibitor::Acquire(kKeepAwakeReason);
    m_shutdown.Hold(m_hWnd, kShutdownReason);
    SetTimer(m_hWnd, kTickTimer, kTickMs, nullptr);
  } else if (!view.keepAwake && m_awake) {
    m_awake.reset();
    m_shutdown.Release();
    KillTimer(m_hWnd, kTickTimer);
  }
  // Windows tells of changes only by notification: while a device may still
  // become usable, the list is looked at again at a short tick.
  if (view.settling && !m_shown.settling) SetTimer(m_hWnd, kSettleTimer, kSettleTickMs, nullptr);
  if (!view.settling && m_shown.settling) KillTimer(m_hWnd, kSettleTimer);
}

void CUpdateDlg::RenderBox(const DialogBox& box) {
  if (box.serial == m_boxWanted) return;
  m_boxWanted = box.serial;
  if (m_boxOpen != 0 && m_boxOpen != box.serial) {
    // Taken away by the model: closed unanswered. Its call returns, and the
    // answer is then left alone.
    if (m_boxWindow) WithdrawChoice(m_boxWindow);
    else if (HWND open = BoxOwnedBy(m_hWnd)) PostMessageW(open, WM_CLOSE, 0, 0);
  }
  if (box.kind != DialogBox::Kind::None && !m_boxPosted) {
    m_boxPosted = true;
    PostMessageW(m_hWnd, WM_APP_OPEN_BOX, 0, 0);
  }
}

void CUpdateDlg::OpenWantedBox() {
  m_boxPosted = false;
  // One box at a time: a box wanted while another is open opens once that
  // one's call has returned.
  if (m_boxOpen != 0) return;
  const DialogBox box = m_shown.box;
  if (box.kind == DialogBox::Kind::None || box.serial != m_boxWanted) return;
  m_boxOpen = box.serial;
  const std::wstring& caption = theApp.AppName();
  int answer = IDCANCEL;
  switch (box.kind) {
    case DialogBox::Kind::None:
      break;
    case DialogBox::Kind::Message:
      // A file refused: why it cannot be written.
      MessageBoxW(m_hWnd, Wide(box.text).c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
      break;
    case DialogBox::Kind::Advice:
      MessageBoxW(m_hWnd, Wide(box.text).c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
      break;
    case DialogBox::Kind::CloseQuestion: {
      // "繼續更新" is the default: Enter, Esc and the close box keep the update.
      const std::vector<Choice> answers{{IDYES, Wide(text::kStopUpdate)},
                                        {IDNO, Wide(text::kKeepUpdating)}};
      answer = AskChoice(m_hWnd, caption, Wide(box.text), answers, IDNO, ChoiceIcon::Warning,
                         &m_boxWindow);
      break;
    }
    case DialogBox::Kind::CopyQuestion: {
      std::vector<Choice> choices{{kTakeCopy, Wide(text::kUseThisFile)}};
      if (!box.keepLabel.empty()) choices.push_back({kKeepFile, Wide(box.keepLabel)});
      choices.push_back({IDCANCEL, Wide(text::kCancel)});
      answer = AskChoice(m_hWnd, caption, Wide(box.text), choices, kTakeCopy,
                         ChoiceIcon::Question, &m_boxWindow);
      break;
    }
  }
  m_boxOpen = 0;
  m_boxWindow = nullptr;
  // A box the model took away meanwhile is over: its answer means nothing.
  if (box.serial == m_boxWanted) {
    switch (box.kind) {
      case DialogBox::Kind::None:
        break;
      case DialogBox::Kind::Message:
      case DialogBox::Kind::Advice:
        m_model.BoxClosed();
        Render();
        break;
      case DialogBox::Kind::CloseQuestion:
        OnCloseAnswered(m_model.CloseAnswered(answer == IDYES));
        break;
      case DialogBox::Kind::CopyQuestion:
        OnCopyAnswered(answer == kTakeCopy   ? DialogModel::CopyAnswer::TakeCopy
                       : answer == kKeepFile ? DialogModel::CopyAnswer::KeepFile
                                             : DialogModel::CopyAnswer::Cancel);
        break;
    }
  }
  // The box the model wants now, if another.
  if (m_shown.box.kind != DialogBox::Kind::None && m_shown.box.serial != box.serial &&
      !m_boxPosted) {
    m_boxPosted = true;
    PostMessageW(m_hWnd, WM_APP_OPEN_BOX, 0, 0);
  }
}

COLORREF CUpdateDlg::StatusColour() const {
  return m_shown.statusFailed && !HighContrastOn() ? kFailureColour
                                                    : GetSysColor(COLOR_WINDOWTEXT);
}

bool CUpdateDlg::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.hwndItem != m_status && item.hwndItem != m_progressLine &&
      item.hwndItem != m_deviceNote)
    return false;
  const auto font = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  const COLORREF colour =
      item.hwndItem == m_status ? StatusColour() : GetSysColor(COLOR_WINDOWTEXT);
  // A file's name too long for the line loses its middle, not its size and
  // date.
  const std::wstring keep = item.hwndItem == m_progressLine && !m_shown.lineFile.empty()
                                ? Wide(DisplayName(m_shown.lineFile))
                                : std::wstring();
  DrawTextLine(item.hDC, item.rcItem, font, WholeText(item.hwndItem), colour, keep);
  return true;
}

void CUpdateDlg::SetLine(HWND line, const std::wstring& text) {
  // The whole text stays the control's, for screen readers and the tooltip.
  SetWindowTextW(line, text.c_str());
  InvalidateRect(line, nullptr, FALSE);
}

std::wstring CUpdateDlg::WholeText(HWND line) const {
  const int length = GetWindowTextLengthW(line);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(line, text.data(), length + 1)));
  return text;
}

bool CUpdateDlg::OnNotify(NMHDR& header) {
  if (header.hwndFrom != m_tooltip || header.code != TTN_GETDISPINFOW) return false;
  auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
  const auto line = reinterpret_cast<HWND>(info.hdr.idFrom);
  m_tooltipText = WholeText(line);
  // Over the file line, the tooltip also says where the file is.
  if (line == m_progressLine && !m_shown.lineFile.empty()) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(m_shown.lineFile, error);
    if (!error) m_tooltipText += L"\n" + full.wstring();
  }
  info.lpszText = m_tooltipText.data();
  return true;
}

}  // namespace gps
