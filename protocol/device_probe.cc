#include "protocol/device_probe.h"

#include "protocol/messages.h"

namespace gps {

ProbeResult ProbeDevice(const LinkSettings& link) {
  CHidTransfer transfer(link);
  if (!transfer.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID))
    return {ProbeOutcome::Absent, text::kDeviceConnectFailed, {}};
  ProbeResult result{ProbeOutcome::Present, text::kDeviceConnected, transfer.m_device.Path()};
  // A device that was found but did not open would fail at the update's
  // first command with a text that says nothing of the cause: say it now.
  switch (transfer.m_device.OpenError()) {
    case HidOpenError::None:
      break;
    case HidOpenError::AccessDenied:
      result.outcome = ProbeOutcome::NoPermission;
      result.text = text::kDeviceNoPermission;
      break;
    case HidOpenError::Busy:
      result.outcome = ProbeOutcome::Busy;
      result.text = text::kDeviceBusy;
      break;
    case HidOpenError::Gone:
      result.outcome = ProbeOutcome::Absent;
      result.text = text::kDeviceConnectFailed;
      break;
    case HidOpenError::Other:
      result.outcome = ProbeOutcome::CannotOpen;
      result.text = text::kDeviceCannotOpen;
      break;
    case HidOpenError::UnexpectedReports:
      result.outcome = ProbeOutcome::WrongFirmware;
      result.text = text::kDeviceWrongFirmware;
      break;
  }
  transfer.m_device.Close();
  return result;
}

}  // namespace gps
