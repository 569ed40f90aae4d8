#include "ui/win32/running_copy.h"

#include <windows.h>

namespace gps {
namespace {

// A property of the main dialog's window: its title carries the update's
// percentage while one runs, so it cannot be what a second copy looks for.
constexpr wchar_t kMainDialogProperty[] = L"GpsRoadSafety.Update.MainDialog";

BOOL CALLBACK FindOtherCopy(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  if (!GetPropW(window, kMainDialogProperty)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

void MarkAsRunningCopy(HWND dialog, bool mark) {
  if (mark) {
    SetPropW(dialog, kMainDialogProperty, reinterpret_cast<HANDLE>(1));
  } else {
    RemovePropW(dialog, kMainDialogProperty);
  }
}

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
