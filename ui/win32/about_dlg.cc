#include "ui/win32/about_dlg.h"

#include "res/resource.h"

namespace gps {

CAboutDlg::CAboutDlg(HWND owner) : CDialog(IDD_ABOUTBOX, owner) {}

}  // namespace gps
