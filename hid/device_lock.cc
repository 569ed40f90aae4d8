#include "hid/device_lock.h"

#include <mutex>
#include <set>
#include <utility>

namespace gps {
namespace {

using Key = std::pair<const void*, std::string>;

std::mutex& ClaimsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::set<Key>& Claims() {
  static std::set<Key> claims;
  return claims;
}

class InProcessLock : public DeviceLock {
 public:
  explicit InProcessLock(Key key) : key_(std::move(key)) {}
  ~InProcessLock() override {
    const std::lock_guard<std::mutex> hold(ClaimsMutex());
    Claims().erase(key_);
  }

 private:
  Key key_;
};

}  // namespace

DeviceClaim ClaimInProcess(const void* owner, const std::string& path) {
  const std::lock_guard<std::mutex> hold(ClaimsMutex());
  Key key{owner, path};
  if (!Claims().insert(key).second) return {true, nullptr};
  return {false, std::make_unique<InProcessLock>(std::move(key))};
}

}  // namespace gps
