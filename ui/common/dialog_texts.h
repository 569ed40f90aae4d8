// Texts of the desktop dialogs that are not the update's own, in UTF-8, so
// that the Windows and the Linux program say the same thing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gps::text {

// Asked when the user closes the dialog while an update runs.
inline constexpr std::string_view kConfirmClose =
    "更新尚未完成。\n\n現在關閉會中斷更新，設備可能因此沒有資料庫而無法正常使用，"
    "需要再執行一次更新。\n\n確定要中斷更新並關閉嗎?";

// The close question's answers: stop the update and close, or go on.
inline constexpr std::string_view kStopUpdate = "中斷更新";
inline constexpr std::string_view kKeepUpdating = "繼續更新";

// The menu entry that picks the file "更新" writes, and the file dialog's
// filters.
inline constexpr std::string_view kChooseFile = "選擇檔案…";
inline constexpr std::string_view kImageFilesFilter = "資料庫檔案 (*.bin)";
inline constexpr std::string_view kAllFilesFilter = "所有檔案 (*)";
// Several things dropped on the window at once: which to write is not
// guessed.
inline constexpr std::string_view kOneFileOnly = "請一次只選一個檔案。";

// The answers to the question about a newer download: the download, the
// file as it is ("使用 code_data.bin"), or nothing.
inline constexpr std::string_view kUseFilePrefix = "使用 ";  // + the file's name
inline constexpr std::string_view kCancel = "取消";

// With several devices attached: how many, and that the dialog updates the
// first while the command line's --all updates them all. Empty for one or
// none.
inline std::string DeviceCountNote(std::size_t attached) {
  if (attached < 2) return {};
  return "已連接 " + std::to_string(attached) +
         " 台設備，本程式只更新第一台；gps-update-cli --all 可同時更新全部";
}

// The probe's text on the status line, with the note above in brackets
// after it where the dialog has no line of its own for the note.
inline std::string DeviceStatusText(std::string_view probeText, std::size_t attached) {
  std::string text(probeText);
  if (const std::string note = DeviceCountNote(attached); !note.empty()) text += "（" + note + "）";
  return text;
}

// After "找不到 code_data.bin", where the program looked for it: "（已找過 "
// + the folders joined by "、" + "）".
inline constexpr std::string_view kSearchedPrefix = "（已找過 ";
inline constexpr std::string_view kSearchedSeparator = "、";
inline constexpr std::string_view kSearchedSuffix = "）";

}  // namespace gps::text
