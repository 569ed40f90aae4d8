#include <windows.h>

#include <string>

#include "ui/common/instance_guard.h"

namespace gps {

std::unique_ptr<InstanceGuard> InstanceGuard::Acquire() {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"GPS_UPDATE_CLIENT");
  const DWORD error = GetLastError();
  // A mutex made by another user's copy, or at a higher integrity level,
  // exists but cannot be opened: that copy is running too.
  if ((mutex && error == ERROR_ALREADY_EXISTS) || (!mutex && error == ERROR_ACCESS_DENIED)) {
    if (mutex) CloseHandle(mutex);
    return std::unique_ptr<InstanceGuard>(new InstanceGuard(State::AlreadyRunning, 0));
  }
  if (!mutex) {
    return std::unique_ptr<InstanceGuard>(new InstanceGuard(
        State::Unavailable, 0, "CreateMutexW: " + std::to_string(error)));
  }
  return std::unique_ptr<InstanceGuard>(
      new InstanceGuard(State::Held, reinterpret_cast<std::intptr_t>(mutex)));
}

// The mutex stays with the process until it ends, as the system releases it
// then; closing it earlier would let a second copy in while this one exits.
InstanceGuard::~InstanceGuard() = default;

// The guard is a named mutex of the session; when it cannot be made, a
// new logon gives the session a fresh namespace.
extern const std::string_view text::kInstanceLockFailed =
    "無法建立執行鎖定，未進行更新! 請重新登入後再試。";

}  // namespace gps
