// The program around the dialog: its command line, the single-instance
// guard, the choice of device, and the dialog's run.
#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>

namespace gps {

class CUpdateDlg;

struct AppOptions {
  std::filesystem::path file = "code_data.bin";
  bool simulate = false;  // update the in-process simulated device instead of USB
  bool help = false;
  bool version = false;
  QString error;          // set when the command line is not understood
};

// `args` without the program's name (and without Qt's own options, which
// QApplication has taken out).
AppOptions ParseAppOptions(const QStringList& args);
QString AppHelpText();

// The application's name (the caption of its message boxes), icon and
// desktop entry.
void SetUpApplication();

struct AppHooks {
  // Tells the user that another copy runs. Default: a message box.
  std::function<void(const QString& text)> showInUse;
  // Runs the dialog and returns the exit status. Default: its modal loop.
  std::function<int(CUpdateDlg& dialog)> runDialog;
};

// Takes the single-instance guard, probes and shows the dialog, and returns
// the program's exit status: 1 when another copy runs, else 0.
int RunUpdateApp(const AppOptions& options, const AppHooks& hooks = {});

}  // namespace gps
