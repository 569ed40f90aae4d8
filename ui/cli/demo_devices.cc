#include "ui/cli/demo_devices.h"

#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

#include "hid/hid_device.h"
#include "protocol/flash_layout.h"
#include "protocol/image_header.h"
#include "sim/demo_device.h"

namespace gps {
namespace {

// The demo device of every front end; each further device erases a little
// more slowly, so that their bars are seen to move on their own.
SimConfig PacedDemoConfig(unsigned index) {
  SimConfig config = gps::DemoDeviceConfig();
  config.progressGap += std::chrono::milliseconds(30 * index);
  return config;
}

// Pages of `file` (the last one padded with zeros, as the update sends it)
// whose digest the simulated flash holds at the database's place, and the
// pages there are: a whole image when the two are equal.
std::pair<uint32_t, uint32_t> PagesMatching(const SimDevice& device,
                                            const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  uint32_t pages = 0;
  uint32_t matching = 0;
  for (;;) {
    uint8_t page[PAGE_SIZE] = {};
    in.read(reinterpret_cast<char*>(page), PAGE_SIZE);
    const bool last = in.gcount() < static_cast<std::streamsize>(PAGE_SIZE);
    matching += device.PageDigest(DATABASE_ADDRESS / PAGE_SIZE + pages) ==
                SimFlash::PageDigestOf(page);
    ++pages;
    if (last) return {matching, pages};
  }
}

}  // namespace

DemoDevices::DemoDevices(unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    Device d;
    if (count == 1) {
      d.path = "sim:0416:b500";
    } else {
      char serial[16];
      std::snprintf(serial, sizeof serial, "SIM-%02u", i + 1);
      d.path = "sim:0416:b500:" + std::to_string(i + 1);
      d.serial = serial;
    }
    d.device = std::make_unique<SimDevice>(PacedDemoConfig(i));
    bus_.AddInterface({d.path, HID_VENDOR_ID, HID_PRODUCT_ID, true, d.device.get(), d.serial});
    devices_.push_back(std::move(d));
  }
}

void DemoDevices::Describe(const std::string& name, const std::filesystem::path& file,
                           bool succeeded, std::ostream& err) const {
  for (const Device& d : devices_)
    if (d.serial == name || d.path == name) Describe(d, file, succeeded, err);
}

void DemoDevices::DescribeFirst(const std::filesystem::path& file, bool succeeded,
                                std::ostream& err) const {
  if (!devices_.empty()) Describe(devices_.front(), file, succeeded, err);
}

void DemoDevices::Describe(const Device& d, const std::filesystem::path& file, bool succeeded,
                           std::ostream& err) const {
  const SimDevice& device = *d.device;
  const std::string label =
      devices_.size() == 1 ? "[simulated device] " : "[simulated device " + d.serial + "] ";
  err << label << device.OutputReportCount() << " output reports taken, "
      << device.Restarts() << " restart(s), " << device.WriteDefects()
      << " byte(s) written over unerased flash, " << device.RejectedCommands()
      << " command(s) rejected\n";
  if (!succeeded) return;
  std::error_code error;
  const auto length = static_cast<uint32_t>(std::filesystem::file_size(file, error));
  const auto header = HeaderPage(length);
  const auto [matching, pages] = PagesMatching(device, file);
  err << label << "flash at 0x" << std::hex << DATABASE_ADDRESS << std::dec << ": "
      << matching << " of " << pages << " page(s) match the image; header page at 0x"
      << std::hex << HEADER_ADDRESS << std::dec
      << (device.PageDigest(HEADER_ADDRESS / PAGE_SIZE) == SimFlash::PageDigestOf(header.data())
              ? " matches"
              : " does not match")
      << '\n';
}

}  // namespace gps
