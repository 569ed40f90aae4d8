#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "hid/stop_event.h"

namespace gps {

// The flag is read on every transfer, so it is an atomic that needs no lock;
// the mutex and condition variable serve only the waits.
struct StopEvent::Impl {
  std::atomic<bool> set{false};
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
};

StopEvent::StopEvent() : impl_(std::make_unique<Impl>()) {}
StopEvent::~StopEvent() = default;

void StopEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->set.store(true, std::memory_order_release);
  }
  impl_->changed.notify_all();
}

void StopEvent::Reset() { impl_->set.store(false, std::memory_order_release); }

bool StopEvent::IsSet() const {
  return impl_->set.load(std::memory_order_acquire);
}

bool StopEvent::WaitFor(uint32_t timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->changed.wait_for(
      lock, std::chrono::milliseconds(timeoutMs),
      [this] { return impl_->set.load(std::memory_order_acquire); });
}

void* StopEvent::NativeHandle() const { return nullptr; }

}  // namespace gps
