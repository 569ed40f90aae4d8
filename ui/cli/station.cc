#include "ui/cli/station.h"

#include <atomic>
#include <deque>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "hid/attached_devices.h"
#include "hid/shown_text.h"
#include "ui/cli/cli_options.h"
#include "ui/cli/device_console.h"
#include "ui/common/image_file.h"

namespace gps {
namespace {

using Clock = std::chrono::steady_clock;

// One attached interface: a device plugged in twice at the same port with
// the same serial number is the same key both times, which is why its
// absence between the two is what makes the second a new plug-in.
std::string Key(const AttachedDevice& device) { return device.path + '\n' + device.serial; }

// What a device is known by across its restart: its serial number, else its
// path (the platform may give it a new path when it comes back, so the
// serial number is the better of the two).
std::string Identity(const AttachedDevice& device) {
  return device.serial.empty() ? "path " + device.path : "serial " + device.serial;
}

std::string Count(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

class Station {
 public:
  Station(const LoadedImage& image, const StationSettings& settings)
      : image_(image),
        s_(settings),
        console_(settings.out, settings.err, {}, settings.drawBars && !settings.trace,
                 settings.columns, settings.rows) {
    job_.bus = settings.backend;
    job_.trace = settings.trace;
    job_.bounds = settings.bounds;
    job_.settleTime = settings.settleTime;
    job_.pollInterval = settings.pollInterval;
  }

  int Run() {
    fileSeen_ = InspectImage(s_.file);
    console_.Line("Station: every device plugged in is updated once. Ctrl+C ends the session.");
    StopEvent neverSet;
    const StopEvent& interrupt = s_.interrupt ? *s_.interrupt : neverSet;
    for (;;) {
      TakeInterrupts();
      Reap();
      if (draining_ && jobs_.empty()) break;
      if (!draining_) {
        Look();
        CheckFile();
      }
      HoldAwake();
      interrupt.WaitFor(static_cast<uint32_t>(s_.pollInterval.count()));
    }
    awake_.reset();
    console_.ClearBars();
    s_.out << Table() << std::flush;
    if (firstFailure_) return firstFailure_->status;
    return recordLost_ ? kExitRecord : kExitSuccess;
  }

 private:
  struct Job {
    AttachedDevice device;
    std::size_t slot = 0;
    StopEvent stop;
    std::atomic<bool> done{false};
    DeviceResult result;
    std::thread thread;
  };
  struct Presence {
    AttachedDevice device;
    Job* job = nullptr;      // its job, while it runs
    bool gone = false;       // it left while its job ran
    bool plugAgain = false;  // and came back: a new plug-in once that job has ended
  };

  // The first interrupt: no device is taken any more and the running jobs
  // finish. The second: they stop at their next transfer.
  void TakeInterrupts() {
    unsigned count = interrupts_;
    if (s_.interrupt && s_.interrupt->IsSet()) {
      s_.interrupt->Reset();
      if (!s_.interrupts) ++count;
    }
    if (s_.interrupts) count = std::max(count, s_.interrupts());
    interrupts_ = count;
    if (count >= 1 && !draining_) {
      draining_ = true;
      if (!jobs_.empty())
        console_.Line("Station: no further device is taken; the running jobs finish "
                      "(Ctrl+C again stops them).");
    }
    if (count >= 2 && !stopping_) {
      stopping_ = true;
      for (auto& job : jobs_) job->stop.Set();
    }
  }

  // Devices that came start a job; devices that left are forgotten, so that
  // their next plug-in is a new one.
  void Look() {
    std::set<std::string> seen;
    for (const AttachedDevice& device : AttachedDevices(Bus())) {
      const std::string key = Key(device);
      seen.insert(key);
      if (const auto known = present_.find(key); known != present_.end()) {
        if (known->second.gone) {
          known->second.gone = false;
          known->second.plugAgain = true;
        }
        continue;
      }
      Presence& presence = present_[key];
      presence.device = device;
      if (!BackFromRestart(device)) presence.job = Start(device);
    }
    for (auto it = present_.begin(); it != present_.end();) {
      if (seen.count(it->first)) {
        ++it;
      } else if (it->second.job) {
        it->second.gone = true;
        it->second.plugAgain = false;
        ++it;
      } else {
        it = present_.erase(it);
      }
    }
    const Clock::time_point now = Clock::now();
    std::erase_if(restarting_, [now](const auto& entry) { return entry.second <= now; });
  }

  // A device whose update succeeded a moment ago, back on the bus: the
  // device restarting as the update told it to, not a customer's new
  // plug-in. Updating it would restart it again, and again.
  bool BackFromRestart(const AttachedDevice& device) {
    const auto restart = restarting_.find(Identity(device));
    if (restart == restarting_.end() || Clock::now() >= restart->second) return false;
    restarting_.erase(restart);
    console_.Line(ShownText(device.name) +
                  ": back on the bus after its restart; left alone (unplug it for a few "
                  "seconds to update it again).");
    return true;
  }

  Job* Start(const AttachedDevice& device) {
    auto job = std::make_unique<Job>();
    job->device = device;
    job->slot = console_.Add(ShownText(device.name));
    Job* const started = job.get();
    job->thread = std::thread([this, started] {
      started->result =
          RunDeviceJob(started->device, image_, job_, console_, started->slot, started->stop,
                       stopping_);
      started->done = true;
    });
    jobs_.push_back(std::move(job));
    return started;
  }

  // Jobs that have ended are joined, recorded and counted.
  void Reap() {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
      Job& job = **it;
      if (!job.done) {
        ++it;
        continue;
      }
      job.thread.join();
      DeviceResult result = std::move(job.result);
      const bool succeeded = result.status == kExitSuccess;
      if (succeeded) restarting_[Identity(job.device)] = Clock::now() + s_.restartWindow;
      Record(job.slot, result);
      console_.Finish(job.slot);
      const AttachedDevice device = job.device;
      it = jobs_.erase(it);
      Counted(result);

      const auto presence = present_.find(Key(device));
      if (presence == present_.end()) continue;
      presence->second.job = nullptr;
      if (presence->second.gone) {
        present_.erase(presence);
      } else if (presence->second.plugAgain) {
        presence->second.plugAgain = false;
        if (!draining_ && !BackFromRestart(device)) presence->second.job = Start(device);
      }
    }
  }

  void Record(std::size_t slot, const DeviceResult& result) {
    if (!s_.record) return;
    const std::string line = RecordLine(result, s_.image);
    const std::string problem = s_.record->Append(line);
    if (problem.empty()) return;
    // The line is not lost: it goes to standard error instead.
    recordLost_ = true;
    console_.ErrorLine(slot, "gps-update-cli: " + ShownText(DisplayName(s_.recordName)) +
                                 " could not be written (" + problem + "); its line: " + line);
  }

  void Counted(const DeviceResult& result) {
    if (result.status == kExitSuccess) {
      ++updated_;
    } else {
      ++failed_;
      if (!firstFailure_) firstFailure_ = result;
    }
    rows_.push_back(result);
    if (rows_.size() > s_.tableRows) {
      rows_.pop_front();
      ++dropped_;
    }
    console_.Line("Station: " + std::to_string(updated_) + " updated, " +
                  std::to_string(failed_) + " failed so far.");
    if (s_.jobEnded) s_.jobEnded(result);
  }

  // The image was read once, at the start; a new file on disk is pointed
  // out once, never taken silently halfway through a session.
  void CheckFile() {
    const std::optional<ImageFile> now = InspectImage(s_.file);
    const bool same = now.has_value() == fileSeen_.has_value() &&
                      (!now || (now->size == fileSeen_->size && now->modified == fileSeen_->modified));
    if (same) return;
    fileSeen_ = now;
    s_.err << "gps-update-cli: " << ShownText(DisplayName(s_.file))
           << (now ? " has changed on disk" : " is no longer there")
           << "; the station keeps writing the image it read at the start (SHA-256 "
           << s_.image.sha256 << "). Start the station again to write the new file.\n"
           << std::flush;
  }

  // The system is kept awake while a job runs, not while the counter waits.
  void HoldAwake() {
    if (jobs_.empty()) awake_.reset();
    else if (!awake_ && s_.keepAwake) awake_ = s_.keepAwake();
  }

  std::string Table() const {
    std::string table;
    if (dropped_ > 0) {
      // Appended piece by piece: GCC 12 at -O3 warns falsely about "(" + a
      // string (-Wrestrict).
      table += '(';
      table += Count(dropped_, "earlier job is", "earlier jobs are");
      table += " in the record)\n";
    }
    if (!rows_.empty()) table += ResultRows(std::vector<DeviceResult>(rows_.begin(), rows_.end()));
    const std::size_t jobs = updated_ + failed_;
    if (jobs == 0) {
      table += "Station: no device was updated.\n";
    } else if (failed_ == 0) {
      table += "Station: " + Count(jobs, "job", "jobs") + ", all updated.\n";
    } else {
      table += "Station: " + Count(jobs, "job", "jobs") + ", " + std::to_string(updated_) +
               " updated, " + std::to_string(failed_) + " failed; the exit status is " +
               std::to_string(firstFailure_->status) + ", " + firstFailure_->name +
               "'s, the first failure.\n";
    }
    if (recordLost_)
      table += "Station: lines of the record could not be written; they are above.\n";
    return table;
  }

  HidBackend& Bus() const { return s_.backend ? *s_.backend : PlatformHidBackend(); }

  const LoadedImage& image_;
  const StationSettings& s_;
  DeviceConsole console_;
  DeviceJobSettings job_;
  std::map<std::string, Presence> present_;
  std::list<std::unique_ptr<Job>> jobs_;  // running, or ended and not yet reaped
  std::map<std::string, Clock::time_point> restarting_;  // identity -> until
  std::deque<DeviceResult> rows_;
  std::size_t updated_ = 0;
  std::size_t failed_ = 0;
  std::size_t dropped_ = 0;
  std::optional<DeviceResult> firstFailure_;
  bool recordLost_ = false;
  unsigned interrupts_ = 0;
  bool draining_ = false;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<SleepInhibitor> awake_;
  std::optional<ImageFile> fileSeen_;
};

}  // namespace

int RunStation(const LoadedImage& image, const StationSettings& settings) {
  return Station(image, settings).Run();
}

}  // namespace gps
