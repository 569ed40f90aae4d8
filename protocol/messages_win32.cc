#include "protocol/messages.h"

namespace gps::text {

// On Windows a HID device that will not open for reading and writing is one
// that the system or a policy keeps from this user.
extern const std::string_view kDeviceNoPermission =
    "設備無存取權限! 請洽系統管理員開放此USB設備的存取權限。";

}  // namespace gps::text
