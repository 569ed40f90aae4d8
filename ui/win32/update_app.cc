#include "ui/win32/update_app.h"

#include <commctrl.h>

#include "hid/win32/system_library.h"
#include "ui/win32/file_choice.h"
#include "ui/win32/update_dlg.h"

namespace gps {

CUpdateApp theApp;

namespace {

std::wstring ExecutableStem() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring name(path, n);
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

int CUpdateApp::Run(HINSTANCE instance, HidBackend& backend) {
  m_hInstance = instance;
  m_backend = &backend;
  m_appName = ExecutableStem();
  InitInstance();
  return m_nExitCode;
}

BOOL CUpdateApp::InitInstance() {
  // The progress bar's window class comes from the common controls library,
  // which is not a known DLL: it is loaded from the system folder (the
  // manifest still picks its version 6 there).
  using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto initControls = SystemFunction<InitCommonControlsExFn>(
      LoadSystemLibrary(L"comctl32.dll"), "InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  if (initControls) initControls(&controls);

  // A file named on the command line (or dropped onto the program's icon)
  // is the one "更新" writes.
  const std::optional<std::filesystem::path> file = CommandLineFile();
  CUpdateDlg dlg(*m_backend, file.value_or(kDefaultImageFile), file.has_value());
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

InstanceGuard::State CUpdateApp::TakeInstanceGuard() {
  if (!m_guard) m_guard = InstanceGuard::Acquire();
  return m_guard->state();
}

}  // namespace gps
