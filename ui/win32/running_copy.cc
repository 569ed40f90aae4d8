#include "ui/win32/running_copy.h"

#include <windows.h>

#include <string>

namespace gps {
namespace {

// The main dialog's caption (IDD_UPDATE_DIALOG) and the dialog manager's
// window class.
constexpr wchar_t kMainCaption[] = L"道路安全警示系統更新介面";
constexpr wchar_t kDialogClass[] = L"#32770";

BOOL CALLBACK FindOtherCopy(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  wchar_t name[16] = {};
  wchar_t caption[64] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  GetWindowTextW(window, caption, static_cast<int>(std::size(caption)));
  if (std::wstring(name) != kDialogClass || std::wstring(caption) != kMainCaption) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

void BringRunningCopyForward() {
  HWND other = nullptr;
  EnumWindows(FindOtherCopy, reinterpret_cast<LPARAM>(&other));
  if (!other) return;
  if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
  // Allowed: the user has just started this process and answered its box,
  // so it holds the foreground that it hands on here. A message box of the
  // running copy (the About box, a question) comes first, as it must.
  SetForegroundWindow(GetLastActivePopup(other));
}

}  // namespace gps
