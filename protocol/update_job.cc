#include "protocol/update_job.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "hid/device_match.h"
#include "hid/shown_text.h"
#include "protocol/command_block.h"
#include "protocol/flash_layout.h"
#include "protocol/image_check.h"
#include "protocol/image_header.h"
#include "protocol/image_source.h"
#include "protocol/little_endian.h"
#include "protocol/messages.h"

namespace gps {
namespace {

// The image buffer carries this many bytes after the file: the page write's
// last page runs up to 256 bytes past the end, and they must be zeros.
constexpr uint32_t kImageTail = 512;

// How long the erase monitor pauses after a read that brought no payload.
constexpr uint32_t kEmptyReadPauseMs = 10;

bool IsOver(const uint8_t* message) { return std::memcmp(message, "over", 4) == 0; }

// The file's name as the user sees it, in UTF-8 on every platform, with
// whatever it holds that a terminal or a box would act on written out.
std::string FileName(const std::filesystem::path& file) {
  const std::u8string name = file.filename().u8string();
  return ShownText(std::string(name.begin(), name.end()));
}

}  // namespace

UpdateJob::UpdateJob(UpdateReporter& reporter, LinkSettings link)
    : m_reporter(reporter), m_link(link) {}

std::optional<UpdateOutcome> LoadImage(const std::filesystem::path& file,
                                       UpdateReporter& reporter, LoadedImage& image) {
  const std::string name = FileName(file);
  // Its type and size first, so that no file of any size is loaded only to
  // be refused, and an empty one (a download that failed) never reaches the
  // device as an erase of no sectors.
  const ImageCheck check = CheckImageFile(file);
  // A download not finished yet: what is there now (often an empty
  // placeholder) is not the image, so that comes before its size.
  if (check.problem != ImageProblem::Missing && check.problem != ImageProblem::NotAFile &&
      UnfinishedDownload(file)) {
    reporter.ShowMessage(std::string(text::kDownloadUnfinishedPrefix) + name +
                         std::string(text::kDownloadUnfinishedSuffix));
    return UpdateOutcome::FileUnreadable;
  }
  if (ReportRefusal(check, name, reporter)) return OutcomeOf(check);
  const std::string readError =
      std::string(text::kReadFilePrefix) + name + std::string(text::kReadFileSuffix);
  std::error_code error;
  ImageSource in;
  switch (in.Open(file)) {
    case ImageSource::OpenResult::Opened:
      break;
    case ImageSource::OpenResult::InUse:
      reporter.ShowMessage(readError + "\n" + std::string(text::kFileInUse));
      return UpdateOutcome::FileUnreadable;
    case ImageSource::OpenResult::Failed:
      // It exists (above), so it is there but cannot be read.
      reporter.ShowMessage(readError);
      return UpdateOutcome::FileUnreadable;
  }
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || CheckImageSize(size).Refused()) {
    reporter.ShowMessage(readError);
    return UpdateOutcome::FileUnreadable;
  }
  const auto length = static_cast<uint32_t>(size);
  std::vector<uint8_t>& bytes = image.bytes;
  try {
    bytes.assign(std::size_t{length} + kImageTail, 0);  // the tail is zeros
  } catch (const std::bad_alloc&) {
    reporter.ShowMessage(std::string(text::kOutOfMemory) + name);
    return UpdateOutcome::FileUnreadable;
  }
  if (!in.Read(bytes.data(), length)) {
    reporter.ShowMessage(readError);
    return UpdateOutcome::FileUnreadable;
  }
  image.length = length;
  return std::nullopt;
}

UpdateOutcome UpdateJob::LoadAndUpdate(const std::filesystem::path& file) {
  LoadedImage image;
  if (const std::optional<UpdateOutcome> failed = LoadImage(file, m_reporter, image))
    return *failed;
  return UpdateDatabase(image.bytes.data(), image.length);
}

