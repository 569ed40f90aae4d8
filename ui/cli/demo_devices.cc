#include "ui/cli/demo_devices.h"

#include <cstdio>
#include <utility>

#include "hid/hid_device.h"
#include "protocol/flash_layout.h"
#include "protocol/image_header.h"
#include "sim/demo_device.h"

namespace gps {

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
    d.device = std::make_unique<SimDevice>(DemoDeviceConfig(i));
    bus_.AddInterface({d.path, HID_VENDOR_ID, HID_PRODUCT_ID, true, d.device.get(), d.serial});
    devices_.push_back(std::move(d));
  }
}

void DemoDevices::Describe(const std::string& name, const LoadedImage& image,
                           bool succeeded, std::ostream& err) const {
  for (const Device& d : devices_)
    if (d.serial == name || d.path == name) Describe(d, image, succeeded, err);
}

void DemoDevices::DescribeFirst(const LoadedImage& image, bool succeeded,
                                std::ostream& err) const {
  if (!devices_.empty()) Describe(devices_.front(), image, succeeded, err);
}

void DemoDevices::Describe(const Device& d, const LoadedImage& image, bool succeeded,
                           std::ostream& err) const {
  const SimDevice& device = *d.device;
  const std::string label =
      devices_.size() == 1 ? "[simulated device] " : "[simulated device " + d.serial + "] ";
  err << label << device.OutputReportCount() << " output reports taken, "
      << device.Restarts() << " restart(s), " << device.WriteDefects()
      << " byte(s) written over unerased flash, " << device.RejectedCommands()
      << " command(s) rejected\n";
  if (!succeeded) return;
  // The image's pages, the last one padded with the zeros the update sent
  // after it.
  const uint32_t length = image.length;
  const uint32_t firstPage = DATABASE_ADDRESS / PAGE_SIZE;
  const uint32_t pages = (length + PAGE_SIZE - 1) / PAGE_SIZE;
  uint32_t matching = 0;
  for (uint32_t p = 0; p < pages; ++p)
    matching += device.PageDigest(firstPage + p) ==
                SimFlash::PageDigestOf(image.bytes.data() + std::size_t{p} * PAGE_SIZE);
  const auto header = HeaderPage(length);
  err << label << "flash at 0x" << std::hex << DATABASE_ADDRESS << std::dec << ": "
      << matching << " of " << pages << " page(s) match the image; header page at 0x"
      << std::hex << HEADER_ADDRESS << std::dec
      << (device.PageDigest(HEADER_ADDRESS / PAGE_SIZE) == SimFlash::PageDigestOf(header.data())
              ? " matches"
              : " does not match")
      << '\n';
}

}  // namespace gps
