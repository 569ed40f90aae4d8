// The COM calls Update.exe makes (the taskbar button, the picture's
// decoding), loaded from ole32.dll at run time, as every system DLL beyond
// the known ones is (hid/win32/system_library.h).
#pragma once

#include <windows.h>

#include "hid/win32/system_library.h"

namespace gps {

using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
using CoUninitializeFn = void(WINAPI*)();
using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);

// Loaded once, on first use, and kept for the process.
inline HMODULE Ole32() {
  static const HMODULE module = LoadSystemLibrary(L"ole32.dll");
  return module;
}

}  // namespace gps
