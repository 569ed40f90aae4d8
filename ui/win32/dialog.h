// A small modal dialog class over the Win32 dialog manager: a template, a
// modal loop (DialogBoxParamW) and message handlers as virtual functions.
#pragma once

#include <windows.h>

namespace gps {

class CDialog {
 public:
  CDialog(UINT templateId, HWND parent);
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the dialog from its template, runs its modal loop until it ends,
  // destroys the window and returns the end code (-1 when it could not open).
  INT_PTR DoModal();

  HWND GetSafeHwnd() const { return m_hWnd; }

 protected:
  // WM_INITDIALOG: TRUE lets the dialog manager focus the first tab stop.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Every other message. Returns true when it handled the message, with the
  // dialog procedure's result in `result`; false leaves it to the default
  // handling of the dialog manager. This base handles only the commands IDOK
  // and IDCANCEL, through OnOK and OnCancel.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  virtual void OnOK() { EndDialog(m_hWnd, IDOK); }
  virtual void OnCancel() { EndDialog(m_hWnd, IDCANCEL); }

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_templateId;
  HWND m_parent;
};

}  // namespace gps
