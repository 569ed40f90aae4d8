#include "bench/qt_reporting.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "bench/null_reporter.h"
#include "sim/sim_device.h"
#include "protocol/update_job.h"
#include "ui/common/dialog_model.h"
#include "ui/qt/dialog_reporter.h"

namespace gps {

QtReportingCost MeasureQtReporting(const std::vector<uint8_t>& image, uint32_t length,
                                   int runs) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "gps_bench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* bar = new QProgressBar;
  auto* status = new QLabel;
  layout->addWidget(bar);
  layout->addWidget(status);
  window.show();
  // What the dialog does with each report: the model's view, rendered.
  DialogModel model;
  DialogReporter::Handlers handlers;
  auto render = [&] {
    const DialogView view = model.View(DialogModel::Clock::now());
    status->setText(QString::fromStdString(view.status));
    bar->setRange(0, view.barRange == 0 ? 1 : static_cast<int>(view.barRange));
    bar->setValue(static_cast<int>(view.barPosition));
  };
  handlers.status = [&](const QString& text) {
    model.JobStatus(text.toStdString());
    render();
  };
  handlers.stage = [&](JobStage stage) { model.JobStageBegins(stage, DialogModel::Clock::now()); };
  handlers.range = [&](uint32_t upper) {
    model.JobRange(upper);
    render();
  };
  handlers.position = [&](uint32_t position) {
    model.JobPosition(position, DialogModel::Clock::now());
    render();
  };
  handlers.message = [](const QString&, std::function<void()> closed) { closed(); };
  DialogReporter reporter(std::move(handlers));
  uint64_t positions = 0;
  QObject::connect(bar, &QProgressBar::valueChanged, [&positions] { ++positions; });

  // A heartbeat on the UI thread: the longest gap between two beats is the
  // longest the event loop went without serving its events.
  QElapsedTimer clock;
  clock.start();
  qint64 lastBeat = 0;
  qint64 longestGapNs = 0;
  QTimer heartbeat;
  heartbeat.setTimerType(Qt::PreciseTimer);
  heartbeat.setInterval(1);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longestGapNs = std::max(longestGapNs, now - lastBeat);
    lastBeat = now;
  });

  QtReportingCost cost;
  cost.updateSeconds = 1e300;
  cost.quietSeconds = 1e300;
  NullReporter quiet;
  for (int run = 0; run < 2 * runs; ++run) {
    const bool throughDialog = run % 2 == 0;
    UpdateReporter& used = throughDialog ? static_cast<UpdateReporter&>(reporter) : quiet;
    SimConfig config;
    config.recordReports = false;
    SimDevice device(config);
    SimBus bus(device);
    LinkSettings link;
    link.backend = &bus;
    positions = 0;
    double seconds = 0;
    std::thread worker([&] {
      UpdateJob job(used, link);
      const auto start = std::chrono::steady_clock::now();
      job.UpdateDatabase(image.data(), length);
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
    });
    lastBeat = clock.nsecsElapsed();
    heartbeat.start();
    app.exec();
    heartbeat.stop();
    worker.join();
    app.processEvents();  // the last position the worker posted
    if (!throughDialog) {
      cost.quietSeconds = std::min(cost.quietSeconds, seconds);
    } else if (seconds < cost.updateSeconds) {
      cost.updateSeconds = seconds;
      cost.positionsShown = positions;
    }
  }
  cost.longestUiGapMs = static_cast<double>(longestGapNs) / 1e6;
  return cost;
}

}  // namespace gps
