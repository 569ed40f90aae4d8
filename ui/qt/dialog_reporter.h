// The update's reports in the Qt dialog: the worker thread's status texts,
// stages, ranges, positions and messages, handed to the UI thread in the
// order the job made them. What they change on screen is the dialog's
// model's to say; this only carries them across.
//
// Status texts, stages, ranges and messages are synchronous requests: the worker
// posts one to the UI thread and waits until it has been served (a message
// until the user has closed its box). Progress positions come once per page,
// 65,377 times for the largest image, and a round trip each would cost the
// update more than the page itself; so the worker only stores the latest
// position and posts one event when none is pending, and the UI thread shows
// whatever is latest when the event arrives. Before it serves any
// synchronous request the UI thread shows the pending position first, so the
// user sees positions and texts in the order the job set them.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

#include "protocol/update_reporter.h"

namespace gps {

class DialogReporter : public QObject, public UpdateReporter {
  Q_OBJECT

 public:
  // Shows `text` in a box and calls `closed` once the user has closed it.
  // It must not wait for the box itself: the request stays open, and the
  // worker waits, until `closed` runs.
  using MessagePresenter =
      std::function<void(const QString& text, std::function<void()> closed)>;

  // What each request does once it reaches the UI thread.
  struct Handlers {
    std::function<void(const QString& text)> status;
    std::function<void(JobStage stage)> stage;
    std::function<void(uint32_t upper)> range;
    std::function<void(uint32_t position)> position;
    MessagePresenter message;
  };

  // Lives on the UI thread; the handlers' objects must outlive it.
  explicit DialogReporter(Handlers handlers, QObject* parent = nullptr);
  ~DialogReporter() override;

  // Worker thread.
  void SetStatusText(std::string_view text) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPosition(uint32_t position) override;
  void ShowMessage(std::string_view text) override;
  void StageBegins(JobStage stage) override;

  // UI thread: from now on every request returns at once without touching a
  // widget, and a worker waiting on one is released. For a dialog that goes
  // away while its worker still runs.
  void Detach();

 signals:
  // After a status text or a range has been handled (for observers and
  // tests; positions show through the bar's own valueChanged).
  void StatusShown(const QString& text);
  void RangeShown(uint32_t upper);

 protected:
  void customEvent(QEvent* event) override;

 private:
  enum class Kind { Status, Stage, Range, Message };
  class RequestEvent;

  // Posts a request and waits until the UI thread has completed it.
  void Request(Kind kind, QString text, uint32_t value);
  void Complete(uint64_t id);
  void ShowPendingPosition();

  Handlers m_handlers;

  // Positions: the latest from the worker, and whether an event for it is
  // on its way.
  std::atomic<uint32_t> m_latestPosition{0};
  std::atomic<bool> m_positionPending{false};

  // Synchronous requests: issued and completed in order, one at a time.
  std::mutex m_mutex;
  std::condition_variable m_completedChanged;
  uint64_t m_issued = 0;     // guarded by m_mutex
  uint64_t m_completed = 0;  // guarded by m_mutex
  std::atomic<bool> m_detached{false};
};

}  // namespace gps
