#include "ui/cli/help_text.h"

#include <cstdlib>
#include <map>

#include "ui/cli/cli_options.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace gps {
namespace {

// What each exit status means, in the order of ExitStatusTable().
const std::map<int, std::string_view>& ChineseMeanings() {
  static const std::map<int, std::string_view> meanings = {
      {kExitSuccess, "更新成功，並已通知設備重新啟動；使用 --list 時表示找到設備"},
      {kExitAlreadyRunning, "已有另一個更新程式在執行"},
      {kExitUsage, "無法理解命令列"},
      {kExitFile, "找不到 FILE，或無法讀取（例如另一個程式正在使用、尚未下載完成）"},
      {kExitSize, "FILE 大於設備可容納的大小（0xFF6000 位元組）"},
      {kExitErase, "清除 Flash 失敗"},
      {kExitWrite, "寫入資料庫或其標頭失敗"},
      {kExitRestart, "重新啟動設備的命令失敗"},
      {kExitNoPermission, "找到設備，但此使用者沒有開啟它的權限；未傳送任何資料"},
      {kExitBusy, "找到設備，但另一個程式正在使用它；未傳送任何資料"},
      {kExitCannotOpen, "找到設備，但無法開啟；未傳送任何資料"},
      {kExitWaitTimedOut, "--wait：時間內沒有接上設備"},
      {kExitInterrupted, "--wait：接上設備之前被中斷（Ctrl+C）"},
      {kExitNoDevice, "沒有接上設備（--list、--all），或沒有 --device 指定的設備；未傳送任何資料"},
      {kExitWrongFirmware, "找到設備，但它的回報不是本韌體的格式；未傳送任何資料"},
      {kExitNoLock, "無法安全地建立防止同時執行的鎖定；未傳送任何資料"},
      {kExitFileEmpty, "FILE 是空的；未傳送任何資料"},
      {kExitOutputFailed, "--help、--version 或 --list 無法寫出結果"},
      {kExitRecord, "--record：無法開啟 FILE（未傳送任何資料），或其中一行無法寫入"},
  };
  return meanings;
}

bool UserPrefersChinese() {
#ifdef _WIN32
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
#else
  // The first of these that is set decides, as for the program's messages.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return IsChineseLocale(value);
  }
  return false;
#endif
}

}  // namespace

bool IsChineseLocale(std::string_view locale) {
  return locale.size() >= 2 && (locale[0] == 'z' || locale[0] == 'Z') &&
         (locale[1] == 'h' || locale[1] == 'H') &&
         (locale.size() == 2 || locale[2] == '_' || locale[2] == '-' || locale[2] == '.');
}

std::string ChineseHelpText() {
  std::string help = R"(用法: gps-update-cli [選項]... [FILE]
將資料庫檔案 FILE（預設為目前資料夾中的 code_data.bin）寫入以 USB 連接的
道路安全警示設備（0416:b500），再讓設備重新啟動。每個步驟在標準輸出印出一行；
標準錯誤是終端機時，另有進度列。

傳送任何資料之前，程式會先尋找設備。設備已連接但無法使用時（沒有權限、
被其他程式佔用），程式會說明原因，不傳送任何資料。

選項:
  --wait[=秒數]     沒有接上設備時，等待設備接上，最多等這麼多秒（預設 30）
  --all             同時更新每一台已連接的設備，各自獨立進行；每一行以設備的
                    名稱（序號，沒有序號時為路徑）開頭，最後印出一張總表
  --device ID       只更新 --list 顯示為 ID 的設備（序號或路徑）
  --station         服務櫃台模式：更新每一台已連接的設備，之後每接上一台就
                    更新一次（每次接上更新一次），直到按 Ctrl+C；每個工作
                    在紀錄中寫一行（見 --record，預設 gps-update-record.jsonl）
  --record FILE     每個設備工作在 FILE 末尾加一行 JSON：設備、資料庫檔案與
                    其 SHA-256、時間及結果
  --list            列出每一台已連接的設備，一行一台：路徑，以及系統提供
                    序號時，在 Tab 之後的序號
  --trace           在標準錯誤印出每一筆傳送與收到的回報（十六進位，附時間）
  --simulate[=N]    以 N 台模擬設備（預設 1，最多 16）代替 USB 設備執行
  --version         印出版本後結束
  -h, --help        印出本說明後結束

結束代碼（以及最後顯示的訊息）:
)";
  for (const ExitStatusRow& row : ExitStatusTable()) {
    const std::string number = std::to_string(row.status);
    const auto meaning = ChineseMeanings().find(row.status);
    help += std::string(4 - number.size(), ' ') + number + "  " +
            std::string(meaning != ChineseMeanings().end() ? meaning->second
                                                            : std::string_view(row.meaning)) +
            "\n";
    if (!row.text.empty()) help += "        " + row.text + "\n";
  }
  return help;
}

std::string HelpTextForUser() { return UserPrefersChinese() ? ChineseHelpText() : HelpText(); }

}  // namespace gps
