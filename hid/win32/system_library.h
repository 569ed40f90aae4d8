// Loading Windows' own DLLs from the system folder only.
//
// A program that users start from their Downloads folder must not load a
// DLL that someone placed beside it. The loader looks in the program's own
// folder first for every DLL that is not one of Windows' known DLLs, and
// imports are resolved before any code of the program runs. So the programs
// import known DLLs only, and load every other system DLL (hid.dll,
// comctl32.dll) here, from the system folder, on first use.
#pragma once

#include <windows.h>

namespace gps {

// Takes the program's own folder and the current folder out of the DLL
// search for the rest of the process: every later load searches the system
// folder only. Call it first thing in each entry point.
void RestrictDllSearchToSystem();

// Loads `name` (for example L"hid.dll") from the system folder, never from
// anywhere else. Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The address of `function` in `module` as a pointer of type F; null when
// either is missing.
template <typename F>
F SystemFunction(HMODULE module, const char* function) {
  if (!module) return nullptr;
  // FARPROC stands for any function; the caller names the real type.
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, function)));
}

}  // namespace gps
