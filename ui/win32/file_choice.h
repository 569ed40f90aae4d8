// The ways a user names the file "更新" writes, on Windows: the program's
// command line (a file dropped onto Update.exe's icon arrives there), a file
// dropped onto the window, and the system's file dialog. shell32 and comdlg32
// are loaded from the system folder on first use.
#pragma once

#include <windows.h>
#include <shellapi.h>  // HDROP

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace gps {

// The first argument after the program's name, if any.
std::optional<std::filesystem::path> CommandLineFile();

// Lets files be dropped onto `window` (it then receives WM_DROPFILES).
void AcceptDroppedFiles(HWND window);
// The files (and folders) of a WM_DROPFILES; releases `drop`.
std::vector<std::filesystem::path> DroppedFiles(HDROP drop);

// The system's open dialog over `owner`, in `folder`, for one existing file;
// empty when the user cancels. `title` and the filters are the dialog's.
std::optional<std::filesystem::path> PickFile(HWND owner, const std::filesystem::path& folder,
                                              const std::wstring& title,
                                              const std::wstring& imageFilter,
                                              const std::wstring& allFilter);

}  // namespace gps
