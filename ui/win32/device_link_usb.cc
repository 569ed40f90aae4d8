#include "ui/win32/device_link.h"

namespace gps {

HidBackend& UpdateBackend() { return PlatformHidBackend(); }

}  // namespace gps
