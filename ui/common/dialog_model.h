// The main dialog's behaviour, free of any toolkit: what its status line,
// the line under it, the title, the bar, the buttons and its boxes show, and
// what each thing the user or the job does changes. Qt's dialog, Update.exe
// and the web page each keep their widgets and their own way of watching the
// device and of running the job; they tell the model what happened and show
// its View().
//
// Using it from a front end:
//   - Opening: look at the device list (enumeration only: the system's list
//     of interfaces with our vendor and product) and pass it to
//     DeviceListLooked, then probe the device and pass the outcome and its
//     text to Probed. Look at the image with LookAtImage(File(), FileGiven())
//     and pass it to ImageLooked (again whenever View().lookAtImage is set).
//   - While View().watchDevice: look at the list at each tick (or on the
//     system's notification, and while View().settling at a short tick) and
//     pass it to DeviceListLooked; when it answers true, probe and Probed.
//   - "更新": probe, check the file (CheckImageFile(File()); a browser's file
//     by CheckImageSize) and pass both, with the image looked at, to
//     UpdatePressed. Start: run the job on File() and call JobStarted.
//     AskAboutCopy: the box in View().box; its answer goes to CopyAnswered.
//   - The job's reports go to JobStatus, JobStageBegins, JobRange, JobPosition in
//     the order the job made them; its messages are shown only when
//     JobMessage answers true; its end goes to JobEnded.
//   - A close request goes to CloseRequested; the close question's answer to
//     CloseAnswered. Close and CloseCode() end the dialog; StopUpdate sets
//     the job's stop event.
//   - A front end that shows the several-devices note on a line of its own
//     calls KeepDeviceNoteApart once; one that looked for the default file in
//     several folders names them with SetSearchedFolders.
//   - After every event, render View(now): each field says what one widget
//     shows. A box with a new View().box.serial is opened; an open box whose
//     serial is no longer the view's is taken away unanswered; a closed
//     advice or refusal box goes to BoxClosed.
//   - View().keepAwake: hold the system (the screen, on the web) awake.
//
// Used on the dialog's own thread only; it reads no file and opens nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/device_probe.h"
#include "protocol/image_check.h"
#include "protocol/update_job.h"
#include "protocol/update_reporter.h"
#include "ui/common/image_file.h"
#include "ui/common/update_progress.h"
#include "ui/common/update_session.h"

namespace gps {

// The dialog's title.
inline constexpr std::string_view kDialogTitle = "道路安全警示系統更新介面";

// A box the dialog shows over itself.
struct DialogBox {
  enum class Kind {
    None,
    Message,        // the program's name as caption, one "確定", no icon (a file refused)
    Advice,         // a warning with one "確定": what a failure means and what to do
    CloseQuestion,  // "中斷更新" / "繼續更新" (the default), with a warning icon
    CopyQuestion,   // "使用這個檔案" (the default) / "使用 <file>" when keepLabel / "取消"
  };
  Kind kind = Kind::None;
  std::string text;
  // CopyQuestion: the answer that keeps the file ("使用 code_data.bin");
  // empty when the file is not there to keep.
  std::string keepLabel;
  // A new number for each box shown; 0 for none.
  uint64_t serial = 0;
};

// One thing dropped on the window: a file, or a folder.
struct DroppedItem {
  std::filesystem::path path;
  bool folder = false;
};

// What the dialog shows now.
struct DialogView {
  std::string status;
  bool statusFailed = false;  // the status line tells of a failure: a red text
  // With KeepDeviceNoteApart: how many devices are attached, when more than
  // one (for a line of its own); empty otherwise.
  std::string deviceNote;
  std::string progressLine;   // the line under the status line
  // The file the line tells of, while it tells of one (a renderer that must
  // shorten the line keeps its name readable, and may show where it is);
  // empty otherwise.
  std::filesystem::path lineFile;
  std::string title;
  // The step's percentage while the job runs on the device, on the bar's
  // measure: each step runs the bar from 0 to its own range, and the number
  // on the progress line, in the title and on a taskbar button is how far
  // the bar is. -1 otherwise.
  int percent = -1;
  // After a job that failed on the device, where it stopped (a taskbar
  // button shows it as failed there); -1 otherwise.
  int failedAtPercent = -1;
  // The bar: 0..barRange (16 bits, as the Windows control holds it; 0 is an
  // empty bar), at barPosition (never above the range).
  uint32_t barRange = 100;
  uint32_t barPosition = 0;
  // "更新"; greyed while an update runs, and while the box that refused a
  // file is open.
  bool updateEnabled = true;
  bool cancelEnabled = true;      // "取消"
  bool chooseFileEnabled = true;  // "選擇檔案…", and a file dropped on the window
  bool keepAwake = false;         // hold the system awake: an update runs
  bool watchDevice = true;        // look at the device list as it changes
  // A device that would not open may still become usable: a dialog that
  // learns of changes only by notification looks again at a short tick.
  bool settling = false;
  // The file "更新" writes changed, or may have changed on disk: look at it
  // again (LookAtImage) and pass it to ImageLooked.
  bool lookAtImage = false;
  DialogBox box;
};

// The file "更新" writes as it is on disk now, with a copy to offer: the
// file named by the user is taken as it is, a default one gets its browser
// copies looked for. It reads the folder.
ImageChoice LookAtImage(const std::filesystem::path& file, bool given);

class DialogModel {
 public:
  using Clock = std::chrono::steady_clock;

