#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "hid/win32/wide_text.h"
#include "protocol/messages.h"
#include "ui/cli/terminal.h"
#include "ui/cli/terminal_win32.h"

namespace gps {
namespace {

namespace fs = std::filesystem;

// A file name in Chinese reaches the program whole, whatever the system's
// code page, and quoting works as the command line has it.
TEST(CliArguments, ComeInUtf8FromTheWideCommandLine) {
  EXPECT_EQ(ArgumentsOfCommandLine(
                L"gps-update-cli.exe --simulate \"C:\\\u8cc7\u6599 \u593e\\\u8cc7\u6599.bin\""),
            (std::vector<std::string>{"--simulate", "C:\\資料 夾\\資料.bin"}));
  EXPECT_EQ(ArgumentsOfCommandLine(L"gps-update-cli.exe"), std::vector<std::string>{});
}

TEST(ConsoleText, OnlyWholeCharactersAreConverted) {
  const std::string erasing(text::kErasing);  // 正在清除...: three bytes a character
  struct Case {
    std::string text;
    size_t complete;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 3},
      {erasing, erasing.size()},
      {erasing.substr(0, 1), 0},
      {erasing.substr(0, 2), 0},
      {erasing.substr(0, 4), 3},
      {erasing.substr(0, 5), 3},
      {"\xF0\x9F\x98", 0},      // a four-byte character, cut short
      {"a\xF0\x9F\x98\x80", 5},  // and whole
      {"\xC3\xA9", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(CompleteUtf8Length(c.text), c.complete);
  }
}

fs::path ThisProgramDir() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  return fs::path(path).parent_path();
}

// gps-update-cli.exe --simulate in a folder of its own with a small image,
// its standard handles as given (inherited when null), or a console of its
// own.
class CliOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    dir_ = fs::path(temp) / (L"gps-console-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             fs::path(::testing::UnitTest::GetInstance()
                                          ->current_test_info()
                                          ->name())
                                 .wstring());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::ofstream(dir_ / "code_data.bin", std::ios::binary) << std::string(3000, 'x');
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Runs the program to its end; its exit status, or -1.
  long Run(DWORD flags, HANDLE out, HANDLE err) {
    const fs::path exe = ThisProgramDir() / ".." / "ui" / "cli" / "gps-update-cli.exe";
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" --simulate";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (out) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput = out;
      startup.hStdError = err;
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, out != nullptr, flags,
                        nullptr, dir_.wstring().c_str(), &startup, &info)) {
      return -1;
    }
    long status = -1;
    if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(info.hProcess, &code);
      status = static_cast<long>(code);
    } else {
      TerminateProcess(info.hProcess, 99);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return status;
  }

  fs::path dir_;
};

// What a console shows, one string per row, trailing blanks removed.
std::vector<std::wstring> ConsoleRows(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  std::vector<std::wstring> rows;
  if (!GetConsoleScreenBufferInfo(console, &info)) return rows;
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, row.data(), info.dwSize.X, COORD{0, y}, &read);
    row.resize(read);
    row.erase(row.find_last_not_of(L' ') + 1);
    rows.push_back(row);
  }
  return rows;
}

// On a console the texts read right, the bar is drawn and cleared again, and
// no escape sequence shows as text.
TEST_F(CliOnWindows, OnAConsoleTheTextsReadRightAndTheBarLeavesNoTrace) {
  // A console of this test's own, which the program shares and which stays
  // readable after it has ended.
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  // The console is there and takes text before the program starts on it.
  DWORD written = 0;
  ASSERT_TRUE(WriteConsoleW(console, L"gps-update-cli.exe --simulate\n", 30, &written, nullptr));
  const long status = Run(0, nullptr, nullptr);
  const std::vector<std::wstring> rows = ConsoleRows(console);
  CloseHandle(console);
  FreeConsole();

  std::wstring screen;
  for (const std::wstring& row : rows) screen += row + L"\n";
  SCOPED_TRACE(Utf8FromWide(screen));
  EXPECT_EQ(status, 0);
  EXPECT_GT(rows.size(), 1u);
  for (std::string_view line : {text::kErasing, text::kWritingDatabase, text::kDatabaseWritten,
                                text::kUpdateSucceeded}) {
    EXPECT_NE(std::find(rows.begin(), rows.end(), WideFromUtf8(line)), rows.end())
        << line;
  }
  EXPECT_EQ(screen.find(L"[K"), std::wstring::npos);
  EXPECT_EQ(screen.find(L'\x1b'), std::wstring::npos);
  EXPECT_EQ(screen.find(L"%"), std::wstring::npos);  // no bar is left standing
}

// Into a file the texts go as UTF-8 lines, with no bar and no control
// characters, for the program that reads them.
TEST_F(CliOnWindows, RedirectedTheOutputIsUtf8WithoutControlCharacters) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const fs::path outFile = dir_ / "out.txt";
  const fs::path errFile = dir_ / "err.txt";
  HANDLE out = CreateFileW(outFile.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errFile.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  ASSERT_NE(err, INVALID_HANDLE_VALUE);
  const long status = Run(CREATE_NO_WINDOW, out, err);
  CloseHandle(out);
  CloseHandle(err);
  EXPECT_EQ(status, 0);

  // The C library ends lines with CRLF, as text files on Windows have them.
  auto read = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    return std::regex_replace(bytes, std::regex("\r\n"), "\n");
  };
  std::string lines;
  for (std::string_view line : {text::kErasing, text::kWritingDatabase, text::kDatabaseWritten,
                                text::kWritingDatabase, text::kUpdateSucceeded}) {
    lines += std::string(line) + "\n";
  }
  EXPECT_EQ(read(outFile), lines);
  const std::string errors = read(errFile);
  EXPECT_EQ(errors.find('\r'), std::string::npos) << errors;
  EXPECT_EQ(errors.find('\x1b'), std::string::npos) << errors;
  // No bar, but progress lines that a log keeps, and the time taken.
  EXPECT_NE(errors.find("步驟 2/2 寫入中 "), std::string::npos) << errors;
  EXPECT_NE(errors.find("更新完成，共用時 "), std::string::npos) << errors;
  EXPECT_NE(errors.find("[simulated device]"), std::string::npos) << errors;
}

}  // namespace
}  // namespace gps
