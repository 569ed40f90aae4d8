#include <windows.h>

#include "hid/stop_event.h"

namespace gps {

// An unnamed manual-reset event, so that the Win32 backend can wait on it
// together with a transfer's completion event in one WaitForMultipleObjects.
struct StopEvent::Impl {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~Impl() {
    if (event) CloseHandle(event);
  }
};

StopEvent::StopEvent() : impl_(std::make_unique<Impl>()) {}
StopEvent::~StopEvent() = default;

void StopEvent::Set() { SetEvent(impl_->event); }
void StopEvent::Reset() { ResetEvent(impl_->event); }

bool StopEvent::IsSet() const {
  return WaitForSingleObject(impl_->event, 0) == WAIT_OBJECT_0;
}

bool StopEvent::WaitFor(uint32_t timeoutMs) const {
  return WaitForSingleObject(impl_->event, timeoutMs) == WAIT_OBJECT_0;
}

void* StopEvent::NativeHandle() const { return impl_->event; }

}  // namespace gps
