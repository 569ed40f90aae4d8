// A manual-reset event that asks a waiting transfer to give up.
//
// It is the one signal that crosses threads in the device link: a front end
// sets it from its UI thread to stop an update, and the transfer that is
// waiting on the worker thread ends with failure and resets it. Each platform
// supplies the implementation its backend can wait on (a Win32 event object
// there, a flag with a condition variable elsewhere).
#pragma once

#include <cstdint>
#include <memory>

namespace gps {

class StopEvent {
 public:
  StopEvent();
  ~StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

  // Waits until the event is set or `timeoutMs` has passed; true when set.
  bool WaitFor(uint32_t timeoutMs) const;

  // The platform object behind the event (a HANDLE on Windows), for backends
  // that wait on it together with their own completion events.
  void* NativeHandle() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace gps
