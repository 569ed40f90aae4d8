// Every text the update shows, in UTF-8. Front ends pass them on unchanged
// (the Win32 program converts them to UTF-16), so they read the same on every
// system locale.
#pragma once

#include <string_view>

namespace gps::text {

// Status line.
inline constexpr std::string_view kDeviceConnected = "設備連線正常!";
inline constexpr std::string_view kDeviceConnectFailed = "設備連線失敗! 請檢查USB連接。";
inline constexpr std::string_view kEraseCommandError = "清除命令錯誤";
inline constexpr std::string_view kErasing = "正在清除...";
inline constexpr std::string_view kEraseMessageError = "讀取清除訊息錯誤!";
inline constexpr std::string_view kWriteCommandError = "寫入命令錯誤";
inline constexpr std::string_view kWritingDatabase = "正在寫入資料庫...";
inline constexpr std::string_view kWriteDataError = "寫入資料錯誤";
inline constexpr std::string_view kRestartCommandError = "復位命令錯誤";
inline constexpr std::string_view kTooMuchData = "資料量過大!";
inline constexpr std::string_view kNoData = "資料量為零!";
inline constexpr std::string_view kEraseFlashFailed = "寫入資料庫 清除Flash失敗!";
inline constexpr std::string_view kDatabaseWriteFailed = "資料庫寫入失敗!";
inline constexpr std::string_view kDatabaseWritten = "資料庫寫入成功!";
inline constexpr std::string_view kUpdateSucceeded = "更新成功!";
inline constexpr std::string_view kRestartFailed = "重新啟動設備失敗!";

// What the probe at start says when the device is there but cannot be used.
// The fix differs by platform (on Linux the udev rule that the install
// provides), so each platform's file defines it: messages_posix.cc,
// messages_win32.cc.
extern const std::string_view kDeviceNoPermission;
inline constexpr std::string_view kDeviceBusy = "設備被其他程式佔用! 請關閉該程式後再試。";
inline constexpr std::string_view kDeviceCannotOpen = "設備無法開啟! 請重新插入設備。";
// A device with our identifiers whose reports are not the 65 bytes of this
// device's firmware: nothing is sent to it.
// Another program (another copy, another user's, another job of --all)
// is updating this device now: nothing is sent to it.
inline constexpr std::string_view kDeviceInUseElsewhere =
    "設備正在由其他程式更新中! 請等該更新結束後再試。";
inline constexpr std::string_view kDeviceWrongFirmware = "設備韌體不符! 此設備無法以本程式更新。";

// Message boxes.
inline constexpr std::string_view kCantFindPrefix = "Can't find ";  // + file name
inline constexpr std::string_view kReadFilePrefix = "讀取 ";       // + file name
inline constexpr std::string_view kReadFileSuffix = " 錯誤!";
inline constexpr std::string_view kOutOfMemory = "記憶體不足! 無法載入 ";  // + file name
// An empty file is most often a download that failed.
inline constexpr std::string_view kFileEmptyPrefix = "檔案 ";  // + file name
inline constexpr std::string_view kFileEmptySuffix = " 是空的! 請重新下載資料庫。";

}  // namespace gps::text
