// The device link: finds the HID device by vendor and product, opens it once
// for reading and once for writing, moves single reports, and closes it.
//
// Every device operation builds its own CHidTransfer, so nothing of the
// device stays open between operations.
#pragma once

#include <cstdint>
#include <string>

#include "hid/hid_backend.h"
#include "hid/stop_event.h"

namespace gps {

constexpr uint16_t HID_VENDOR_ID = 0x0416;
constexpr uint16_t HID_PRODUCT_ID = 0xB500;
constexpr uint32_t REPORT_SIZE = 65;  // report identifier + 64 payload bytes

// How long one platform transfer may take before the link gives up on it.
//
// The link's first Windows version waited 100 ms for each transfer, but only
// after a synchronous ReadFile or WriteFile had returned, so nothing bounded
// the transfer itself: a device that stopped talking hung the update. Here
// the transfer is overlapped and the wait covers all of it, so it must be
// long enough for the device's slowest answer; these bounds replace the
// 100 ms, and no transfer passes a time-out of its own.
struct LinkBounds {
  // A read waits for the device's next erase message. The device reports
  // progress while it erases, a few times a second; a gap of 15 s without any
  // report means it is no longer erasing (or no longer there), while being
  // long enough for the slowest sector erase of a large NOR flash.
  uint32_t readMs = 15000;
  // A 65-byte output report takes a millisecond on a full-speed bus. The USB
  // stacks give up on an output transfer after 5 s; so does the link.
  uint32_t writeMs = 5000;
};

// What each link of one update is built from: the platform backend, the stop
// event its transfers watch, and its bounds.
struct LinkSettings {
  HidBackend* backend = nullptr;  // null: the platform's backend
  StopEvent* stop = nullptr;      // null: each link has its own stop event
  LinkBounds bounds;
};

class CHidDevice {
 public:
  explicit CHidDevice(const LinkSettings& settings = {});
  virtual ~CHidDevice();
  CHidDevice(const CHidDevice&) = delete;
  CHidDevice& operator=(const CHidDevice&) = delete;

  // Opens the first interface, in the platform's order, whose vendor and
  // product match: for reading, then for writing. True on a match, even when
  // a data open failed (the first transfer in that direction then fails).
  // A device whose reports are not REPORT_SIZE bytes is closed again at
  // once, with OpenError() UnexpectedReports: nothing reaches it.
  bool Open(uint16_t vendorId, uint16_t productId);

  // One output (input) report of `length` bytes through the write (read)
  // handle. True when it went through; `count`, when given, receives the
  // bytes moved, report identifier included, or 0 on failure. The stop event
  // takes precedence over a completed transfer and is reset when it ends one.
  bool WriteReport(const uint8_t* buffer, uint32_t length, uint32_t* bytesWritten);
  bool ReadReport(uint8_t* buffer, uint32_t length, uint32_t* bytesRead);

  // Waits until every output report that WriteReport accepted has gone out
  // (within the write bound for each). True when all did; an exchange is not
  // done before this says so.
  bool FlushWrites();

  // Cancels both data handles, then closes both. Any number of calls.
  void Close();

  // Why a data open of the last Open failed: None when both opened.
  HidOpenError OpenError() const { return m_openError; }
  bool IsReadOpen() const { return m_hRead != kInvalidHidHandle; }
  bool IsWriteOpen() const { return m_hWrite != kInvalidHidHandle; }
  const std::string& Path() const { return m_path; }
  StopEvent& Stop() { return *m_stop; }

 private:
  // False when the open device declares reports of another length.
  bool ReportsFit();
  bool Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                uint32_t length, uint32_t* count, uint32_t boundMs);

  HidBackend& m_backend;
  LinkBounds m_bounds;
  HidHandle m_hRead = kInvalidHidHandle;
  HidHandle m_hWrite = kInvalidHidHandle;
  StopEvent m_ownStop;
  StopEvent* m_stop;  // m_ownStop, or the one the settings gave
  std::string m_path;
  HidOpenError m_openError = HidOpenError::None;
};

// The link of one device operation and its one report buffer.
class CHidTransfer {
 public:
  explicit CHidTransfer(const LinkSettings& settings = {}) : m_device(settings) {}
  virtual ~CHidTransfer() = default;

  // Every operation fills it before it sends; zeros until then, so that no
  // byte of it is ever undefined.
  uint8_t m_report[REPORT_SIZE] = {};
  CHidDevice m_device;
};

}  // namespace gps
