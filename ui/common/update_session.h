// The rules of the dialogs, free of any toolkit: when the status line
// follows the device, when an update may start, and what a close request
// does. DialogModel (dialog_model.h) holds one and builds the rest of the
// dialog's behaviour on it; the command line's station takes its times.
//
//   - The status line follows the device (plugged in, pulled out) only while
//     it shows a probe's text and no update runs: an update's texts, its
//     last one included, are never replaced.
//   - One update at a time.
//   - A close while an update runs asks the user once; confirmed, it stops
//     the update and closes when the worker has ended.
//   - The file "更新" writes is the one the dialog was given, or the one the
//     user dropped on it or picked, and stays the running update's.
//   - udev grants the user's access a moment after the device appears, so a
//     device that would not open is looked at again for a while after each
//     change of the device list.
//
// It is used on the dialog's own thread only.
#pragma once

#include <chrono>
#include <filesystem>

#include "protocol/device_probe.h"
#include "protocol/update_job.h"
#include "ui/common/image_file.h"

namespace gps {

// How long after a change of the device list a device that would not open
// may still become usable.
inline constexpr std::chrono::milliseconds kDeviceSettleTime{2000};

// A device back on the bus this soon after its update succeeded is taken for
// the same device coming back from the restart that ended the update, not
// for a new plug-in (a station updates each plug-in once).
inline constexpr std::chrono::milliseconds kRestartWindow{10000};

class UpdateSession {
 public:
  using Clock = std::chrono::steady_clock;

  // `file` is what "更新" writes.
  explicit UpdateSession(std::filesystem::path file = kDefaultImageFile);

  // --- the image file ------------------------------------------------------

  // The file "更新" writes: the one given, or chosen.
  const std::filesystem::path& File() const { return file_; }
  // The user dropped or picked `file` (or took a copy that was offered): it
  // is taken as it is. False while an update runs (the running update keeps
  // its file).
  bool FileChosen(const std::filesystem::path& file);

  // --- the status line -----------------------------------------------------

  // A probe's text is on the status line now.
  void ProbeShown(ProbeOutcome outcome);
  // The update set a text of its own: the device is no longer followed.
  void UpdateTextShown() { statusFromProbe_ = false; }

  // --- following the device -----------------------------------------------

  // True while the status line shows a probe's text, no update runs and the
  // dialog is not closing: the device list may be looked at, and the device
  // probed.
  bool FollowsDevice() const;
  // The device list changed (a look found it different, or the system sent
  // a notification). True: probe now.
  bool DeviceListChanged(Clock::time_point now);
  // A look found the list as it was. True: probe again, since the device
  // would not open and the last change is recent enough that its access may
  // still be on its way.
  bool ProbeAgain(Clock::time_point now) const;
  // True while ProbeAgain may still answer true: a dialog that learns of
  // changes only by notification looks again until then.
  bool Settling(Clock::time_point now) const;

  // --- updates -------------------------------------------------------------

  bool MayStartUpdate() const { return !updating_ && !closing_; }

  void UpdateStarted() { updating_ = true; }
  bool Updating() const { return updating_; }

  // What the dialog does once the worker has ended.
  enum class AfterUpdate {
    Close,         // close now, with CloseCode()
    OfferUpdate,   // enable "更新" again
    // As OfferUpdate, and the close question is still open: take it away
    // unanswered, so that the update's last text is what the user reads and
    // no late answer acts on an update that is over. A dialog that cannot
    // take its question away may leave it: a confirmed answer then closes.
    WithdrawQuestion,
  };
  AfterUpdate UpdateEnded();

  // --- closing ---------------------------------------------------------------

  // What a close request ("取消", Esc, the close box) does now.
  enum class CloseAction {
    Close,   // no update runs: close at once
    Ask,     // ask the user whether to stop the update (then call CloseAnswered)
    Ignore,  // the question is already open, or the update is already stopping
  };
  CloseAction CloseRequested();

  // What the answer to the close question does.
  enum class AnswerAction {
    KeepRunning,  // declined: the update goes on
    Close,        // confirmed, and the update ended while the user was asked
    StopUpdate,   // confirmed: stop the update; close once it has ended
  };
  AnswerAction CloseAnswered(bool confirmed, int code);

  // Stopping the update to close: the worker's remaining texts are shown,
  // its messages are not (the user has chosen to leave).
  bool Closing() const { return closing_; }
  int CloseCode() const { return closeCode_; }
  bool ShowsMessages() const { return !closing_; }

 private:
  std::filesystem::path file_;
  bool statusFromProbe_ = false;
  ProbeOutcome lastProbe_ = ProbeOutcome::Absent;
  std::optional<Clock::time_point> lastChange_;
  bool updating_ = false;
  bool asking_ = false;
  bool closing_ = false;
  int closeCode_ = 0;
};

}  // namespace gps
