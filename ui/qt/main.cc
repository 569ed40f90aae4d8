// gps-update: the update in a desktop dialog.
#include <QApplication>

#include <cstdio>

#include "res/version.h"
#include "ui/common/process_setup.h"
#include "ui/qt/app.h"

namespace {

// --help and --version: their output is all they do, so output that went
// nowhere (`>/dev/full`) is a failure.
int Print(const QString& text) {
  const bool written = std::fputs(text.toLocal8Bit().constData(), stdout) >= 0 &&
                       std::fflush(stdout) == 0;
  if (written) return gps::kAppExitClosed;
  std::fputs("gps-update: the output could not be written\n", stderr);
  return gps::kAppExitOutputFailed;
}

}  // namespace

int main(int argc, char** argv) {
  gps::PrepareProcess();  // before anything is opened
  // Before QApplication, which needs a display and ends the process without
  // one.
  const gps::AppOptions options = gps::ParseAppOptions(gps::ProgramArguments(argc, argv));
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "gps-update: %s\nTry 'gps-update --help' for more information.\n",
                 options.error.toLocal8Bit().constData());
    return gps::kAppExitUsage;
  }
  if (options.help) return Print(gps::AppHelpText());
  if (options.version) return Print(QStringLiteral("gps-update " GPS_VERSION "\n"));

  QApplication app(argc, argv);
  gps::SetUpApplication();
  return gps::RunUpdateApp(options);
}
