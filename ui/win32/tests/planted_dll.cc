// A stand-in for a system DLL, as someone might place one beside the
// programs in a Downloads folder. Loaded into a process, it leaves its mark:
// a file named after itself with ".ran" appended, beside itself. The
// planted-DLL test builds it as hid.dll and as comctl32.dll, puts both beside
// the programs and checks that no mark appears.
#include <windows.h>

namespace {

void LeaveMark(HMODULE self) {
  wchar_t path[MAX_PATH + 8] = {};
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  lstrcatW(path, L".ran");
  HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveMark(self);
  return TRUE;
}

// The entries that the programs take from the real DLLs, so that a program
// that imported them would load this one and start.
#define GPS_PLANTED_ENTRY(name) \
  extern "C" __declspec(dllexport) BOOL WINAPI name() { return FALSE; }
GPS_PLANTED_ENTRY(HidD_GetHidGuid)
GPS_PLANTED_ENTRY(HidD_GetAttributes)
GPS_PLANTED_ENTRY(HidD_GetSerialNumberString)
GPS_PLANTED_ENTRY(HidD_GetPreparsedData)
GPS_PLANTED_ENTRY(HidD_FreePreparsedData)
GPS_PLANTED_ENTRY(HidP_GetCaps)
GPS_PLANTED_ENTRY(InitCommonControlsEx)
GPS_PLANTED_ENTRY(InitCommonControls)
