// The About box: the program's icon, its name and version, and one line on
// what it does.
#pragma once

#include <QDialog>

namespace gps {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace gps
