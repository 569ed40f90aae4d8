// The Win32 backend of the device link, for Windows-only code and its tests.
//
// Portable code reaches it through PlatformHidBackend(); this header exists
// so that a test can run the real transfer code on handles of its own (named
// pipes) by replacing the enumeration, the one part that needs a device.
#pragma once

#include <windows.h>

#include <string>

#include "hid/hid_backend.h"

namespace gps {

class Win32HidBackend : public HidBackend {
 public:
  // SetupDi enumeration of the present HID interfaces (device paths, UTF-8).
  std::vector<std::string> EnumerateInterfaces() override;
  // Opens the path with access 0, reads HidD_GetAttributes, and closes it
  // again.
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override;
  // The same open for HidD_GetSerialNumberString.
  std::string QuerySerial(const std::string& path) override;
  // CreateFileW with FILE_FLAG_OVERLAPPED, sharing reading and writing; each
  // handle gets an event of its own for its transfers.
  HidOpenResult OpenData(const std::string& path, HidAccess access) override;
  // ReadFile/WriteFile, then a wait on {stop, completion} bounded by boundMs.
  // A transfer that is stopped or runs out of time is cancelled, and the
  // cancellation awaited, before this returns and the buffer is reused.
  TransferResult Transfer(HidHandle handle, HidDirection direction,
                          uint8_t* buffer, uint32_t length, uint32_t boundMs,
                          const StopEvent& stop) override;
  // HidD_GetPreparsedData and HidP_GetCaps on the data handle.
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override;
  void Cancel(HidHandle handle) override;
  void Close(HidHandle handle) override;
  // A named mutex in Global\, named after the path's hash (device_lock.h).
  DeviceClaim ClaimDevice(const std::string& path) override;
};

// The device interface class of HID devices, for device notifications; false
// when hid.dll could not be loaded.
bool HidClassGuid(GUID& guid);

}  // namespace gps
