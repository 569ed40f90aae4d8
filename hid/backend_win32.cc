// The device link's backend on Windows: SetupDi and HidD to find the device,
// overlapped ReadFile/WriteFile to move its reports.
//
// The data handles are opened for overlapped I/O. On a synchronous handle
// ReadFile returns only when the device sends a report, so a device that has
// stopped talking would hang the update; here every transfer waits at most
// its bound, and a transfer that did not finish is cancelled and its
// cancellation awaited before the caller may touch the buffer again.
#include "hid/backend_win32.h"
#include "hid/win32/wide_text.h"

#include <windows.h>
// windows.h must come first. MinGW's hidsdi.h declares C functions without
// extern "C" of its own.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdint>
#include <cwchar>
#include <memory>
#include <vector>

#include "hid/win32/system_library.h"

namespace gps {
namespace {

// hid.dll is not one of Windows' known DLLs: imported, it would be taken
// from the program's folder first. It is loaded from the system folder on
// first use instead, and these are the calls taken from it.
struct HidDll {
  decltype(&::HidD_GetHidGuid) GetHidGuid = nullptr;
  decltype(&::HidD_GetAttributes) GetAttributes = nullptr;
  decltype(&::HidD_GetSerialNumberString) GetSerialNumberString = nullptr;
  decltype(&::HidD_GetPreparsedData) GetPreparsedData = nullptr;
  decltype(&::HidD_FreePreparsedData) FreePreparsedData = nullptr;
  decltype(&::HidP_GetCaps) GetCaps = nullptr;

  bool Loaded() const {
    return GetHidGuid && GetAttributes && GetSerialNumberString && GetPreparsedData &&
           FreePreparsedData && GetCaps;
  }
};

// Never unloaded: the process keeps it until it ends.
const HidDll& Hid() {
  static const HidDll dll = [] {
    HidDll d;
    const HMODULE module = LoadSystemLibrary(L"hid.dll");
    d.GetHidGuid = SystemFunction<decltype(d.GetHidGuid)>(module, "HidD_GetHidGuid");
    d.GetAttributes = SystemFunction<decltype(d.GetAttributes)>(module, "HidD_GetAttributes");
    d.GetSerialNumberString = SystemFunction<decltype(d.GetSerialNumberString)>(
        module, "HidD_GetSerialNumberString");
    d.GetPreparsedData =
        SystemFunction<decltype(d.GetPreparsedData)>(module, "HidD_GetPreparsedData");
    d.FreePreparsedData =
        SystemFunction<decltype(d.FreePreparsedData)>(module, "HidD_FreePreparsedData");
    d.GetCaps = SystemFunction<decltype(d.GetCaps)>(module, "HidP_GetCaps");
    return d;
  }();
  return dll;
}

// What a HidHandle stands for: the file and the event its transfers signal.
// Each handle serves one direction, so one event per handle is one event per
// direction, as the link expects.
struct DataHandle {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
};

DataHandle* Data(HidHandle handle) {
  return handle == kInvalidHidHandle ? nullptr : reinterpret_cast<DataHandle*>(handle);
}

// USB string descriptors hold at most 126 UTF-16 units; HidD wants bytes.
constexpr DWORD kSerialChars = 127;

HidOpenError OpenErrorFrom(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: return HidOpenError::AccessDenied;
    case ERROR_SHARING_VIOLATION: return HidOpenError::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED: return HidOpenError::Gone;
    default: return HidOpenError::Other;
  }
}

// The Win32 call that failed and its GetLastError(), taken right after it.
PlatformCause Cause(const char* call, DWORD error = GetLastError()) {
  return {call, static_cast<int64_t>(error), {}};
}

// Frees a device information set on every way out of the enumeration.
struct DeviceInfoSet {
  HDEVINFO set;
  ~DeviceInfoSet() {
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  }
};

}  // namespace

bool HidClassGuid(GUID& guid) {
  if (!Hid().Loaded()) return false;
  Hid().GetHidGuid(&guid);
  return true;
}

