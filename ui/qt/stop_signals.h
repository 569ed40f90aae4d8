// SIGTERM and SIGINT for the desktop program: a logout, a shutdown, `kill`
// or Ctrl+C in the terminal that started it.
//
// Left to their default, they end the program at once, in the middle of a
// page if an update runs. Instead, as the command-line program does, the
// first one stops the update at its next report with the device closed, the
// stop text is shown, and the program ends with status 128 + the signal's
// number. A second one ends the program as usual.
//
// A signal handler may do almost nothing: it writes the signal's number to
// a pipe, and a QSocketNotifier on the pipe's other end hands it to the
// event loop.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace gps {

class StopSignals : public QObject {
  Q_OBJECT

 public:
  // Catches SIGTERM and SIGINT from now until it is destroyed. One at a time.
  StopSignals();
  ~StopSignals() override;

  // The first signal caught, 0 while none was.
  int Caught() const { return caught_; }

 signals:
  // On the event loop's thread, for the first signal only.
  void Stop(int signal);

 private:
  void OnReadable();

  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  int caught_ = 0;
};

}  // namespace gps
