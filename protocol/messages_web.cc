#include <emscripten.h>

#include "protocol/messages.h"

namespace gps::text {
namespace {

// In the browser, a device that will not open is refused by the system
// under the browser: on Linux (not ChromeOS or Android) the mode of
// /dev/hidraw*, which the udev rule of the Linux program grants; elsewhere
// it is the administrator's to allow.
EM_JS(int, BrowserOnDesktopLinux, (), {
  const ua = typeof navigator !== "undefined" ? navigator.userAgent || "" : "";
  return /Linux/.test(ua) && !/Android|CrOS/.test(ua) ? 1 : 0;
});

std::string_view NoPermissionText() {
  return BrowserOnDesktopLinux()
             ? "設備無存取權限! 請安裝 udev 規則 70-gps-update.rules 後重新插入設備。"
             : "設備無存取權限! 請洽系統管理員開放此USB設備的存取權限。";
}

}  // namespace

extern const std::string_view kDeviceNoPermission = NoPermissionText();

}  // namespace gps::text
