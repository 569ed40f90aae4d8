#include "protocol/messages.h"

namespace gps::text {

// On Linux a device without permission is one whose /dev/hidraw* node the
// user may not open: the udev rule installed with the program grants it.
extern const std::string_view kDeviceNoPermission =
    "設備無存取權限! 請安裝 udev 規則 70-gps-update.rules 後重新插入設備。";

}  // namespace gps::text
