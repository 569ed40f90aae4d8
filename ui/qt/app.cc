#include "ui/qt/app.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include <memory>

#include "protocol/messages.h"
#include "sim/demo_device.h"
#include "res/version.h"
#include "ui/common/single_instance.h"
#include "ui/common/program_options.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/stop_signals.h"
#include "ui/qt/update_dlg.h"

namespace gps {

namespace {

// QGuiApplication's and QApplication's own options, with one dash or two,
// and whether each takes the next argument as its value (unless written
// as -option=value).
struct QtOption {
  const char* name;
  bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true},      {"platformpluginpath", true}, {"platformtheme", true},
    {"plugin", true},        {"qwindowgeometry", true},    {"qwindowicon", true},
    {"qwindowtitle", true},  {"session", true},            {"display", true},
    {"geometry", true},      {"style", true},              {"stylesheet", true},
    {"qmljsdebugger", false}, {"reverse", false},          {"widgetcount", false},
    {"nograb", false},       {"dograb", false},            {"sync", false},
};

// The Qt option `arg` names, if any.
const QtOption* QtOptionOf(const std::string& arg) {
  std::string name = arg.substr(arg.rfind("--", 0) == 0 ? 2 : 1);
  name = name.substr(0, name.find('='));
  for (const QtOption& option : kQtOptions)
    if (name == option.name) return &option;
  return nullptr;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") onlyFiles = true;
    const QtOption* qt = onlyFiles || arg.size() < 2 || arg[0] != '-' ? nullptr : QtOptionOf(arg);
    if (!qt) {
      args.push_back(arg);
    } else if (qt->takesValue && arg.find('=') == std::string::npos) {
      ++i;  // its value
    }
  }
  return args;
}

AppOptions ParseAppOptions(const std::vector<std::string>& args) {
  // The options gps-update-cli takes too, parsed and refused in its words.
  AppOptions options;
  const ProgramOptions common = ParseProgramOptions(
      args, [&](const std::vector<std::string>& all, std::size_t& at, std::string&) {
        if (all[at] != "--in-downloads") return OwnOption::NotMine;
        options.inDownloads = true;
        return OwnOption::Taken;
      });
  options.file = common.file;
  options.fileGiven = common.fileGiven;
  options.simulate = common.simulate;
  options.help = common.help;
  options.version = common.version;
  options.error = QString::fromLocal8Bit(common.error);
  return options;
}

QString AppHelpText() {
  return QStringLiteral(
      "Usage: gps-update [OPTION]... [FILE]\n"
      "Write the database image FILE (default: code_data.bin in the current\n"
      "directory) into the GPS road-safety warning device, from a dialog.\n"
      "\n"
      "  --simulate  update the built-in simulated device instead of USB\n"
      "  --in-downloads  without FILE, take code_data.bin from the download\n"
      "              folder (as the menu entry does)\n"
      "  --help      show this help and exit\n"
      "  --version   show the version and exit\n"
      "\n"
      "Exit status: 0 when the dialog was closed, 1 when another copy of the\n"
      "updater is running, 2 when the command line was not understood, 15 when\n"
      "no single-instance lock could be had safely (nothing was updated), 17\n"
      "when --help or --version could not write its output.\n");
}

std::filesystem::path ImageToWrite(const AppOptions& options) {
  if (options.fileGiven || !options.inDownloads) return options.file;
  const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  if (downloads.isEmpty()) return options.file;
  return ToPath(downloads) / options.file;
}

void SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("gps-update"));
  QApplication::setApplicationVersion(QStringLiteral(GPS_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("gps-update"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/app.png")));
}

int RunUpdateApp(const AppOptions& options, const AppHooks& hooks) {
  // Before the dialog and before any device; held until the process ends.
  const SingleInstance instance = TakeSingleInstance();
  if (!instance.rule.goOn) {
    QString text = QString::fromUtf8(instance.rule.text);
    if (!instance.rule.problem.empty()) text += "\n" + QString::fromUtf8(instance.rule.problem);
    if (hooks.showRefusal) {
      hooks.showRefusal(text);
    } else {
      QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text);
      box.setTextFormat(Qt::PlainText);  // the path is the file system's
      box.setDefaultButton(box.addButton(QStringLiteral("確定"), QMessageBox::AcceptRole));
      box.exec();
    }
    return instance.rule.exitStatus;
  }

  std::unique_ptr<DemoDevice> demo;
  LinkSettings link;
  if (options.simulate) {
    demo = std::make_unique<DemoDevice>();
    link.backend = &demo->bus;
  }
  CUpdateDlg dialog(link, ImageToWrite(options), options.fileGiven);
  // SIGTERM (a logout, a shutdown, kill) and SIGINT stop an update as a
  // confirmed close does, and the program then ends with 128 + the signal.
  StopSignals stopSignals;
  QObject::connect(&stopSignals, &StopSignals::Stop, &dialog,
                   [&dialog](int) { dialog.Terminate(); });
  int status = kAppExitClosed;
  if (hooks.runDialog) {
    status = hooks.runDialog(dialog);
  } else {
    dialog.exec();
  }
  return stopSignals.Caught() ? 128 + stopSignals.Caught() : status;
}

}  // namespace gps
