#include "ui/win32/update_dlg.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <initializer_list>
#include <optional>
#include <string>
#include <system_error>
#include <vector>


#include "hid/device_match.h"
#include "hid/backend_win32.h"
#include "hid/device_view_backend.h"
#include "hid/win32/wide_text.h"
#include "protocol/device_probe.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "res/resource.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/failure_advice.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/image_file.h"
#include "ui/common/instance_guard.h"
#include "ui/win32/about_dlg.h"
#include "ui/win32/choice_box.h"
#include "ui/win32/default_image.h"
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

// While a device that would not open may still become usable after a
// change, it is probed again at this pace.
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
// After "找不到 code_data.bin": where it was looked for (joined by "、").
constexpr wchar_t kSearchedPrefix[] = L"（已找過 ";
constexpr wchar_t kSearchedSuffix[] = L"）";

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

}  // namespace

CUpdateDlg::CUpdateDlg(HidBackend& backend, std::filesystem::path file, bool fileGiven)
    : CDialog(IDD_UPDATE_DIALOG, nullptr), m_session(std::move(file), fileGiven) {
  m_link.backend = &backend;
  m_link.stop = &m_stop;
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

  Probe();
  ShowProgressLine();
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

void CUpdateDlg::Probe() {
  // Opens the device once and closes it again; its text tells the user
  // whether an update can start.
  const ProbeResult probe = ProbeDevice(m_link);
  // Counted from the bus's list alone: no device is opened to count it.
  const std::size_t attached =
      MatchingInterfaces(*m_link.backend, HID_VENDOR_ID, HID_PRODUCT_ID).size();
  SetStatusText(WideFromUtf8(probe.text).c_str());
  // The note has a line of its own, so that the status line keeps its words.
  std::wstring note = WideFromUtf8(text::DeviceStatusText("", attached));
  if (note.size() >= 2 && note.front() == L'（' && note.back() == L'）')
    note = note.substr(1, note.size() - 2);
  SetLine(m_deviceNote, note);
  m_session.ProbeShown(probe.outcome);
}

void CUpdateDlg::OnDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* header) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
  // Nothing of this touches the device while an update has it, and an
  // update's last message stays.
  const auto now = UpdateSession::Clock::now();
  if (!m_session.DeviceListChanged(now)) return;
  Probe();
  if (m_session.Settling(now)) SetTimer(m_hWnd, kSettleTimer, kSettleTickMs, nullptr);
}

void CUpdateDlg::OnSettleTimer() {
  const auto now = UpdateSession::Clock::now();
  if (m_session.ProbeAgain(now)) Probe();
  if (!m_session.Settling(now)) KillTimer(m_hWnd, kSettleTimer);
}

bool CUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
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
      SetStatusText(reinterpret_cast<const wchar_t*>(lParam));
      m_session.UpdateTextShown();
      ShowProgressLine();
      return true;
    case WM_APP_STAGE_BEGINS:
      m_jobProgress.OnStage(static_cast<JobStage>(wParam), UpdateProgress::Clock::now());
      ShowProgressLine();
      return true;
    case WM_APP_SET_RANGE:
      SetProgressRange(static_cast<uint32_t>(wParam));
      m_jobProgress.OnRange(static_cast<uint32_t>(wParam));
      return true;
    case WM_APP_SET_POSITION:
      SetProgressPosition(static_cast<uint32_t>(wParam));
      m_jobProgress.OnPosition(static_cast<uint32_t>(wParam), UpdateProgress::Clock::now());
      ShowProgressLine();
      return true;
    case WM_APP_SHOW_MESSAGE:
      ShowMessage(reinterpret_cast<const wchar_t*>(lParam));
      return true;
    case WM_APP_WORKER_DONE:
      OnWorkerDone();
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
      if (wParam == kSettleTimer) OnSettleTimer();
      else if (wParam == kTickTimer) ShowProgressLine();
      else return CDialog::OnMessage(message, wParam, lParam, result);
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
        return true;
      }
      return CDialog::OnMessage(message, wParam, lParam, result);
  }
}

