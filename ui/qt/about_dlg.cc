#include "ui/qt/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "res/version.h"
#include "ui/qt/dialog_units.h"

namespace gps {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("about");
  setWindowTitle(QStringLiteral("關於 Update"));
  setFixedSize(DluSize(LAYOUT_ABOUT_DIALOG));

  auto* icon = new QLabel(this);
  icon->setObjectName("icon");
  icon->setPixmap(QIcon(QStringLiteral(":/app.png")).pixmap(32, 32));
  icon->setAlignment(Qt::AlignCenter);
  icon->setGeometry(DluRect(LAYOUT_ABOUT_ICON));

  auto* version = new QLabel(QStringLiteral("Update " GPS_VERSION_SHORT " 版"), this);
  version->setObjectName("version");
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(DluRect(LAYOUT_ABOUT_VERSION));

  auto* purpose = new QLabel(QStringLiteral("道路安全警示裝置 資料庫更新程式"), this);
  purpose->setObjectName("purpose");
  purpose->setTextFormat(Qt::PlainText);
  purpose->setGeometry(DluRect(LAYOUT_ABOUT_PURPOSE));

  auto* licence = new QLabel(QStringLiteral(GPS_LICENSE_NOTE), this);
  licence->setObjectName("licence");
  licence->setTextFormat(Qt::PlainText);
  licence->setGeometry(DluRect(LAYOUT_ABOUT_LICENCE));

  auto* ok = new QPushButton(QStringLiteral("確定"), this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  ok->setGeometry(DluRect(LAYOUT_ABOUT_OK));
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace gps
