#include <windows.h>

#include "hid/win32/wide_text.h"
#include "ui/cli/record_file.h"

namespace gps {
namespace {

std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length && text ? std::wstring(text, length) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(error) : Utf8FromWide(message);
}

}  // namespace

RecordFile::~RecordFile() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

// Opened with the right to append and no right to write elsewhere: the
// system then puts every write at the file's end as one piece, for this
// process and any other that shares the file.
std::string RecordFile::Open(const std::filesystem::path& file) {
  const HANDLE handle =
      CreateFileW(file.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return SystemMessage(GetLastError());
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = handle;
  return {};
}

bool RecordFile::IsOpen() const { return handle_ != nullptr; }

std::string RecordFile::Append(std::string_view line) {
  if (!handle_) return "the record is not open";
  std::string whole(line);
  whole += '\n';
  DWORD written = 0;
  if (!WriteFile(static_cast<HANDLE>(handle_), whole.data(), static_cast<DWORD>(whole.size()),
                 &written, nullptr)) {
    return SystemMessage(GetLastError());
  }
  if (written != whole.size())
    return "only " + std::to_string(written) + " of " + std::to_string(whole.size()) +
           " bytes were written (is the disk full?)";
  return {};
}

}  // namespace gps
