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
  setFixedSize(DluX(235), DluY(55));

  auto* icon = new QLabel(this);
  icon->setObjectName("icon");
  icon->setPixmap(QIcon(QStringLiteral(":/app.png")).pixmap(32, 32));
  icon->setAlignment(Qt::AlignCenter);
  icon->setGeometry(DluRect(11, 17, 20, 20));

  auto* version = new QLabel(QStringLiteral("Update " GPS_VERSION_SHORT " 版"), this);
  version->setObjectName("version");
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(DluRect(40, 10, 119, 8));

  auto* purpose = new QLabel(QStringLiteral("道路安全警示裝置 資料庫更新程式"), this);
  purpose->setObjectName("purpose");
  purpose->setTextFormat(Qt::PlainText);
  purpose->setGeometry(DluRect(40, 25, 119, 8));

  auto* licence = new QLabel(QStringLiteral(GPS_LICENSE_NOTE), this);
  licence->setObjectName("licence");
  licence->setTextFormat(Qt::PlainText);
  licence->setGeometry(DluRect(40, 38, 119, 8));

  auto* ok = new QPushButton(QStringLiteral("確定"), this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  ok->setGeometry(DluRect(178, 7, 50, 14));
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace gps