void CUpdateDlg::SetStatusText(const wchar_t* text) { SetLine(m_status, text); }

void CUpdateDlg::SetLine(HWND line, const std::wstring& text) {
  // The whole text stays the control's, for screen readers and the tooltip.
  SetWindowTextW(line, text.c_str());
  InvalidateRect(line, nullptr, FALSE);
}

void CUpdateDlg::SetProgressRange(uint32_t upper) {
  // The control's range holds 16 bits; the update never sets more.
  SendMessageW(m_progress, PBM_SETRANGE, 0, MAKELPARAM(0, upper & 0xFFFF));
}

void CUpdateDlg::SetProgressPosition(uint32_t position) {
  SendMessageW(m_progress, PBM_SETPOS, position, 0);
}

void CUpdateDlg::ShowMessage(const wchar_t* text) {
  // A user who has chosen to close is not kept by a message of the update
  // being stopped.
  if (!m_session.ShowsMessages()) return;
  // The update's boxes all tell why the file could not be written.
  MessageBoxW(m_hWnd, text, theApp.AppName().c_str(), MB_OK | MB_ICONERROR);
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

void CUpdateDlg::OnUpdate() {
  // One update at a time, and the device is the worker's while it runs.
  if (!m_session.MayStartUpdate()) return;
  // As the command-line program does, a look at the device first: with none
  // there the user is told so, nothing is sent, and "更新" stays usable.
  switch (m_session.UpdatePressed(ProbeDevice(m_link).outcome)) {
    case UpdateSession::StartAction::Nothing:
      return;
    case UpdateSession::StartAction::NoDevice:
      m_failed = false;
      SetStatusText(WideFromUtf8(text::kDeviceConnectFailed).c_str());
      return;
    case UpdateSession::StartAction::AskAboutCopy:
      AskAboutCopy();
      return;
    case UpdateSession::StartAction::Start:
      StartUpdate();
      return;
  }
}

void CUpdateDlg::AskAboutCopy() {
  const ImageChoice image = m_session.Offered();
  std::vector<Choice> choices{{kTakeCopy, WideFromUtf8(text::kUseThisFile)}};
  if (image.found) {
    choices.push_back(
        {kKeepFile, WideFromUtf8(std::string(text::kUseFilePrefix) + DisplayName(image.file))});
  }
  choices.push_back({IDCANCEL, WideFromUtf8(text::kCancel)});
  const int answer = AskChoice(m_hWnd, theApp.AppName(), WideFromUtf8(OfferQuestion(image)),
                               choices, kTakeCopy, ChoiceIcon::Question);
  using Answer = UpdateSession::CopyAnswer;
  const bool start = m_session.CopyAnswered(answer == kTakeCopy   ? Answer::TakeCopy
                                            : answer == kKeepFile ? Answer::KeepFile
                                                                  : Answer::Cancel);
  ShowProgressLine();
  if (start) StartUpdate();
}

void CUpdateDlg::StartUpdate() {
  HWND button = GetDlgItem(m_hWnd, IDC_UPDATE);
  // A disabled control keeps no focus: give it to "取消" first.
  if (GetFocus() == button)
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hWnd, IDOK)),
                 TRUE);
  EnableWindow(button, FALSE);
  EnableChooseFile(false);
  m_stop.Reset();
  m_failed = false;
  m_writing = m_session.File();
  const std::optional<ImageFile> image = InspectImage(m_writing);
  m_jobProgress.Begin(image ? image->size : 0, UpdateProgress::Clock::now());
  m_worker = CreateThread(nullptr, 0, UpdateThreadProc, this, 0, nullptr);
  if (!m_worker) {
    m_jobProgress = UpdateProgress();
    EnableWindow(button, TRUE);
    EnableChooseFile(true);
    return;
  }
  // The worker's first request waits for this thread, which marks the
  // update started before it serves it.
  m_session.UpdateStarted();
  // A laptop that sleeps halfway leaves the device without a database.
  m_awake = SleepInhibitor::Acquire(kKeepAwakeReason);
  // And so does a restart by Windows Update.
  m_shutdown.Hold(m_hWnd, kShutdownReason);
  SetTimer(m_hWnd, kTickTimer, kTickMs, nullptr);
  ShowProgressLine();
}

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

