#include "ui/win32/dialog.h"

namespace gps {
namespace {

// Both templates sit at (0, 0), which means "centred": over the owner when
// there is one, else in the work area of the monitor the dialog is on.
void Center(HWND window, HWND owner) {
  RECT area;
  if (owner) {
    GetWindowRect(owner, &area);
  } else {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    area = monitor.rcWork;
  }
  RECT self;
  GetWindowRect(window, &self);
  const int width = self.right - self.left;
  const int height = self.bottom - self.top;
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                         DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
  if (message != WM_COMMAND) return false;
  // The dialog manager turns Enter, Esc and the close box into these too.
  switch (LOWORD(wParam)) {
    case IDOK:
      OnOK();
      result = TRUE;
      return true;
    case IDCANCEL:
      OnCancel();
      result = TRUE;
      return true;
    default:
      return false;
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_hWnd = window;
    Center(window, self->m_parent);
    return self->OnInitDialog();
  }
  // Messages before WM_INITDIALOG (WM_SETFONT and the like) find no object.
  auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  INT_PTR result = FALSE;
  const bool handled = self->OnMessage(message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  return handled ? result : FALSE;
}

}  // namespace gps
