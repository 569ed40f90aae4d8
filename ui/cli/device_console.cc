#include "ui/cli/device_console.h"

#include <algorithm>

#include "ui/cli/text_width.h"

namespace gps {
namespace {

constexpr int kBarCells = 30;
// Longer names (a Windows device path) are cut in the bars, so that a bar
// line fits 80 columns; the status lines carry them whole.
constexpr std::size_t kLongestBarName = 24;

// Moves the cursor up `lines` lines.
std::string Up(std::size_t lines) {
  return lines == 0 ? std::string() : "\033[" + std::to_string(lines) + "A";
}

}  // namespace

class DeviceConsole::DeviceReporter : public UpdateReporter {
 public:
  DeviceReporter(DeviceConsole& console, std::size_t index) : console_(console), index_(index) {}
  void SetStatusText(std::string_view text) override { console_.Status(index_, text); }
  void SetProgressRange(uint32_t upper) override { console_.Range(index_, upper); }
  void SetProgressPosition(uint32_t position) override { console_.Position(index_, position); }
  void ShowMessage(std::string_view text) override { console_.Message(index_, text); }

 private:
  DeviceConsole& console_;
  const std::size_t index_;
};

DeviceConsole::DeviceConsole(std::ostream& out, std::ostream& err,
                             const std::vector<std::string>& names, bool drawBars, int columns,
                             int rows)
    : out_(out), err_(err), drawBars_(drawBars), columns_(columns), rows_(rows) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    devices_.emplace_back().name = names[i];
    reporters_.push_back(std::make_unique<DeviceReporter>(*this, i));
    nameWidth_ = std::max(nameWidth_, std::min(DisplayWidth(names[i]), kLongestBarName));
  }
  if (!BarsFit(names.size())) drawBars_ = false;
}

// A bar line that wraps, or more bars than the terminal has rows, would
// leave the cursor movements that redraw them moving the wrong lines: the
// screen fills with broken bars. The last column stays free, as some
// terminals wrap on reaching it.
bool DeviceConsole::BarsFit(std::size_t bars) const {
  const std::size_t barWidth = nameWidth_ + 2 + kBarCells + 2 + 4;
  if (columns_ > 0 && barWidth + 1 > static_cast<std::size_t>(columns_)) return false;
  return rows_ <= 0 || bars + 1 <= static_cast<std::size_t>(rows_);
}

DeviceConsole::~DeviceConsole() = default;

UpdateReporter& DeviceConsole::Reporter(std::size_t index) { return *reporters_.at(index); }

std::string DeviceConsole::LastText(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.at(index).lastText;
}

std::size_t DeviceConsole::Add(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t index = 0;
  while (index < devices_.size() && devices_[index].active) ++index;
  if (index == devices_.size()) {
    devices_.emplace_back();
    reporters_.push_back(std::make_unique<DeviceReporter>(*this, index));
  }
  devices_[index] = Device{};
  devices_[index].name = name;
  nameWidth_ = std::max(nameWidth_, std::min(DisplayWidth(name), kLongestBarName));
  ClearBarsLocked();
  const auto active = std::count_if(devices_.begin(), devices_.end(),
                                    [](const Device& device) { return device.active; });
  // From the job that no longer fits on, progress lines, as in a log.
  if (!BarsFit(static_cast<std::size_t>(active))) drawBars_ = false;
  DrawBars();
  return index;
}

void DeviceConsole::Finish(std::size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarsLocked();
  devices_.at(index).active = false;
  DrawBars();
}

void DeviceConsole::Line(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarsLocked();
  out_ << text << '\n' << std::flush;
  DrawBars();
}

void DeviceConsole::Status(std::size_t index, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device& device = devices_[index];
  device.lastText = text;
  ClearBarsLocked();
  out_ << device.name << ": " << text << '\n' << std::flush;
  DrawBars();
}

void DeviceConsole::Message(std::size_t index, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_[index].lastText = text;
  ClearBarsLocked();
  err_ << devices_[index].name << ": " << text << '\n' << std::flush;
  DrawBars();
}

void DeviceConsole::ErrorLine(std::size_t index, std::string_view line) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarsLocked();
  err_ << devices_.at(index).name << ": " << line << '\n' << std::flush;
  DrawBars();
}

void DeviceConsole::Range(std::size_t index, uint32_t upper) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device& device = devices_[index];
  device.upper = upper;
  device.position = 0;
  device.tenthsShown = 0;  // a new step: its lines start again
  Progressed(device);
}

void DeviceConsole::Position(std::size_t index, uint32_t position) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device& device = devices_[index];
  device.position = position;
  Progressed(device);
}

// Redraws only when a percentage changes: a large image moves each bar
// 65,000 times, and the terminal need not see each.
void DeviceConsole::Progressed(Device& device) {
  const uint32_t shown = std::min(device.position, device.upper);
  const int percent =
      device.upper == 0 ? 0 : static_cast<int>(uint64_t{shown} * 100 / device.upper);
  if (percent == device.percent) return;
  device.percent = percent;
  if (drawBars_) {
    DrawBars();
  } else if (percent / 10 > device.tenthsShown) {
    device.tenthsShown = percent / 10;
    err_ << device.name << ": " << device.tenthsShown * 10 << "%\n" << std::flush;
  }
}

void DeviceConsole::ClearBars() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarsLocked();
}

// The cursor rests at the end of the last bar: back to the first one, and
// everything from there down is erased.
void DeviceConsole::ClearBarsLocked() {
  if (!barsShown_) return;
  err_ << '\r' << Up(barLines_ - 1) << "\033[J" << std::flush;
  barsShown_ = false;
}

void DeviceConsole::DrawBars() {
  if (!drawBars_) return;
  std::string block = barsShown_ ? '\r' + Up(barLines_ - 1) : std::string();
  std::size_t lines = 0;
  for (const Device& device : devices_) {
    if (!device.active) continue;
    if (lines++ > 0) block += '\n';
    const int filled = device.percent * kBarCells / 100;
    const std::string percent = std::to_string(device.percent);
    block += "\033[K" + FitWidth(device.name, nameWidth_) + " [" +
             std::string(static_cast<std::size_t>(filled), '#') +
             std::string(static_cast<std::size_t>(kBarCells - filled), ' ') + "] " +
             std::string(3 - percent.size(), ' ') + percent + "%";
  }
  if (lines == 0) return;  // no job runs: nothing to draw (barsShown_ is false here)
  err_ << block << std::flush;
  barsShown_ = true;
  barLines_ = lines;
}

}  // namespace gps
