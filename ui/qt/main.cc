// gps-update: the update in a desktop dialog.
#include <QApplication>

#include <cstdio>

#include "res/version.h"
#include "ui/qt/app.h"

namespace {

// Answers --help and --version; false when the options ask for neither.
bool PrintInfo(const gps::AppOptions& options) {
  if (options.help) {
    std::fputs(gps::AppHelpText().toLocal8Bit().constData(), stdout);
    return true;
  }
  if (options.version) {
    std::puts("gps-update " GPS_VERSION);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer before QApplication exists, which needs a
  // display: they work over ssh and in scripts. A command line that also
  // holds one of Qt's own options (-platform ...) is not understood yet, and
  // is read again once QApplication has taken those out.
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  const gps::AppOptions early = gps::ParseAppOptions(args);
  if (early.error.isEmpty() && PrintInfo(early)) return 0;

  QApplication app(argc, argv);
  gps::SetUpApplication();
  const gps::AppOptions options = gps::ParseAppOptions(QApplication::arguments().mid(1));
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "gps-update: %s\nTry 'gps-update --help' for more information.\n",
                 options.error.toLocal8Bit().constData());
    return 2;
  }
  if (PrintInfo(options)) return 0;
  return gps::RunUpdateApp(options);
}
