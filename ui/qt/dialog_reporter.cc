#include "ui/qt/dialog_reporter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include <algorithm>
#include <utility>

#include "ui/qt/qt_text.h"

namespace gps {
namespace {

const QEvent::Type kPositionEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kRequestEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

class DialogReporter::RequestEvent : public QEvent {
 public:
  RequestEvent(uint64_t requestId, Kind requestKind, QString requestText,
               uint32_t requestValue)
      : QEvent(kRequestEvent),
        id(requestId),
        kind(requestKind),
        text(std::move(requestText)),
        value(requestValue) {}
  const uint64_t id;
  const Kind kind;
  const QString text;
  const uint32_t value;
};

DialogReporter::DialogReporter(Handlers handlers, QObject* parent)
    : QObject(parent), m_handlers(std::move(handlers)) {}

DialogReporter::~DialogReporter() { Detach(); }

void DialogReporter::SetStatusText(std::string_view text) {
  Request(Kind::Status, FromUtf8(text), 0);
}

void DialogReporter::SetProgressRange(uint32_t upper) { Request(Kind::Range, {}, upper); }

void DialogReporter::StageBegins(JobStage stage) {
  Request(Kind::Stage, {}, static_cast<uint32_t>(stage));
}

void DialogReporter::ShowMessage(std::string_view text) {
  Request(Kind::Message, FromUtf8(text), 0);
}

void DialogReporter::SetProgressPosition(uint32_t position) {
  if (m_detached.load(std::memory_order_relaxed)) return;
  m_latestPosition.store(position, std::memory_order_release);
  // The UI thread clears the flag before it reads the position, so a
  // position stored while an event is pending is always picked up: by that
  // event, or by the next one posted here.
  if (!m_positionPending.exchange(true, std::memory_order_acq_rel))
    QCoreApplication::postEvent(this, new QEvent(kPositionEvent));
}

void DialogReporter::Request(Kind kind, QString text, uint32_t value) {
  uint64_t id = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_detached.load(std::memory_order_acquire)) return;
    id = ++m_issued;
  }
  QCoreApplication::postEvent(this, new RequestEvent(id, kind, std::move(text), value));
  std::unique_lock<std::mutex> lock(m_mutex);
  m_completedChanged.wait(lock, [&] {
    return m_completed >= id || m_detached.load(std::memory_order_acquire);
  });
}

void DialogReporter::Complete(uint64_t id) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_completed = std::max(m_completed, id);
  }
  m_completedChanged.notify_all();
}

void DialogReporter::Detach() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_detached.store(true, std::memory_order_release);
  }
  m_completedChanged.notify_all();
}

void DialogReporter::customEvent(QEvent* event) {
  if (m_detached.load(std::memory_order_acquire)) return;
  if (event->type() == kPositionEvent) {
    ShowPendingPosition();
    return;
  }
  if (event->type() != kRequestEvent) return;
  const auto& request = *static_cast<RequestEvent*>(event);
  // A position the job set before this request is shown before it.
  ShowPendingPosition();
  switch (request.kind) {
    case Kind::Status:
      if (m_handlers.status) m_handlers.status(request.text);
      emit StatusShown(request.text);
      Complete(request.id);
      break;
    case Kind::Stage:
      if (m_handlers.stage) m_handlers.stage(static_cast<JobStage>(request.value));
      Complete(request.id);
      break;
    case Kind::Range:
      if (m_handlers.range) m_handlers.range(request.value);
      emit RangeShown(request.value);
      Complete(request.id);
      break;
    case Kind::Message: {
      // The worker waits until the box is closed; the UI thread does not.
      QPointer<DialogReporter> self(this);
      const uint64_t id = request.id;
      auto closed = [self, id] {
        if (self) self->Complete(id);
      };
      if (m_handlers.message) {
        m_handlers.message(request.text, std::move(closed));
      } else {
        closed();
      }
      break;
    }
  }
}

void DialogReporter::ShowPendingPosition() {
  if (!m_positionPending.exchange(false, std::memory_order_acq_rel)) return;
  const uint32_t position = m_latestPosition.load(std::memory_order_acquire);
  if (m_handlers.position) m_handlers.position(position);
}

}  // namespace gps