  // `file` is what "更新" writes; `given` when the user named it, so that no
  // numbered copy of it is looked for.
  explicit DialogModel(std::filesystem::path file = kDefaultImageFile, bool given = false,
                       std::string title = std::string(kDialogTitle));

  DialogView View(Clock::time_point now) const;

  // The several-devices note goes to View().deviceNote, not after the
  // probe's text on the status line.
  void KeepDeviceNoteApart() { m_deviceNoteApart = true; }
  // The folders the default file was looked for in: a line that says it was
  // not found names them.
  void SetSearchedFolders(std::vector<std::filesystem::path> folders) {
    m_searched = std::move(folders);
  }

  // --- the device ------------------------------------------------------------

  // A look at the system's list of our interfaces (enumeration only). True:
  // probe the device now (the list changed, or a device that would not open
  // may have become usable since).
  bool DeviceListLooked(const std::vector<std::string>& interfaces, Clock::time_point now);
  // A probe's outcome and its text (ProbeDevice).
  void Probed(ProbeOutcome outcome, std::string_view text);

  // --- the file --------------------------------------------------------------

  const std::filesystem::path& File() const { return m_session.File(); }
  bool FileGiven() const { return m_fileGiven; }
  void ImageLooked(ImageChoice image);
  // The user dropped or picked `file`. False while an update runs.
  bool FileChosen(const std::filesystem::path& file);
  // Things dropped on the window. One file is chosen; one folder (an
  // unpacked download, say) gives its code_data.bin; several are refused
  // with a box that asks for one. False while an update runs (nothing
  // changed).
  bool Dropped(const std::vector<DroppedItem>& items);

  // --- "更新" -----------------------------------------------------------------

  enum class StartAction {
    Nothing,       // an update runs, the dialog is closing, or the user cancelled
    Refused,       // the file is refused: the view says why; nothing starts
    NoDevice,      // nothing starts; the status line says so
    AskAboutCopy,  // the copy question is in View().box: answer with CopyAnswered
    Start,         // start the job on File(), then call JobStarted
  };
  bool MayStartUpdate() const { return m_session.MayStartUpdate(); }
  // `probe`: a fresh look at the device. `image`: LookAtImage of File().
  // `check`: CheckImageFile(File()).
  StartAction UpdatePressed(ProbeOutcome probe, const ImageChoice& image,
                            const ImageCheck& check);
  // For a front end with no folder to look in (a browser's file).
  StartAction UpdatePressed(ProbeOutcome probe, const ImageCheck& check);
  enum class CopyAnswer { TakeCopy, KeepFile, Cancel };
  StartAction CopyAnswered(CopyAnswer answer);

