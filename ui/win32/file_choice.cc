#include "ui/win32/file_choice.h"

#include <commdlg.h>
#include <shellapi.h>

#include <vector>

#include "hid/win32/system_library.h"

namespace gps {
namespace {

// Loaded once, on first use, and kept for the process.
HMODULE Shell32() {
  static const HMODULE module = LoadSystemLibrary(L"shell32.dll");
  return module;
}

}  // namespace

std::optional<std::filesystem::path> CommandLineFile() {
  using CommandLineToArgvFn = LPWSTR*(WINAPI*)(LPCWSTR, int*);
  const auto split = SystemFunction<CommandLineToArgvFn>(Shell32(), "CommandLineToArgvW");
  if (!split) return std::nullopt;
  int count = 0;
  LPWSTR* args = split(GetCommandLineW(), &count);
  if (!args) return std::nullopt;
  std::optional<std::filesystem::path> file;
  if (count > 1 && args[1][0] != L'\0') file = std::filesystem::path(args[1]);
  LocalFree(args);
  return file;
}

void AcceptDroppedFiles(HWND window) {
  using DragAcceptFilesFn = void(WINAPI*)(HWND, BOOL);
  if (const auto accept = SystemFunction<DragAcceptFilesFn>(Shell32(), "DragAcceptFiles"))
    accept(window, TRUE);
}

std::optional<std::filesystem::path> DroppedFile(HDROP drop) {
  using DragQueryFileFn = UINT(WINAPI*)(HDROP, UINT, LPWSTR, UINT);
  using DragFinishFn = void(WINAPI*)(HDROP);
  const auto query = SystemFunction<DragQueryFileFn>(Shell32(), "DragQueryFileW");
  const auto finish = SystemFunction<DragFinishFn>(Shell32(), "DragFinish");
  std::optional<std::filesystem::path> file;
  if (query && query(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
    const UINT length = query(drop, 0, nullptr, 0);
    std::wstring name(length + 1, L'\0');
    if (query(drop, 0, name.data(), length + 1) == length) {
      name.resize(length);
      file = std::filesystem::path(name);
    }
  }
  if (finish) finish(drop);
  return file;
}

std::optional<std::filesystem::path> PickFile(HWND owner, const std::filesystem::path& folder,
                                              const std::wstring& title,
                                              const std::wstring& imageFilter,
                                              const std::wstring& allFilter) {
  using GetOpenFileNameFn = BOOL(WINAPI*)(OPENFILENAMEW*);
  const auto open = SystemFunction<GetOpenFileNameFn>(LoadSystemLibrary(L"comdlg32.dll"),
                                                      "GetOpenFileNameW");
  if (!open) return std::nullopt;
  // Pairs of a description and its patterns, each ending in a NUL, and one
  // more NUL at the end.
  std::wstring filters = imageFilter + L'\0' + L"*.bin" + L'\0' + allFilter + L'\0' + L"*.*" +
                         L'\0' + L'\0';
  std::vector<wchar_t> name(32768, L'\0');
  const std::wstring initial = folder.wstring();
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filters.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  dialog.lpstrInitialDir = initial.empty() ? nullptr : initial.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER |
                 OFN_NOCHANGEDIR;
  if (!open(&dialog)) return std::nullopt;
  return std::filesystem::path(name.data());
}

}  // namespace gps
