#include "protocol/messages.h"

namespace gps::text {

// On Windows a HID device that will not open for reading and writing is one
// that the system or a policy keeps from this user.
extern const std::string_view kDeviceNoPermission =
    "設備無存取權限! 請洽系統管理員開放此USB設備的存取權限。";

// The guard is a named mutex of the session; when it cannot be made, a
// new logon gives the session a fresh namespace.
extern const std::string_view kInstanceLockFailed =
    "無法建立執行鎖定，未進行更新! 請重新登入後再試。";

}  // namespace gps::text
