// Update.exe's main dialog, its view side: the model's view drawn onto the
// widgets, its boxes opened and taken away, and the lines the dialog draws
// itself. The events side is update_dlg.cc.
#include "ui/win32/update_dlg.h"

#include <commctrl.h>

#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "hid/win32/wide_text.h"
#include "res/resource.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/image_file.h"
#include "ui/win32/choice_box.h"
#include "ui/win32/high_contrast.h"
#include "ui/win32/text_line.h"
#include "ui/win32/update_app.h"

namespace gps {

namespace {

// The pace of the settle timer and of the time left's tick.
constexpr UINT kSettleTickMs = 250;
constexpr UINT kTickMs = 1000;

// The status line after a failure: a plain dark red reads as one on the
// dialog's usual light background. In high contrast the system's own text
// colour stands in, and the failure reads by its text and its box.
constexpr COLORREF kFailureColour = RGB(0xB0, 0x00, 0x20);

// What the shutdown screen says while an update holds it back.
constexpr wchar_t kShutdownReason[] = L"正在更新設備資料庫，請勿關機或登出。";

// The answers to the offer of a newer download.
constexpr int kTakeCopy = 100;
constexpr int kKeepFile = 101;

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

void CUpdateDlg::AttachLineTooltip() {
  m_tooltip = CreateLineTooltip(m_hWnd, {m_status, m_progressLine, m_deviceNote});
}

// --- rendering -----------------------------------------------------------------

void CUpdateDlg::Render() {
  DialogView view = ViewWithImageLooked(m_model, DialogModel::Clock::now());
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
