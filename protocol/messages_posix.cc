#include "protocol/messages.h"

namespace gps::text {

// On Linux a device without permission is one whose /dev/hidraw* node the
// user may not open: the udev rule installed with the program grants it.
extern const std::string_view kDeviceNoPermission =
    "設備無存取權限! 請安裝 udev 規則 70-gps-update.rules 後重新插入設備。";

// The lock lives in $XDG_RUNTIME_DIR or in /tmp/gps-update-UID; either
// must belong to this user alone.
extern const std::string_view kInstanceLockFailed =
    "無法建立執行鎖定，未進行更新! 請確認執行目錄只屬於目前使用者。";

}  // namespace gps::text
