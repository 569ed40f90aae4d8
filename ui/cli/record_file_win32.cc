#include <windows.h>

#include <cstdint>
#include <string>

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

// One mutex per record file, for every process and user on the machine: its
// name is a hash of the file's full path, lower-cased as the file system
// compares names.
HANDLE AppendLockFor(const std::filesystem::path& file) {
  std::error_code error;
  std::wstring path = std::filesystem::absolute(file, error).wstring();
  if (error) path = file.wstring();
  CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (wchar_t c : path) {
    hash ^= static_cast<uint16_t>(c);
    hash *= 1099511628211ull;
  }
  std::wstring name = L"gps-update-record-";
  for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 0xf];
  HANDLE mutex = CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str());
  if (!mutex) mutex = CreateMutexW(nullptr, FALSE, name.c_str());  // this session's only
  return mutex;
}

}  // namespace

RecordFile::~RecordFile() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  if (appendLock_) CloseHandle(static_cast<HANDLE>(appendLock_));
}

// Opened with the right to append and no right to write elsewhere: the
// system then puts every write at the file's end. Windows writes such an
// append as one piece, but not every implementation of the calls does
// (Wine splits large ones), so each append also holds the file's mutex.
std::string RecordFile::Open(const std::filesystem::path& file) {
  const HANDLE handle =
      CreateFileW(file.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return SystemMessage(GetLastError());
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = handle;
  if (appendLock_) CloseHandle(static_cast<HANDLE>(appendLock_));
  appendLock_ = AppendLockFor(file);
  return {};
}

bool RecordFile::IsOpen() const { return handle_ != nullptr; }

std::string RecordFile::Append(std::string_view line) {
  if (!handle_) return "the record is not open";
  std::string whole(line);
  whole += '\n';
  DWORD written = 0;
  // Bounded: a writer that hangs holding the mutex costs the others at most
  // this wait, after which the line is written all the same.
  const HANDLE lock = static_cast<HANDLE>(appendLock_);
  DWORD wait = WAIT_FAILED;
  if (lock) wait = WaitForSingleObject(lock, 5000);
  const bool locked = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  const BOOL ok = WriteFile(static_cast<HANDLE>(handle_), whole.data(),
                            static_cast<DWORD>(whole.size()), &written, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  if (locked) ReleaseMutex(lock);
  if (!ok) return SystemMessage(error);
  if (written != whole.size())
    return "only " + std::to_string(written) + " of " + std::to_string(whole.size()) +
           " bytes were written (is the disk full?)";
  return {};
}

}  // namespace gps