  // --- the job ---------------------------------------------------------------

  void JobStarted(Clock::time_point now);
  void JobStatus(std::string_view text);
  void JobStageBegins(JobStage stage, Clock::time_point now);
  void JobRange(uint32_t upper);
  void JobPosition(uint32_t position, Clock::time_point now);
  // A message of the job: true when it is shown (in a box like
  // DialogBox::Kind::Message, the job waiting until it is closed). A user
  // who has chosen to close is not kept by the messages of the stopping job.
  bool JobMessage() const { return m_session.ShowsMessages(); }
  enum class AfterJob {
    Stay,   // the view says what happened
    Close,  // the user chose to close: end the dialog with CloseCode()
  };
  AfterJob JobEnded(UpdateOutcome outcome, Clock::time_point now);
  bool Updating() const { return m_session.Updating(); }

  // --- closing ---------------------------------------------------------------

  enum class CloseAction {
    Close,   // end the dialog with `code` now
    Ask,     // the close question is in View().box: answer with CloseAnswered
    Ignore,  // it is already asked, or the update is already stopping
  };
  // "取消", Esc, the close box; `code` is what the dialog ends with.
  CloseAction CloseRequested(int code);
  enum class AnswerAction {
    KeepRunning,  // the update goes on
    Close,        // end the dialog with CloseCode(): the update ended meanwhile
    StopUpdate,   // set the job's stop event; JobEnded then says Close
  };
  AnswerAction CloseAnswered(bool stop);
  // The system asks the program to end (a signal, a logout): nothing is
  // asked, and a close question still open goes. Close: no update runs, end
  // the dialog with CloseCode() now. StopUpdate: as a confirmed close.
  // KeepRunning: the update is already stopping; nothing more to do.
  AnswerAction EndRequested(int code);
  int CloseCode() const { return m_askedCode; }

  // An advice or message box the model showed was closed.
  void BoxClosed();

 private:
  StartAction Decide(const ImageCheck& check, ProbeOutcome probe);
  void ShowBox(DialogBox::Kind kind, std::string text, std::string keepLabel = {});
  void ShowStatus(std::string text, bool failed = false);
  std::string FileLineNow() const;

  UpdateSession m_session;
  bool m_fileGiven = false;
  std::string m_title;
  std::optional<ImageChoice> m_image;  // the last look at the file
  bool m_lookAtImage = true;
  // While the copy question is open: the check of the file and the probe
  // from when "更新" was pressed.
  std::optional<ImageChoice> m_offered;
  ImageCheck m_offeredCheck;
  ProbeOutcome m_pressProbe = ProbeOutcome::Absent;

  std::vector<std::string> m_interfaces;
  bool m_probed = false;
  bool m_deviceNoteApart = false;
  std::string m_deviceNote;  // from the last probe
  std::vector<std::filesystem::path> m_searched;
  int m_askedCode = 0;  // the close request's, while it is asked about

  std::string m_status;
  bool m_statusFailed = false;
  UpdateProgress m_progress;
  uint64_t m_checkedSize = 0;  // the file's, when "更新" was decided
  uint64_t m_fileSize = 0;     // the running (or last) job's file
  std::filesystem::path m_writing;
  uint32_t m_barRange = 100;
  uint32_t m_barPosition = 0;
  int m_failedAtPercent = -1;
  DialogBox m_box;
  uint64_t m_boxSerial = 0;
  bool m_boxRefusedFile = false;  // m_box tells why a file was refused
};

// Two steps of a desktop dialog, which has the file on disk and the device
// at hand (the web page, with a browser's file, takes them itself):
//
// The view, with the file looked at again first when the view asks for it.
DialogView ViewWithImageLooked(DialogModel& model, DialogModel::Clock::time_point now);
// "更新": a fresh probe on `link`, the file looked at and checked on disk,
// then the model's decision. Nothing is probed while an update runs: the
// device is the worker's.
DialogModel::StartAction PressUpdate(DialogModel& model, const LinkSettings& link);

}  // namespace gps
