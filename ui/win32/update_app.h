// The application object: starts the program, runs the main dialog modally,
// and ends the process when the dialog closes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "hid/hid_backend.h"
#include "ui/common/instance_guard.h"

namespace gps {

class CUpdateApp {
 public:
  // The program's entry; returns the process's exit status. The dialog
  // probes and updates the device through `backend`.
  int Run(HINSTANCE instance, HidBackend& backend);
  // Creates the main dialog and runs it until it closes. FALSE: the program
  // has no message loop of its own and ends with the dialog.
  BOOL InitInstance();

  // Takes the single-instance guard and holds it until the process ends.
  InstanceGuard::State TakeInstanceGuard();

  // The module with the resources: the executable.
  HINSTANCE Instance() const { return m_hInstance ? m_hInstance : GetModuleHandleW(nullptr); }
  // Caption of the program's message boxes: the executable's file name
  // without its extension ("Update").
  const std::wstring& AppName() const { return m_appName; }

  HWND m_pMainWnd = nullptr;
  // What Run returns once the dialog has closed: 1 when this copy gave way
  // to one that already runs.
  int m_nExitCode = 0;

 private:
  HINSTANCE m_hInstance = nullptr;
  HidBackend* m_backend = nullptr;
  std::wstring m_appName;
  std::unique_ptr<InstanceGuard> m_guard;
};

extern CUpdateApp theApp;

}  // namespace gps
