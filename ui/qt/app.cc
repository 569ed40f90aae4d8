#include "ui/qt/app.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

#include "protocol/messages.h"
#include "sim/demo_device.h"
#include "ui/common/instance_guard.h"
#include "ui/qt/update_dlg.h"

namespace gps {

AppOptions ParseAppOptions(const QStringList& args) {
  AppOptions options;
  bool haveFile = false;
  bool onlyFiles = false;
  for (const QString& arg : args) {
    if (!onlyFiles && arg == "--") {
      onlyFiles = true;
    } else if (!onlyFiles && arg == "--simulate") {
      options.simulate = true;
    } else if (!onlyFiles && (arg == "--help" || arg == "-h")) {
      options.help = true;
    } else if (!onlyFiles && arg == "--version") {
      options.version = true;
    } else if (!onlyFiles && arg.startsWith('-') && arg.size() > 1) {
      options.error = QStringLiteral("unknown option '%1'").arg(arg);
      return options;
    } else if (haveFile) {
      options.error = QStringLiteral("only one image file can be given");
      return options;
    } else {
      options.file = std::filesystem::path(QFile::encodeName(arg).toStdString());
      haveFile = true;
    }
  }
  return options;
}

QString AppHelpText() {
  return QStringLiteral(
      "Usage: gps-update [OPTION]... [FILE]\n"
      "Write the database image FILE (default: code_data.bin in the current\n"
      "directory) into the GPS road-safety warning device, from a dialog.\n"
      "\n"
      "  --simulate  update the built-in simulated device instead of USB\n"
      "  --help      show this help and exit\n"
      "  --version   show the version and exit\n"
      "\n"
      "Exit status: 0 when the dialog was closed, 1 when another copy of the\n"
      "updater is running, 2 when the command line was not understood.\n");
}

void SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("gps-update"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
  QGuiApplication::setDesktopFileName(QStringLiteral("gps-update"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/app.png")));
}

int RunUpdateApp(const AppOptions& options, const AppHooks& hooks) {
  // Held until the process ends.
  const auto guard = InstanceGuard::Acquire();
  if (guard->state() == InstanceGuard::State::AlreadyRunning) {
    const QString text = QString::fromUtf8(text::kSoftwareInUse);
    if (hooks.showInUse) {
      hooks.showInUse(text);
    } else {
      QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text);
      box.setDefaultButton(box.addButton(QStringLiteral("確定"), QMessageBox::AcceptRole));
      box.exec();
    }
    return 1;
  }

  std::unique_ptr<DemoDevice> demo;
  LinkSettings link;
  if (options.simulate) {
    demo = std::make_unique<DemoDevice>();
    link.backend = &demo->bus;
  }
  CUpdateDlg dialog(link, options.file);
  if (hooks.runDialog) return hooks.runDialog(dialog);
  dialog.exec();
  return 0;
}

}  // namespace gps
