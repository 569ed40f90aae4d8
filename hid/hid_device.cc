#include "hid/hid_device.h"

#include "hid/device_match.h"

namespace gps {

CHidDevice::CHidDevice(const LinkSettings& settings)
    : m_backend(settings.backend ? *settings.backend : PlatformHidBackend()),
      m_bounds(settings.bounds),
      m_stop(settings.stop ? settings.stop : &m_ownStop) {}

CHidDevice::~CHidDevice() { Close(); }

bool CHidDevice::Open(uint16_t vendorId, uint16_t productId) {
  Close();  // a link reused for a second Open must not leak the first
  m_openError = HidOpenError::None;
  for (const std::string& path : MatchingInterfaces(m_backend, vendorId, productId, 1)) {
    m_path = path;
    const HidOpenResult read = m_backend.OpenData(path, HidAccess::Read);
    const HidOpenResult write = m_backend.OpenData(path, HidAccess::Write);
    m_hRead = read.handle;
    m_hWrite = write.handle;
    m_openError = read.handle == kInvalidHidHandle    ? read.error
                  : write.handle == kInvalidHidHandle ? write.error
                                                      : HidOpenError::None;
    if (m_openError == HidOpenError::None && !ReportsFit()) {
      Close();
      m_openError = HidOpenError::UnexpectedReports;
    }
    return true;
  }
  return false;
}

bool CHidDevice::ReportsFit() {
  // Another firmware (or another device that took our identifiers) may
  // read our commands as something else entirely, so a device whose
  // reports are not ours gets none. A platform that does not tell the
  // lengths is trusted.
  const std::optional<HidReportLengths> lengths = m_backend.ReportLengths(m_hWrite);
  return !lengths || (lengths->input == REPORT_SIZE && lengths->output == REPORT_SIZE);
}

bool CHidDevice::WriteReport(const uint8_t* buffer, uint32_t length,
                             uint32_t* bytesWritten) {
  // The backend's transfer takes one buffer type for both directions; a
  // write never stores into it.
  return Transfer(m_hWrite, HidDirection::Write, const_cast<uint8_t*>(buffer),
                  length, bytesWritten, m_bounds.writeMs);
}

bool CHidDevice::ReadReport(uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
  return Transfer(m_hRead, HidDirection::Read, buffer, length, bytesRead, m_bounds.readMs);
}

bool CHidDevice::Transfer(HidHandle handle, HidDirection direction,
                          uint8_t* buffer, uint32_t length, uint32_t* count,
                          uint32_t boundMs) {
  if (count) *count = 0;
  if (handle == kInvalidHidHandle) return false;
  const TransferResult result =
      m_backend.Transfer(handle, direction, buffer, length, boundMs, *m_stop);
  switch (result.status) {
    case TransferStatus::Completed:
      // A stop that arrived while the transfer completed still wins, so that
      // a stop request is never lost to a busy link.
      if (m_stop->IsSet()) {
        m_stop->Reset();
        return false;
      }
      if (count) *count = result.count;
      return true;
    case TransferStatus::Stopped:
      m_stop->Reset();
      return false;
    case TransferStatus::Failed:
    case TransferStatus::TimedOut:
      return false;
  }
  return false;
}

bool CHidDevice::FlushWrites() {
  if (m_hWrite == kInvalidHidHandle) return false;
  const TransferResult result = m_backend.Flush(m_hWrite, m_bounds.writeMs, *m_stop);
  if (result.status == TransferStatus::Stopped || m_stop->IsSet()) {
    m_stop->Reset();
    return false;
  }
  return result.status == TransferStatus::Completed;
}

void CHidDevice::Close() {
  // Both cancels before both closes: a close must not race a transfer that
  // the other handle still has outstanding.
  if (m_hRead != kInvalidHidHandle) m_backend.Cancel(m_hRead);
  if (m_hWrite != kInvalidHidHandle) m_backend.Cancel(m_hWrite);
  if (m_hRead != kInvalidHidHandle) {
    m_backend.Close(m_hRead);
    m_hRead = kInvalidHidHandle;
  }
  if (m_hWrite != kInvalidHidHandle) {
    m_backend.Close(m_hWrite);
    m_hWrite = kInvalidHidHandle;
  }
}

}  // namespace gps
