#include "ui/win32/default_image.h"

#include <windows.h>

#include <system_error>

#include "hid/win32/system_library.h"
#include "ui/common/image_file.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
  std::wstring path(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  return fs::path(path).parent_path();
}

// FOLDERID_Downloads, which Windows 7 and later know.
constexpr GUID kDownloadsFolder = {
    0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};

fs::path DownloadsFolder() {
  using GetKnownFolderPathFn = HRESULT(WINAPI*)(REFGUID, DWORD, HANDLE, PWSTR*);
  using CoTaskMemFreeFn = void(WINAPI*)(void*);
  const auto known = SystemFunction<GetKnownFolderPathFn>(LoadSystemLibrary(L"shell32.dll"),
                                                          "SHGetKnownFolderPath");
  const auto release =
      SystemFunction<CoTaskMemFreeFn>(LoadSystemLibrary(L"ole32.dll"), "CoTaskMemFree");
  if (!known || !release) return {};
  PWSTR path = nullptr;
  fs::path folder;
  if (SUCCEEDED(known(kDownloadsFolder, 0, nullptr, &path)) && path) folder = path;
  release(path);
  return folder;
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

}  // namespace

DefaultImageSearch FindDefaultImage(const fs::path& name) {
  DefaultImageSearch search{name, {}};
  std::error_code error;
  const fs::path current = fs::current_path(error);
  for (const fs::path& folder : {current, ProgramFolder(), DownloadsFolder()}) {
    if (folder.empty()) continue;
    bool seen = false;
    for (const fs::path& other : search.searched) seen = seen || SameFolder(folder, other);
    if (seen) continue;
    search.searched.push_back(folder);
    // The current folder's file keeps its short name, as it always had.
    const fs::path file = search.searched.size() == 1 && folder == current ? name : folder / name;
    if (InspectImage(file) || NewestNumberedCopy(file)) {
      search.file = file;
      return search;
    }
  }
  return search;
}

}  // namespace gps
