#include "tests/vm/gadget_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "hid/sim_device.h"
#include "protocol/flash_layout.h"

namespace gps {

struct GadgetModel::Impl {
  Impl() : device(Config()), bus(device) {
    writer = bus.OpenData("sim:0416:b500", HidAccess::Write).handle;
    reader = bus.OpenData("sim:0416:b500", HidAccess::Read).handle;
  }
  static SimConfig Config() {
    SimConfig c;
    c.progressGap = std::chrono::milliseconds(20);
    return c;
  }
  SimDevice device;
  SimBus bus;
  HidHandle writer;
  HidHandle reader;
  StopEvent never;
  std::optional<Input> pending;
};

GadgetModel::GadgetModel() : impl_(std::make_unique<Impl>()) {}
GadgetModel::~GadgetModel() = default;

void GadgetModel::Plugged() {}
void GadgetModel::Unplugged() { impl_->pending.reset(); }

void GadgetModel::TakeOutput(const uint8_t* payload, std::size_t length) {
  uint8_t report[65] = {};
  std::memcpy(report + 1, payload, std::min<std::size_t>(length, 64));
  impl_->bus.Transfer(impl_->writer, HidDirection::Write, report, 65, 1000, impl_->never);
}

std::optional<GadgetModel::Input> GadgetModel::NextInput() {
  if (!impl_->pending) {
    uint8_t report[65] = {};
    const TransferResult r =
        impl_->bus.Transfer(impl_->reader, HidDirection::Read, report, 65, 0, impl_->never);
    if (r.status == TransferStatus::Completed && r.count == 65) {
      Input in;
      std::memcpy(in.payload.data(), report + 1, 64);
      impl_->pending = in;
    }
  }
  return impl_->pending;
}

void GadgetModel::InputSent() { impl_->pending.reset(); }

bool GadgetModel::WriteResults(const std::string& dir) const {
  const int fd = open((dir + "/flash.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, SIM_FLASH_SIZE) == 0;
  const std::vector<uint8_t> unerased(SECTOR_SIZE, SIM_UNERASED);
  for (uint32_t a = 0; ok && a < SIM_FLASH_SIZE; a += SECTOR_SIZE) {
    const std::vector<uint8_t> sector = impl_->device.ReadFlash(a, SECTOR_SIZE);
    if (std::memcmp(sector.data(), unerased.data(), SECTOR_SIZE) == 0) continue;
    ok = pwrite(fd, sector.data(), sector.size(), a) == static_cast<ssize_t>(sector.size());
  }
  ok = close(fd) == 0 && ok;
  std::ofstream summary(dir + "/summary");
  summary << "output_reports " << impl_->device.OutputReportCount() << "\n";
  return ok && summary.good();
}

}  // namespace gps
