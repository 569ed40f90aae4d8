#include "ui/win32/update_app.h"

#include <commctrl.h>

#include "hid/win32/system_library.h"
#include "hid/win32/wide_text.h"
#include "ui/common/image_file.h"
#include "ui/common/instance_guard.h"
#include "ui/win32/default_image.h"
#include "ui/win32/file_choice.h"
#include "ui/win32/running_copy.h"
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
  // Before any window: a second copy says so, brings the first forward and
  // ends without touching the device; with no guard at all nothing runs,
  // since two updates at once would interleave on the one device.
  m_guard = InstanceGuard::Acquire();
  switch (m_guard->state()) {
    case InstanceGuard::State::Held:
      break;
    case InstanceGuard::State::AlreadyRunning:
      MessageBoxW(nullptr, WideFromUtf8(text::kSoftwareInUse).c_str(), m_appName.c_str(),
                  MB_OK | MB_ICONINFORMATION);
      BringRunningCopyForward();
      return 1;
    case InstanceGuard::State::Unavailable: {
      std::string text(text::kInstanceLockFailed);
      if (!m_guard->problem().empty()) text += "\n(" + m_guard->problem() + ")";
      MessageBoxW(nullptr, WideFromUtf8(text).c_str(), m_appName.c_str(), MB_OK | MB_ICONERROR);
      return kInstanceGuardUnavailableStatus;
    }
  }
  InitInstance();
  return 0;
}

BOOL CUpdateApp::InitInstance() {
  // The progress bar's window class comes from the common controls library,
  // which is not a known DLL: it is loaded from the system folder (the
  // manifest still picks its version 6 there).
  using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto initControls = SystemFunction<InitCommonControlsExFn>(
      LoadSystemLibrary(L"comctl32.dll"), "InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls{sizeof(controls),
                                 ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  if (initControls) initControls(&controls);

  // A file named on the command line (or dropped onto the program's icon)
  // is the one "更新" writes.
  // Otherwise code_data.bin, from the first folder that has it.
  const std::optional<std::filesystem::path> file = CommandLineFile();
  DefaultImageSearch search;
  if (!file) search = FindDefaultImage(kDefaultImageFile);
  CUpdateDlg dlg(*m_backend, file.value_or(search.file), file.has_value());
  dlg.SetSearchedFolders(search.searched);
  dlg.DoModal();
  return FALSE;
}

}  // namespace gps
