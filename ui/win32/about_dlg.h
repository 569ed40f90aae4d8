// The About box: the program's icon, name and version, and what it is for.
#pragma once

#include "ui/win32/dialog.h"

namespace gps {

class CAboutDlg : public CDialog {
 public:
  // The owner is disabled while the box is open.
  explicit CAboutDlg(HWND owner);
};

}  // namespace gps
