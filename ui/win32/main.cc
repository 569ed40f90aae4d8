// Update.exe: the Windows program that writes code_data.bin into the device.
#include <windows.h>

#include "hid/win32/system_library.h"
#include "ui/win32/device_link.h"
#include "ui/win32/update_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  gps::RestrictDllSearchToSystem();
  return gps::theApp.Run(instance, gps::UpdateBackend());
}
