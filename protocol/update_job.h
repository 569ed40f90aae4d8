// One whole update: the image file into the device's flash.
//
// The job runs on a worker thread of the front end and reports through an
// UpdateReporter. Each device operation opens a link of its own and closes it
// before it returns; nothing of the device stays open between them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "hid/hid_device.h"
#include "protocol/update_reporter.h"

namespace gps {

// How a job ended: the stage that failed, or success. Front ends map these
// to exit statuses and the like; the user has already been told.
enum class UpdateOutcome {
  Succeeded,      // "更新成功!" was shown and the restart command went out
  FileMissing,    // the file could not be opened
  FileUnreadable, // it opened but could not be read whole
  TooLarge,       // longer than MAX_DATABASE_SIZE; nothing was sent
  FileEmpty,      // no bytes at all (a download that failed); nothing was sent
  NoDevice,       // no device to open when the job began; nothing was sent
  EraseFailed,
  WriteFailed,
  RestartFailed,
  DeviceBusy,     // another program is updating the device; nothing was sent
};

// Bytes of one erase message; the monitor's count reaches it only when the
// erase ended on "over".
constexpr uint32_t ERASE_MESSAGE_SIZE = 64;

// An image file read whole, followed by the zeros that the page write's last
// page runs into. One image can feed the jobs of several devices at once: a
// job only reads it.
struct LoadedImage {
  std::vector<uint8_t> bytes;  // the file, then the zero tail
  uint32_t length = 0;         // the file's own length
};

// Reads `file` into `image`. Empty when it was read; otherwise why not, and
// `reporter` has told the user. An empty file is refused as well: it is a
// download that failed, and nothing of it may reach the device.
std::optional<UpdateOutcome> LoadImage(const std::filesystem::path& file,
                                       UpdateReporter& reporter, LoadedImage& image);

class UpdateJob {
 public:
  explicit UpdateJob(UpdateReporter& reporter, LinkSettings link = {});

  // Reads `file` whole and updates the device with it.
  UpdateOutcome LoadAndUpdate(const std::filesystem::path& file);

  // Erases, writes the image from DATABASE_ADDRESS, writes the header page
  // and restarts the device. `data` holds the image and, after it, at least
  // PAGE_SIZE bytes of zeros: the last page runs past the image's end.
  UpdateOutcome UpdateDatabase(const uint8_t* data, uint32_t length);

  // What WriteDatabase returns: plain integers, as the device operations'
  // results are.
  enum : int {
    kWriteDatabaseWritten = 0,
    kWriteDatabaseEraseFailed = -1,  // the erase, or its confirmation, failed
    kWriteDatabasePagesFailed = -2,  // the page write failed
    kWriteDatabaseNoDevice = -3,     // no device to open: nothing was sent
  };
  int WriteDatabase(const uint8_t* data, uint32_t length, uint32_t address);

  // Sends the erase command; `sectorCount` when it went out, else 0.
  uint32_t EraseSectors(uint32_t firstSector, uint32_t sectorCount);

  // Follows the device's erase messages until "over". Returns the bytes held
  // of the last message: ERASE_MESSAGE_SIZE or more only after "over".
  uint32_t WaitEraseDone(uint32_t sectorCount);
  // The same on a link that was opened (or failed to open) before the erase
  // command went out, so that no erase message can arrive unheard.
  uint32_t WaitEraseDone(CHidTransfer& monitor, bool opened, uint32_t sectorCount);

  // Sends pageCount pages from `data` to flash page `firstPage` onward.
  // Returns the data bytes sent when every report went through, else 0.
  uint32_t WritePages(const uint8_t* data, uint32_t firstPage, uint32_t pageCount);

  // 0 when the restart command went out, -1 otherwise.
  int RestartDevice();

 private:
  // Sends one command report on a link of its own. On failure the status
  // line says why: no device, or `failure` when the report did not go out.
  bool SendCommand(uint16_t code, uint32_t arg1, uint32_t arg2, std::string_view failure);

  UpdateReporter& m_reporter;
  LinkSettings m_link;
};

}  // namespace gps