UpdateOutcome UpdateJob::UpdateDatabase(const uint8_t* data, uint32_t length) {
  if (length > MAX_DATABASE_SIZE) {
    m_reporter.SetStatusText(text::kTooMuchData);
    return UpdateOutcome::TooLarge;
  }
  if (length == 0) {
    m_reporter.SetStatusText(text::kNoData);
    return UpdateOutcome::FileEmpty;
  }
  // One writer per device: the device is claimed for the whole job, against
  // other programs of any user and the other jobs of this one, before
  // anything is sent (device_lock.h). The claim goes to the interface that
  // every operation's Open picks, the first that matches.
  HidBackend& bus = m_link.backend ? *m_link.backend : PlatformHidBackend();
  DeviceClaim claim;
  const std::vector<std::string> device =
      MatchingInterfaces(bus, HID_VENDOR_ID, HID_PRODUCT_ID, 1);
  if (!device.empty()) claim = bus.ClaimDevice(device.front());
  if (claim.busy) {
    m_reporter.SetStatusText(text::kDeviceInUseElsewhere);
    return UpdateOutcome::DeviceBusy;
  }

  // Each operation shows its own failure first; the job's summary replaces it
  // at once. With no device, too, the line ends on the erase summary rather
  // than "設備連線失敗!": it names the stage the update stopped at, and the
  // advice after it says that nothing was sent and to check the USB cable.
  switch (WriteDatabase(data, length, DATABASE_ADDRESS)) {
    case kWriteDatabaseNoDevice:
      m_reporter.SetStatusText(text::kEraseFlashFailed);
      return UpdateOutcome::NoDevice;
    case kWriteDatabaseEraseFailed:
      m_reporter.SetStatusText(text::kEraseFlashFailed);
      return UpdateOutcome::EraseFailed;
    case kWriteDatabasePagesFailed:
      m_reporter.SetStatusText(text::kDatabaseWriteFailed);
      return UpdateOutcome::WriteFailed;
    default:
      m_reporter.StageBegins(JobStage::ImageWritten);
      m_reporter.SetStatusText(text::kDatabaseWritten);
  }
  // Without its header the image is not found by the firmware, so a header
  // that did not reach the flash is a failed update, not a success.
  const auto header = HeaderPage(length);
  m_reporter.StageBegins(JobStage::Header);
  if (EraseSectors(HEADER_ADDRESS / SECTOR_SIZE, 1) == 0) {
    m_reporter.SetStatusText(text::kEraseFlashFailed);
    return UpdateOutcome::EraseFailed;
  }
  if (WritePages(header.data(), HEADER_ADDRESS / PAGE_SIZE, 1) == 0) {
    m_reporter.SetStatusText(text::kDatabaseWriteFailed);
    return UpdateOutcome::WriteFailed;
  }
  m_reporter.StageBegins(JobStage::Done);
  m_reporter.SetStatusText(text::kUpdateSucceeded);
  // The image and its header are in the flash: the update is complete, and
  // what is left is one report. A stop that comes now lets it go, so that
  // "更新成功!" is not followed by a stop and a device left unrestarted.
  StopEvent notStopped;
  StopEvent* const stop = std::exchange(m_link.stop, &notStopped);
  const int restarted = RestartDevice();
  m_link.stop = stop;
  if (restarted != 0) {
    m_reporter.SetStatusText(text::kRestartFailed);
    return UpdateOutcome::RestartFailed;
  }
  return UpdateOutcome::Succeeded;
}

int UpdateJob::WriteDatabase(const uint8_t* data, uint32_t length, uint32_t address) {
  const uint32_t sectors = length / SECTOR_SIZE + (length % SECTOR_SIZE != 0 ? 1 : 0);
  // The monitor's link is opened before the erase command goes out: input
  // reports that arrive while no handle is open are lost, and the device
  // may answer at once.
  // With no device to open, nothing is sent: an erase whose progress no one
  // could follow would leave the flash erased and nothing written over it.
  CHidTransfer monitor(m_link);
  if (!monitor.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID)) {
    m_reporter.SetStatusText(text::kDeviceConnectFailed);
    return kWriteDatabaseNoDevice;
  }
  if (EraseSectors(address / SECTOR_SIZE, sectors) == 0) return kWriteDatabaseEraseFailed;
  m_reporter.StageBegins(JobStage::Erase);
  // No page may be written over flash whose erase was not confirmed.
  if (WaitEraseDone(monitor, true, sectors) < ERASE_MESSAGE_SIZE) return kWriteDatabaseEraseFailed;
  // One page more than the image fills, so that a whole-page image is
  // followed by a page of zeros as it always has been. The largest image
  // ends exactly at the end of the flash, where that extra page would be
  // addressed at 0x1000000: on a flash with 3-byte addresses it wraps to
  // page 0 and its zeros would clear the start of the flash. It holds
  // nothing of the image, so for that one length it is left out.
  const uint64_t end = uint64_t{address} + uint64_t{length / PAGE_SIZE + 1} * PAGE_SIZE;
  const uint32_t pages = length / PAGE_SIZE + (end > FLASH_SIZE ? 0 : 1);
  m_reporter.StageBegins(JobStage::Write);
  if (WritePages(data, address / PAGE_SIZE, pages) == 0) return kWriteDatabasePagesFailed;
  return kWriteDatabaseWritten;
}

bool UpdateJob::SendCommand(uint16_t code, uint32_t arg1, uint32_t arg2,
                            std::string_view failure) {
  CHidTransfer transfer(m_link);
  if (!transfer.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID)) {
    m_reporter.SetStatusText(text::kDeviceConnectFailed);
    return false;
  }
  FrameCommand(code, arg1, arg2, transfer.m_report);
  const bool sent =
      transfer.m_device.WriteReport(transfer.m_report, REPORT_SIZE, nullptr) &&
      transfer.m_device.FlushWrites();
  transfer.m_device.Close();
  if (!sent) m_reporter.SetStatusText(failure);
  return sent;
}

uint32_t UpdateJob::EraseSectors(uint32_t firstSector, uint32_t sectorCount) {
  return SendCommand(CMD_ERASE_SECTORS, firstSector, sectorCount, text::kEraseCommandError)
             ? sectorCount
             : 0;
}

