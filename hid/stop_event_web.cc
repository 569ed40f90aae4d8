// The stop event in the browser. There is one thread there: an update runs
// on the page's thread and waits through Asyncify, so a wait must hand the
// thread back to the browser (a timer or the stop wakes it) rather than
// block it. The event's state lives in JavaScript (stop_event_web.js), where
// the page can set it while the core is paused in a transfer.
#include <emscripten.h>

#include "hid/stop_event.h"

namespace gps {
namespace {

EM_JS(int, StopCreate, (), { return gpsStopEvents.create(); });
EM_JS(void, StopDestroy, (int id), { gpsStopEvents.destroy(id); });
EM_JS(void, StopSet, (int id), { gpsStopEvents.set(id); });
EM_JS(void, StopReset, (int id), { gpsStopEvents.reset(id); });
EM_JS(int, StopIsSet, (int id), { return gpsStopEvents.isSet(id) ? 1 : 0; });
EM_ASYNC_JS(int, StopWait, (int id, uint32_t ms), {
  return (await gpsStopEvents.wait(id, ms)) ? 1 : 0;
});

}  // namespace

struct StopEvent::Impl {
  int id;
};

StopEvent::StopEvent() : impl_(std::make_unique<Impl>(Impl{StopCreate()})) {}
StopEvent::~StopEvent() { StopDestroy(impl_->id); }

void StopEvent::Set() { StopSet(impl_->id); }
void StopEvent::Reset() { StopReset(impl_->id); }
bool StopEvent::IsSet() const { return StopIsSet(impl_->id) != 0; }
bool StopEvent::WaitFor(uint32_t timeoutMs) const { return StopWait(impl_->id, timeoutMs) != 0; }

// The number of the event in stop_event_web.js, which the WebHID backend
// hands to its waits.
void* StopEvent::NativeHandle() const {
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(impl_->id));
}

}  // namespace gps
