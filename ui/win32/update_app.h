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
  // The program's entry; returns the process's exit status: 0, 1 when
  // another copy runs, 15 when no single-instance guard could be had. The
  // dialog probes and updates the device through `backend`.
  int Run(HINSTANCE instance, HidBackend& backend);
  // Creates the main dialog and runs it until it closes. FALSE: the program
  // has no message loop of its own and ends with the dialog.
  BOOL InitInstance();

  // The module with the resources: the executable.
  HINSTANCE Instance() const { return m_hInstance ? m_hInstance : GetModuleHandleW(nullptr); }
  // Caption of the program's message boxes: the executable's file name
  // without its extension ("Update").
  const std::wstring& AppName() const { return m_appName; }

  // Run's status when no single-instance guard could be had: the
  // command-line program's for the same case.
  static constexpr int kInstanceGuardUnavailableStatus = 15;

 private:
  HINSTANCE m_hInstance = nullptr;
  HidBackend* m_backend = nullptr;
  std::wstring m_appName;
  std::unique_ptr<InstanceGuard> m_guard;  // held until the process ends
};

extern CUpdateApp theApp;

}  // namespace gps
