// gps-update: the update in a desktop dialog.
#include <QApplication>

#include <cstdio>

#include "res/version.h"
#include "ui/qt/app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  gps::SetUpApplication();
  const gps::AppOptions options = gps::ParseAppOptions(QApplication::arguments().mid(1));
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "gps-update: %s\nTry 'gps-update --help' for more information.\n",
                 options.error.toLocal8Bit().constData());
    return 2;
  }
  if (options.help) {
    std::fputs(gps::AppHelpText().toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("gps-update " GPS_VERSION);
    return 0;
  }
  return gps::RunUpdateApp(options);
}
