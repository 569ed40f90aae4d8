// What the front ends tell the user beyond the update's own status texts:
// how far the job is, what a failure means for the device and what to do,
// and which file "更新" will write. In UTF-8, shared by the command line and
// both dialogs so that they say the same thing.
#pragma once

#include <string_view>

namespace gps::text {

// The line under the bar: the step of two, then the whole job's percentage.
inline constexpr std::string_view kStepErasing = "步驟 1/2 清除中";
inline constexpr std::string_view kStepWriting = "步驟 2/2 寫入中";
inline constexpr std::string_view kTimeLeftPrefix = "，剩餘約 ";  // + a duration
inline constexpr std::string_view kStoppedAtPrefix = "更新停止於";  // + the step line
inline constexpr std::string_view kFinishedPrefix = "更新完成，";  // + the total time
inline constexpr std::string_view kTookPrefix = "共用時 ";        // + a duration
inline constexpr std::string_view kComma = "，";
inline constexpr std::string_view kMinutes = " 分鐘";
inline constexpr std::string_view kMinute = " 分 ";
inline constexpr std::string_view kSeconds = " 秒";

// Shown while the device is in use.
inline constexpr std::string_view kDoNotUnplug = "更新中，請勿拔除設備";

// The status text that a stop the user asked for adds after the stage's own.
inline constexpr std::string_view kUpdateStopped = "已中斷更新! 請再執行一次更新。";

// After a failure: what it means for the device and what to do. "%again%"
// stands for what runs the update again on that front end.
inline constexpr std::string_view kAdviceIncomplete =
    "更新沒有完成：設備上的資料庫現在可能不完整，設備可能無法正常使用。"
    "請檢查USB連接線，再%again%：更新隨時可以從頭再執行一次。";
inline constexpr std::string_view kAdviceUnchanged =
    "沒有送出任何資料，設備上的資料沒有被更改。請檢查USB連接線，再%again%。";
inline constexpr std::string_view kAdviceRestart =
    "資料庫已寫入設備，但重新啟動的命令沒有送達。請拔下設備再重新插上，讓設備重新啟動。";
inline constexpr std::string_view kAgainDialog = "按「更新」";
inline constexpr std::string_view kAgainCommandLine = "執行一次 gps-update-cli";

// A file that the device cannot take, with its size and the limit.
inline constexpr std::string_view kTooLargeAdvice =
    "%name% 有 %size% 位元組，超過設備可容納的 %limit% 位元組。沒有送出任何資料，"
    "設備沒有被更改。請確認下載的是這台設備的資料庫檔案。";

// The file that "更新" will write.
inline constexpr std::string_view kFileLinePrefix = "檔案: ";
inline constexpr std::string_view kBytes = " 位元組";
inline constexpr std::string_view kFileMissingPrefix = "找不到 ";  // + the file's name
inline constexpr std::string_view kNewerCopyPrefix = "；資料夾中有較新的 ";  // + a name
inline constexpr std::string_view kOtherCopyPrefix = "；資料夾中有 ";       // + a name

// Asked before an update when a browser's numbered download is about.
inline constexpr std::string_view kOfferForMissing =
    "找不到 %name%。\n\n這個資料夾中最新的下載檔是:\n%offer%\n\n要用這個檔案更新設備嗎?";
inline constexpr std::string_view kOfferForOlder =
    "這個資料夾中有比 %name% 更新的下載檔:\n%offer%\n\n%name% 是:\n%current%\n\n"
    "要用哪一個檔案更新設備?";
inline constexpr std::string_view kUseThisFile = "使用這個檔案";
// The command line asks nothing; it names the file to give instead.
inline constexpr std::string_view kOfferHintCommandLine =
    "這個資料夾中最新的下載檔是 %offer%；要用它更新，請把檔名加在命令後面，例如: "
    "gps-update-cli \"%file%\"";
inline constexpr std::string_view kNewerNoteCommandLine =
    "注意: 這個資料夾中有比 %name% 更新的下載檔 %offer%；要用它更新，請把檔名加在命令後面。";

}  // namespace gps::text