void CUpdateDlg::OnWorkerDone() {
  if (!m_worker) return;
  // The worker has posted its last message and is returning.
  WaitForSingleObject(m_worker, INFINITE);
  CloseHandle(m_worker);
  m_worker = nullptr;
  m_jobProgress.End(UpdateProgress::Clock::now());
  m_awake.reset();
  m_shutdown.Release();
  KillTimer(m_hWnd, kTickTimer);
  const UpdateSession::AfterUpdate after = m_session.UpdateEnded();
  // The update is over: the question about stopping it goes, unanswered, and
  // the user reads the update's last text.
  if (after == UpdateSession::AfterUpdate::WithdrawQuestion) WithdrawChoice(m_closeQuestion);
  if (after == UpdateSession::AfterUpdate::Close) {
    // The stop the user asked for has its own last word.
    SetStatusText(WideFromUtf8(text::kUpdateStopped).c_str());
    m_taskbar.Clear();
    EndDialog(m_hWnd, m_session.CloseCode());
    return;
  }
  EnableWindow(GetDlgItem(m_hWnd, IDC_UPDATE), TRUE);
  EnableChooseFile(true);
  ShowProgressLine();
  ShowFailure();
}

void CUpdateDlg::ShowProgressLine() {
  const auto now = UpdateProgress::Clock::now();
  if (m_title.empty()) {
    wchar_t title[256] = {};
    GetWindowTextW(m_hWnd, title, static_cast<int>(std::size(title)));
    m_title = title;
  }
  std::wstring line;
  std::wstring title = m_title;
  int percent = -1;  // no progress on the taskbar button
  m_lineIsFile = false;
  if (m_jobProgress.Running() && m_jobProgress.DeviceTouched()) {
    const std::string step = m_jobProgress.Line(now);
    line = step.empty() ? WideFromUtf8(text::kDoNotUnplug)
                        : WideFromUtf8(step) + L"　" + WideFromUtf8(text::kDoNotUnplug);
    if (m_jobProgress.Step() > 0) {
      percent = m_jobProgress.Percent();
      title = std::to_wstring(percent) + L"% - " + m_title;
    }
  } else if (const std::string end = m_jobProgress.EndLine(); !end.empty()) {
    line = WideFromUtf8(end);
  } else {
    // Before the update has touched the device (a box about the file may be
    // up), the line still tells of the file.
    const ImageChoice& image = m_session.Image();
    line = WideFromUtf8(FileLine(image));
    m_lineIsFile = true;
    if (!image.found && !image.offer && !m_searched.empty() &&
        image.file == std::filesystem::path(kDefaultImageFile)) {
      line += kSearchedPrefix;
      for (size_t i = 0; i < m_searched.size(); ++i)
        line += (i ? L"、" : L"") + m_searched[i].wstring();
      line += kSearchedSuffix;
    }
  }
  // Reports come once a page; the texts change far less often.
  if (line != m_shownLine) {
    m_shownLine = line;
    SetLine(m_progressLine, line);
  }
  if (title != m_shownTitle) {
    m_shownTitle = title;
    SetWindowTextW(m_hWnd, title.c_str());
  }
  if (percent != m_shownPercent && m_jobProgress.Running()) {
    m_shownPercent = percent;
    if (percent >= 0) m_taskbar.Show(percent);
  }
}

COLORREF CUpdateDlg::StatusColour() const {
  return m_failed && !HighContrastOn() ? kFailureColour : GetSysColor(COLOR_WINDOWTEXT);
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
  const std::wstring keep = item.hwndItem == m_progressLine && m_lineIsFile
                                ? WideFromUtf8(DisplayName(m_session.Image().file))
                                : std::wstring();
  DrawTextLine(item.hDC, item.rcItem, font, WholeText(item.hwndItem), colour, keep);
  return true;
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
  if (line == m_progressLine && m_lineIsFile) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(m_session.Image().file, error);
    if (!error) m_tooltipText += L"\n" + full.wstring();
  }
  info.lpszText = m_tooltipText.data();
  return true;
}

