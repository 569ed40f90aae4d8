// The program around the dialog: its command line, the single-instance
// guard, the choice of device, and the dialog's run.
#pragma once

#include <QString>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ui/common/image_file.h"
#include "ui/common/single_instance.h"

namespace gps {

class CUpdateDlg;

struct AppOptions {
  std::filesystem::path file = kDefaultImageFile;
  bool fileGiven = false;
  // --in-downloads (the menu entry's): without FILE, code_data.bin is looked
  // for in the user's download folder, where a browser puts it, instead of
  // the current folder (from a menu, the home folder).
  bool inDownloads = false;
  bool simulate = false;  // update the in-process simulated device instead of USB
  bool help = false;
  bool version = false;
  QString error;          // set when the command line is not understood
};

// The exit statuses the program ends with; those it shares with
// gps-update-cli have the same numbers.
enum AppExitStatus : int {
  kAppExitClosed = 0,         // the dialog was closed
  kAppExitAlreadyRunning = kInstanceInUseStatus,  // another copy of the updater is running
  kAppExitUsage = 2,          // the command line could not be understood
  kAppExitNoLock = kInstanceNoLockStatus,  // no single-instance lock could be had safely
  kAppExitOutputFailed = 17,  // --help or --version could not write its output
};

// The program's arguments after its name, as the system's own bytes (a file
// name need not be valid UTF-8), without the options that QApplication takes
// for itself (-platform NAME, -style=NAME, ...). They are read before
// QApplication exists, so that --help, --version and a command line error
// need no display.
std::vector<std::string> ProgramArguments(int argc, char** argv);

AppOptions ParseAppOptions(const std::vector<std::string>& args);
// The image "更新" writes: FILE; with --in-downloads and no FILE,
// code_data.bin in the user's download folder (XDG_DOWNLOAD_DIR), or in the
// current folder where there is none. Needs the application object.
std::filesystem::path ImageToWrite(const AppOptions& options);
QString AppHelpText();

// The application's name (the caption of its message boxes), icon and
// desktop entry.
void SetUpApplication();

struct AppHooks {
  // Tells the user why the program will not run: another copy runs, or no
  // lock could be had. Default: a message box.
  std::function<void(const QString& text)> showRefusal;
  // Runs the dialog and returns the exit status. Default: its modal loop.
  std::function<int(CUpdateDlg& dialog)> runDialog;
};

// Takes the single-instance guard, probes and shows the dialog, and returns
// the program's exit status.
int RunUpdateApp(const AppOptions& options, const AppHooks& hooks = {});

}  // namespace gps
