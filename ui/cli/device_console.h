// What gps-update-cli shows while it updates several devices at once.
//
// Each status text becomes a line on standard output that starts with its
// device's name ("SN0001: 正在清除..."), and so does each message on standard
// error. On a terminal, standard error also holds one bar per device below
// those lines, redrawn in place; otherwise each device gets a progress line
// ("SN0001: 40%") at every tenth of a step, so that a log shows every job
// moving. The jobs report from threads of their own at the same time: one
// lock keeps every line whole and the bars below the lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/update_reporter.h"

namespace gps {

class DeviceConsole {
 public:
  // `columns` and `rows`: the terminal's size, 0 where it does not say. Bars
  // are drawn only where every bar line fits one line of the terminal and
  // the bars fit its height; otherwise, as in a log, progress lines.
  DeviceConsole(std::ostream& out, std::ostream& err, const std::vector<std::string>& names,
                bool drawBars, int columns = 0, int rows = 0);
  bool DrawsBars() const { return drawBars_; }
  ~DeviceConsole();
  DeviceConsole(const DeviceConsole&) = delete;
  DeviceConsole& operator=(const DeviceConsole&) = delete;

  // The reporter for the job of device `index` (in the order of `names`).
  UpdateReporter& Reporter(std::size_t index);
  // One line of that device's on standard error, such as a line of its trace.
  void ErrorLine(std::size_t index, std::string_view line);
  // The last status text or message of that device.
  std::string LastText(std::size_t index) const;
  // Takes the bars off the screen: the jobs have ended.
  void ClearBars();

  // A station's devices come and go: `Add` gives a new device a place (one
  // whose job has ended may be reused), `Finish` takes its bar away when its
  // job has ended, and `Line` is a line of the program's own on standard
  // output, kept above the bars.
  std::size_t Add(const std::string& name);
  void Finish(std::size_t index);
  void Line(std::string_view text);

 private:
  class DeviceReporter;
  struct Device {
    std::string name;
    uint32_t upper = 100;
    uint32_t position = 0;
    int percent = 0;
    int tenthsShown = 0;  // progress lines: the last tenth of this step printed
    std::string lastText;
    bool active = true;  // its job runs: its bar is drawn
  };

  void Status(std::size_t index, std::string_view text);
  void Range(std::size_t index, uint32_t upper);
  void Position(std::size_t index, uint32_t position);
  void Message(std::size_t index, std::string_view text);
  // Under the lock.
  void Progressed(Device& device);
  void ClearBarsLocked();
  bool BarsFit(std::size_t bars) const;
  void DrawBars();

  std::ostream& out_;
  std::ostream& err_;
  bool drawBars_;
  const int columns_;
  const int rows_;
  std::size_t nameWidth_ = 0;
  mutable std::mutex mutex_;
  std::vector<Device> devices_;
  std::vector<std::unique_ptr<DeviceReporter>> reporters_;
  bool barsShown_ = false;
  std::size_t barLines_ = 0;  // bars drawn, while barsShown_
};

}  // namespace gps
