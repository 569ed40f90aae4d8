#include "hid/win32/system_library.h"

#include <string>

namespace gps {
namespace {

// Both come with Windows 8, and with Windows 7 only after its update
// KB2533623: they are looked up, so that the programs start without it.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

HMODULE Kernel32() { return GetModuleHandleW(L"kernel32.dll"); }

}  // namespace

void RestrictDllSearchToSystem() {
  const auto setDefault =
      SystemFunction<SetDefaultDllDirectoriesFn>(Kernel32(), "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Without it the current folder at least leaves the search; the program's
  // own folder stays, which LoadSystemLibrary avoids by its full path.
  SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  // Windows 7 without KB2533623 refuses the flag with ERROR_INVALID_PARAMETER.
  if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // A full path is loaded from there and nowhere else.
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace gps