void CUpdateDlg::OnEndSession() {
  if (!m_worker) return;
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

void CUpdateDlg::OnDropFiles(HDROP drop) {
  const std::vector<std::filesystem::path> files = DroppedFiles(drop);
  if (files.empty()) return;
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

void CUpdateDlg::EnableChooseFile(bool enabled) {
  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE))
    EnableMenuItem(menu, IDM_CHOOSEFILE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void CUpdateDlg::ShowFailure() {
  const JobEnd end = EndOfJob(m_outcome, m_jobProgress.DeviceTouched(), m_writing);
  m_shownPercent = -1;
  if (!EndsInFailureText(end)) {
    m_taskbar.Clear();
    return;
  }
  m_failed = true;
  InvalidateRect(m_status, nullptr, FALSE);
  m_taskbar.ShowFailed(m_jobProgress.Percent());
  // The bar stays where the update got to; it empties only after a success.
  if (m_jobProgress.DeviceTouched()) {
    SetProgressRange(m_jobProgress.BarRange());
    SetProgressPosition(m_jobProgress.BarPosition());
  }
  const std::string advice = Advice(end, FrontEnd::Dialog);
  if (advice.empty()) return;
  MessageBoxW(m_hWnd, WideFromUtf8(advice).c_str(), theApp.AppName().c_str(),
              MB_OK | MB_ICONWARNING);
}

void CUpdateDlg::OnChooseFile() {
  if (!m_session.MayStartUpdate()) return;  // the running update keeps its file
  const std::filesystem::path& current = m_session.File();
  const std::filesystem::path folder =
      current.has_parent_path() ? current.parent_path() : std::filesystem::current_path();
  const auto file =
      PickFile(m_hWnd, folder, WideFromUtf8(text::kChooseFile),
               WideFromUtf8(text::kImageFilesFilter), kAllFilesFilter);
  if (file) FileChosen(*file);
}

void CUpdateDlg::FileChosen(const std::filesystem::path& file) {
  if (!m_session.FileChosen(file)) return;
  // The line tells of the new file, no longer of the last update, and the
  // taskbar button no longer of its failure.
  m_jobProgress = UpdateProgress();
  m_taskbar.Clear();
  m_shownPercent = -1;
  ShowProgressLine();
}

void CUpdateDlg::OnClose(int code) {
  switch (m_session.CloseRequested()) {
    case UpdateSession::CloseAction::Close:
      EndDialog(m_hWnd, code);
      return;
    case UpdateSession::CloseAction::Ignore:  // already stopping, or asking
      return;
    case UpdateSession::CloseAction::Ask:
      break;
  }
  // "繼續更新" is the default: Enter, Esc and the close box keep the update.
  const std::vector<Choice> answers{{IDYES, WideFromUtf8(text::kStopUpdate)},
                                    {IDNO, WideFromUtf8(text::kKeepUpdating)}};
  const int answer = AskChoice(m_hWnd, theApp.AppName(), WideFromUtf8(text::kConfirmClose),
                               answers, IDNO, ChoiceIcon::Warning, &m_closeQuestion);
  switch (m_session.CloseAnswered(answer == IDYES, code)) {
    case UpdateSession::AnswerAction::KeepRunning:
      return;
    case UpdateSession::AnswerAction::Close:  // the update ended while the user was asked
      EndDialog(m_hWnd, code);
      return;
    case UpdateSession::AnswerAction::StopUpdate:
      break;
  }
  // The worker's next transfer ends at once; the dialog closes when the
  // worker tells it has ended, and serves its last reports until then.
  m_stop.Set();
  EnableWindow(GetDlgItem(m_hWnd, IDOK), FALSE);
}

}  // namespace gps