std::vector<std::string> Win32HidBackend::EnumerateInterfaces() {
  std::vector<std::string> paths;
  GUID hidGuid;
  // Without hid.dll no HID device can be reached: none is there.
  if (!HidClassGuid(hidGuid)) return paths;
  DeviceInfoSet info{SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr,
                                          DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
  if (info.set == INVALID_HANDLE_VALUE) return paths;

  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof(interfaceData);
  std::vector<uint8_t> record;
  for (DWORD index = 0;
       SetupDiEnumDeviceInterfaces(info.set, nullptr, &hidGuid, index, &interfaceData);
       ++index) {
    DWORD needed = 0;
    // The size query fails with ERROR_INSUFFICIENT_BUFFER by design.
    SetupDiGetDeviceInterfaceDetailW(info.set, &interfaceData, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    record.assign(needed, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
    // cbSize is the size of the fixed part on this platform (8 on x64, 6 on
    // x86), not of the whole record.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(info.set, &interfaceData, detail, needed, nullptr,
                                          nullptr)) {
      continue;
    }
    // The path is held whole, however long it is.
    paths.push_back(Utf8FromWide(detail->DevicePath));
  }
  return paths;
}

namespace {

// Access 0 opens even a device that another program or the system (a
// keyboard, a mouse) holds for reading: enough to query it.
HANDLE OpenForQuery(const std::string& path) {
  return CreateFileW(WideFromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

}  // namespace

std::optional<HidAttributes> Win32HidBackend::QueryAttributes(const std::string& path) {
  if (!Hid().Loaded()) return std::nullopt;
  HANDLE query = OpenForQuery(path);
  if (query == INVALID_HANDLE_VALUE) return std::nullopt;
  // The HID driver answers this from what it read when the device arrived.
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof(attributes);
  const bool ok = Hid().GetAttributes(query, &attributes);
  CloseHandle(query);
  if (!ok) return std::nullopt;
  return HidAttributes{attributes.VendorID, attributes.ProductID, attributes.VersionNumber};
}

std::string Win32HidBackend::QuerySerial(const std::string& path) {
  if (!Hid().Loaded()) return {};
  HANDLE query = OpenForQuery(path);
  if (query == INVALID_HANDLE_VALUE) return {};
  // This one asks the device for its string descriptor.
  wchar_t serial[kSerialChars + 1] = {};
  const bool ok = Hid().GetSerialNumberString(query, serial, kSerialChars * sizeof(wchar_t));
  CloseHandle(query);
  return ok ? Utf8FromWide(serial) : std::string();
}

HidOpenResult Win32HidBackend::OpenData(const std::string& path, HidAccess access) {
  HANDLE file = CreateFileW(WideFromUtf8(path).c_str(),
                            access == HidAccess::Read ? GENERIC_READ : GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const PlatformCause cause = Cause("CreateFileW");
    return {kInvalidHidHandle, OpenErrorFrom(static_cast<DWORD>(cause.code)), cause};
  }
  // Manual reset, as the completion event of an overlapped transfer must be.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    const PlatformCause cause = Cause("CreateEventW");
    CloseHandle(file);
    return {kInvalidHidHandle, HidOpenError::Other, cause};
  }
  auto* data = new DataHandle{file, event};
  return {reinterpret_cast<HidHandle>(data), HidOpenError::None};
}

TransferResult Win32HidBackend::Transfer(HidHandle handle, HidDirection direction,
                                         uint8_t* buffer, uint32_t length, uint32_t boundMs,
                                         const StopEvent& stop) {
  DataHandle* data = Data(handle);
  if (!data) return {};
  // A stop that is already there keeps the report from going out at all.
  if (stop.IsSet()) return {TransferStatus::Stopped, 0};

  OVERLAPPED overlapped{};
  overlapped.hEvent = data->event;
  ResetEvent(data->event);
  const BOOL started = direction == HidDirection::Read
                           ? ReadFile(data->file, buffer, length, nullptr, &overlapped)
                           : WriteFile(data->file, buffer, length, nullptr, &overlapped);
  if (!started && GetLastError() != ERROR_IO_PENDING) {
    return {TransferStatus::Failed, 0,
            Cause(direction == HidDirection::Read ? "ReadFile" : "WriteFile")};
  }

  // The stop event comes first: when both are set, the wait reports it.
  HANDLE pair[2] = {static_cast<HANDLE>(stop.NativeHandle()), data->event};
  const DWORD wait = WaitForMultipleObjects(2, pair, FALSE, boundMs);
  const DWORD waitError = wait == WAIT_FAILED ? GetLastError() : 0;
  DWORD count = 0;
  if (wait == WAIT_OBJECT_0 + 1) {
    const BOOL done = GetOverlappedResult(data->file, &overlapped, &count, TRUE);
    const DWORD doneError = done ? 0 : GetLastError();
    ResetEvent(data->event);
    if (!done) return {TransferStatus::Failed, 0, Cause("GetOverlappedResult", doneError)};
    return {TransferStatus::Completed, count, {}};
  }
  // Stopped, out of time, or the wait itself failed: the platform must be
  // done with the buffer and the OVERLAPPED record (on this stack) before
  // they go. CancelIo asks, and the blocking GetOverlappedResult waits until
  // the transfer has ended, cancelled or completed after all.
  CancelIo(data->file);
  GetOverlappedResult(data->file, &overlapped, &count, TRUE);
  ResetEvent(data->event);
  if (wait == WAIT_OBJECT_0) return {TransferStatus::Stopped, 0};
  if (wait == WAIT_TIMEOUT) return {TransferStatus::TimedOut, 0};
  return {TransferStatus::Failed, 0, Cause("WaitForMultipleObjects", waitError)};
}

std::optional<HidReportLengths> Win32HidBackend::ReportLengths(HidHandle handle) {
  DataHandle* data = Data(handle);
  if (!data || !Hid().Loaded()) return std::nullopt;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  // Fails on a handle that is not a HID collection's (the tests' pipes).
  if (!Hid().GetPreparsedData(data->file, &preparsed)) return std::nullopt;
  HIDP_CAPS caps{};
  const bool ok = Hid().GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  Hid().FreePreparsedData(preparsed);
  if (!ok) return std::nullopt;
  return HidReportLengths{caps.InputReportByteLength, caps.OutputReportByteLength};
}

void Win32HidBackend::Cancel(HidHandle handle) {
  if (DataHandle* data = Data(handle)) CancelIo(data->file);
}

void Win32HidBackend::Close(HidHandle handle) {
  std::unique_ptr<DataHandle> data(Data(handle));
  if (!data) return;
  CloseHandle(data->file);
  CloseHandle(data->event);
}

namespace {

class MutexLock : public DeviceLock {
 public:
  explicit MutexLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexLock() override { CloseHandle(mutex_); }

 private:
  HANDLE mutex_;
};

// The claim's name: Global\ so that every session and user meets it; the
// path itself cannot be used, a kernel object's name takes no backslash, so
// its hash (FNV-1a, 64 bits) of the path as Windows compares it, in upper
// case.
std::wstring ClaimName(const std::string& path) {
  std::wstring wide = WideFromUtf8(path);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : wide) {
    hash ^= static_cast<uint16_t>(c);
    hash *= 1099511628211ull;
  }
  wchar_t name[64];
  swprintf(name, 64, L"Global\\GPS_UPDATE_DEVICE_%016llX", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace

// The mutex is not owned, only held open: while any handle to it exists the
// name exists, and a second creator is told so. One made by another user
// cannot even be opened (ERROR_ACCESS_DENIED): it is held as well.
DeviceClaim Win32HidBackend::ClaimDevice(const std::string& path) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, ClaimName(path).c_str());
  const DWORD error = GetLastError();
  if (mutex && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return {true, nullptr};
  }
  if (!mutex) return {error == ERROR_ACCESS_DENIED, nullptr};
  return {false, std::make_unique<MutexLock>(mutex)};
}

HidBackend& PlatformHidBackend() {
  static Win32HidBackend backend;
  return backend;
}

}  // namespace gps