uint32_t UpdateJob::WaitEraseDone(uint32_t sectorCount) {
  CHidTransfer monitor(m_link);
  const bool opened = monitor.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID);
  return WaitEraseDone(monitor, opened, sectorCount);
}

uint32_t UpdateJob::WaitEraseDone(CHidTransfer& monitor, bool opened,
                                  uint32_t sectorCount) {
  using Clock = std::chrono::steady_clock;
  uint32_t count = 0;
  if (!opened) {
    m_reporter.SetStatusText(text::kDeviceConnectFailed);
    m_reporter.SetProgressPosition(0);
    return 0;
  }
  m_reporter.SetStatusText(text::kErasing);
  m_reporter.SetProgressRange(100);
  m_reporter.SetProgressPosition(0);

  // Holds at most 63 bytes left from earlier reads plus one read's payload.
  uint8_t message[512];
  // Reads that bring no payload do not count as a sign of life: the monitor
  // gives up when none has brought any for the read bound.
  const auto quiet = std::chrono::milliseconds(m_link.bounds.readMs);
  Clock::time_point lastPayload = Clock::now();
  for (;;) {
    uint32_t bytesRead = 0;
    if (!monitor.m_device.ReadReport(monitor.m_report, REPORT_SIZE, &bytesRead)) {
      m_reporter.SetStatusText(text::kEraseMessageError);
      break;
    }
    const uint32_t payload = bytesRead > 1 ? std::min(bytesRead, REPORT_SIZE) - 1 : 0;
    if (payload == 0) {
      if (Clock::now() - lastPayload > quiet) {
        m_reporter.SetStatusText(text::kEraseMessageError);
        break;
      }
      // A device that answers with empty reads must not keep this thread
      // busy: pause a little (a stop cuts the pause short) and read again.
      monitor.m_device.Stop().WaitFor(kEmptyReadPauseMs);
      continue;
    }
    lastPayload = Clock::now();
    std::memcpy(message + count, monitor.m_report + 1, payload);
    count += payload;
    if (count < ERASE_MESSAGE_SIZE) continue;
    if (IsOver(message)) {
      m_reporter.SetProgressPosition(sectorCount);
      break;
    }
    count = 0;  // bytes beyond the first message are dropped
    m_reporter.SetProgressPosition(Le32(message));
  }
  monitor.m_device.Close();
  m_reporter.SetProgressPosition(0);
  return count;
}

uint32_t UpdateJob::WritePages(const uint8_t* data, uint32_t firstPage,
                               uint32_t pageCount) {
  CHidTransfer transfer(m_link);
  m_reporter.SetProgressRange(pageCount);
  m_reporter.SetProgressPosition(0);
  if (!transfer.m_device.Open(HID_VENDOR_ID, HID_PRODUCT_ID)) {
    m_reporter.SetStatusText(text::kDeviceConnectFailed);
    m_reporter.SetProgressPosition(0);
    return 0;
  }
  CHidDevice& device = transfer.m_device;
  uint8_t* const report = transfer.m_report;
  uint32_t written = 0;
  bool ok = false;
  uint64_t bytesSent = 0;
  FrameCommand(CMD_WRITE_PAGES, firstPage, pageCount, report);
  if (!device.WriteReport(report, REPORT_SIZE, &written)) {
    m_reporter.SetStatusText(text::kWriteCommandError);
  } else {
    m_reporter.SetStatusText(text::kWritingDatabase);
    const uint64_t total = uint64_t{pageCount} * PAGE_SIZE;
    uint32_t shownPage = 1;
    ok = true;
    while (bytesSent < total) {
      std::memset(report, REPORT_FILL, REPORT_SIZE);
      report[0] = 0x00;
      std::memcpy(report + 1, data + bytesSent, REPORT_SIZE - 1);
      // HID reports go whole or not at all: a write that claims to have
      // moved less than the report would shift every byte after it.
      if (!device.WriteReport(report, REPORT_SIZE, &written) ||
          written < REPORT_SIZE) {
        m_reporter.SetStatusText(text::kWriteDataError);
        ok = false;
        break;
      }
      bytesSent += written - 1;
      if (bytesSent / PAGE_SIZE >= shownPage) {
        shownPage = std::min(shownPage + 1, pageCount);
        m_reporter.SetProgressPosition(shownPage);
      }
    }
    // The pages are written only once the device has taken every report.
    if (ok && !device.FlushWrites()) {
      m_reporter.SetStatusText(text::kWriteDataError);
      ok = false;
    }
  }
  device.Close();
  m_reporter.SetProgressPosition(0);
  return ok ? static_cast<uint32_t>(bytesSent) : 0;
}

int UpdateJob::RestartDevice() {
  return SendCommand(CMD_RESTART, RESTART_ARG1, RESTART_ARG2, text::kRestartCommandError) ? 0
                                                                                         : -1;
}

}  // namespace gps
