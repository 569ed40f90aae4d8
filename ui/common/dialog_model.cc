#include "ui/common/dialog_model.h"

#include <algorithm>
#include <utility>

#include "hid/shown_text.h"
#include "protocol/messages.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/failure_advice.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

// The bar holds its upper bound in 16 bits, as the Windows progress
// control does: the update never sets more than 65377.
uint32_t BarBound(uint32_t upper) { return upper & 0xFFFFu; }

// The dialog's bar runs from 0 to each device operation's own range, so the
// percentage beside it and in the title counts the step, as the bar does.
constexpr UpdateProgress::Measure kMeasure = UpdateProgress::Measure::Step;

// A folder as the user reads it: the whole path, its control characters
// and invalid bytes written out.
std::string ShownFolder(const std::filesystem::path& folder) {
  const std::u8string name = folder.u8string();
  return ShownText(std::string(name.begin(), name.end()));
}

}  // namespace

ImageChoice LookAtImage(const std::filesystem::path& file, bool given) {
  return given ? ChooseGivenImage(file) : ChooseDefaultImage(file);
}

DialogView ViewWithImageLooked(DialogModel& model, DialogModel::Clock::time_point now) {
  DialogView view = model.View(now);
  if (!view.lookAtImage) return view;
  model.ImageLooked(LookAtImage(model.File(), model.FileGiven()));
  return model.View(now);
}

DialogModel::StartAction PressUpdate(DialogModel& model, const LinkSettings& link) {
  if (!model.MayStartUpdate()) return DialogModel::StartAction::Nothing;
  const ProbeOutcome probe = ProbeDevice(link).outcome;
  const std::filesystem::path& file = model.File();
  return model.UpdatePressed(probe, LookAtImage(file, model.FileGiven()), CheckImageFile(file));
}

DialogModel::DialogModel(std::filesystem::path file, bool given, std::string title)
    : m_session(std::move(file)), m_fileGiven(given), m_title(std::move(title)) {}

DialogView DialogModel::View(Clock::time_point now) const {
  DialogView view;
  view.status = m_status;
  view.statusFailed = m_statusFailed;
  if (m_deviceNoteApart) view.deviceNote = m_deviceNote;
  view.title = m_title;
  // The warning not to unplug comes once something was sent: until then
  // (the file being opened, a box about it) the line still tells of the file.
  if (m_progress.Running() && m_progress.DeviceTouched()) {
    const std::string step = m_progress.Line(now, kMeasure);
    view.progressLine = step.empty() ? std::string(text::kDoNotUnplug)
                                     : step + "　" + std::string(text::kDoNotUnplug);
    // From the first step on, until the job has returned: "100% - " while
    // the restart goes out, and never after the end.
    view.percent = m_progress.Percent(kMeasure);
    view.title = std::to_string(view.percent) + "% - " + m_title;
  } else if (std::string end = m_progress.EndLine(kMeasure); !end.empty()) {
    view.progressLine = std::move(end);
  } else if (m_image) {
    view.progressLine = FileLineNow();
    view.lineFile = m_image->file;
  }
  view.failedAtPercent = m_failedAtPercent;
  view.barRange = m_barRange;
  view.barPosition = m_barPosition;
  view.updateEnabled = m_session.MayStartUpdate() && !m_boxRefusedFile;
  view.chooseFileEnabled = m_session.MayStartUpdate();
  view.cancelEnabled = !m_session.Closing();
  view.keepAwake = m_session.Updating();
  view.watchDevice = !m_probed || m_session.FollowsDevice();
  view.settling = m_session.Settling(now);
  view.lookAtImage = m_lookAtImage;
  view.box = m_box;
  return view;
}

// --- the device --------------------------------------------------------------

bool DialogModel::DeviceListLooked(const std::vector<std::string>& interfaces,
                                   Clock::time_point now) {
  // The first look, as the dialog opens: the probe follows it.
  if (!m_probed) {
    m_interfaces = interfaces;
    return true;
  }
  // Nothing of this may touch the device while an update has it, and an
  // update's last text stays.
  if (!m_session.FollowsDevice()) return false;
  const bool changed = interfaces != m_interfaces;
  m_interfaces = interfaces;
  return changed ? m_session.DeviceListChanged(now) : m_session.ProbeAgain(now);
}

void DialogModel::Probed(ProbeOutcome outcome, std::string_view probeText) {
  m_probed = true;
  m_deviceNote = text::DeviceCountNote(m_interfaces.size());
  ShowStatus(m_deviceNoteApart ? std::string(probeText)
                               : text::DeviceStatusText(probeText, m_interfaces.size()));
  m_session.ProbeShown(outcome);
}

// --- the file ----------------------------------------------------------------

void DialogModel::ImageLooked(ImageChoice image) {
  m_image = std::move(image);
  m_lookAtImage = false;
}

bool DialogModel::FileChosen(const std::filesystem::path& file) {
  if (!m_session.FileChosen(file)) return false;
  m_fileGiven = true;
  // The line tells of the new file, no longer of the last update, and a
  // taskbar button no longer of its failure.
  m_progress = UpdateProgress();
  m_failedAtPercent = -1;
  m_lookAtImage = true;
  // A box that refused the last file does not hold back the new one (a
  // page may hand over a file before it has told of that box's close).
  m_boxRefusedFile = false;
  return true;
}

bool DialogModel::Dropped(const std::vector<DroppedItem>& items) {
  if (items.empty() || !m_session.MayStartUpdate()) return false;
  if (items.size() > 1) {
    ShowBox(DialogBox::Kind::Message, std::string(text::kOneFileOnly));
    return true;
  }
  const DroppedItem& item = items.front();
  return FileChosen(item.folder ? item.path / kDefaultImageFile : item.path);
}

std::string DialogModel::FileLineNow() const {
  std::string line = FileLine(*m_image);
  // The default file found nowhere: where it was looked for.
  if (!m_fileGiven && !m_image->found && !m_image->offer && !m_searched.empty()) {
    line += text::kSearchedPrefix;
    for (std::size_t i = 0; i < m_searched.size(); ++i) {
      if (i > 0) line += text::kSearchedSeparator;
      line += ShownFolder(m_searched[i]);
    }
    line += text::kSearchedSuffix;
  }
  return line;
}

// --- "更新" --------------------------------------------------------------------

DialogModel::StartAction DialogModel::UpdatePressed(ProbeOutcome probe, const ImageChoice& image,
                                                    const ImageCheck& check) {
  if (!m_session.MayStartUpdate() || m_boxRefusedFile) return StartAction::Nothing;
  m_image = image;
  if (!image.offer) return Decide(check, probe);
  // A browser's newer download is offered, never taken silently.
  m_offered = image;
  m_offeredCheck = check;
  m_pressProbe = probe;
  ShowBox(DialogBox::Kind::CopyQuestion, OfferQuestion(image),
          image.found ? std::string(text::kUseFilePrefix) + DisplayName(image.file) : "");
  return StartAction::AskAboutCopy;
}

DialogModel::StartAction DialogModel::UpdatePressed(ProbeOutcome probe, const ImageCheck& check) {
  if (!m_session.MayStartUpdate() || m_boxRefusedFile) return StartAction::Nothing;
  return Decide(check, probe);
}

DialogModel::StartAction DialogModel::CopyAnswered(CopyAnswer answer) {
  const std::optional<ImageChoice> offered = std::exchange(m_offered, std::nullopt);
  if (m_box.kind == DialogBox::Kind::CopyQuestion) m_box = {};
  m_lookAtImage = true;
  if (answer == CopyAnswer::Cancel || !offered || !m_session.MayStartUpdate())
    return StartAction::Nothing;
  if (answer == CopyAnswer::KeepFile) return Decide(m_offeredCheck, m_pressProbe);
  // The copy is the file from now on: no question the next time. It was a
  // regular file of this size when it was looked at; should it have become
  // unreadable since, the job says so.
  m_session.FileChosen(offered->offer->path);
  m_fileGiven = true;
  return Decide(CheckImageSize(offered->offer->size), m_pressProbe);
}

// The file first: what the user must fix before any device can help, told
// before anything is sent and whether or not a device is there.
DialogModel::StartAction DialogModel::Decide(const ImageCheck& check, ProbeOutcome probe) {
  if (check.Refused()) {
    const std::string name = DisplayName(File());
    const ImageRefusal refusal = RefusalOf(check, name);
    // The line under the status line tells of the file, not of an earlier
    // update, and a taskbar button no longer of its failure.
    m_progress = UpdateProgress();
    m_failedAtPercent = -1;
    m_lookAtImage = true;
    if (!refusal.status.empty()) {
      // Too large: a failure on the status line, as the job would show it,
      // and the size against the limit in a box.
      ShowStatus(refusal.status, true);
      m_session.UpdateTextShown();
      ShowBox(DialogBox::Kind::Advice, TooLargeText(name, check.size));
    } else {
      // The probe's text stays, and goes on following the device.
      m_statusFailed = false;
      ShowBox(DialogBox::Kind::Message, refusal.message);
    }
    // "更新" comes back once the user has closed the box that says why.
    m_boxRefusedFile = true;
    return StartAction::Refused;
  }
  if (probe == ProbeOutcome::Absent) {
    m_session.ProbeShown(probe);
    ShowStatus(std::string(text::kDeviceConnectFailed));
    return StartAction::NoDevice;
  }
  m_checkedSize = check.size;
  return StartAction::Start;
}

// --- the job -----------------------------------------------------------------

void DialogModel::JobStarted(Clock::time_point now) {
  m_session.UpdateStarted();
  m_writing = File();
  m_fileSize = m_checkedSize;
  m_progress.Begin(m_fileSize, now);
  m_statusFailed = false;
  m_failedAtPercent = -1;
}

void DialogModel::JobStatus(std::string_view text) {
  ShowStatus(std::string(text));
  m_session.UpdateTextShown();
}

void DialogModel::JobStageBegins(JobStage stage, Clock::time_point now) {
  m_progress.OnStage(stage, now);
}

void DialogModel::JobRange(uint32_t upper) {
  m_barRange = BarBound(upper);
  // A new range keeps the position, within it.
  m_barPosition = std::min(m_barPosition, m_barRange);
  m_progress.OnRange(upper);
}

void DialogModel::JobPosition(uint32_t position, Clock::time_point now) {
  m_barPosition = std::min(position, m_barRange);
  m_progress.OnPosition(position, now);
}

DialogModel::AfterJob DialogModel::JobEnded(UpdateOutcome outcome, Clock::time_point now) {
  m_progress.End(now);
  const UpdateSession::AfterUpdate after = m_session.UpdateEnded();
  JobEnd end;
  end.outcome = outcome;
  end.deviceTouched = m_progress.DeviceTouched();
  end.stoppedByUser = after == UpdateSession::AfterUpdate::Close;
  end.fileName = DisplayName(m_writing);
  end.fileSize = m_fileSize;
  m_lookAtImage = true;
  if (after == UpdateSession::AfterUpdate::Close) {
    // The stop the user asked for has its own last word.
    if (const std::string_view stop = StopStatusText(end); !stop.empty())
      ShowStatus(std::string(stop));
    m_box = {};
    return AfterJob::Close;
  }
  // The update is over: a close question still open goes, unanswered.
  if (after == UpdateSession::AfterUpdate::WithdrawQuestion) m_box = {};
  m_statusFailed = EndsInFailureText(end);
  if (m_statusFailed) m_failedAtPercent = m_progress.Percent(kMeasure);
  // After a failure on the device the bar stays where the update got to, so
  // that the user sees how far it went; it empties only after a success.
  if (outcome != UpdateOutcome::Succeeded && m_progress.DeviceTouched()) {
    m_barRange = BarBound(m_progress.BarRange());
    m_barPosition = std::min(m_progress.BarPosition(), m_barRange);
  }
  if (std::string advice = Advice(end, FrontEnd::Dialog); !advice.empty())
    ShowBox(DialogBox::Kind::Advice, std::move(advice));
  return AfterJob::Stay;
}

// --- closing -------------------------------------------------------------------

DialogModel::CloseAction DialogModel::CloseRequested(int code) {
  switch (m_session.CloseRequested()) {
    case UpdateSession::CloseAction::Close:
      return CloseAction::Close;
    case UpdateSession::CloseAction::Ignore:
      return CloseAction::Ignore;
    case UpdateSession::CloseAction::Ask:
      break;
  }
  m_askedCode = code;
  ShowBox(DialogBox::Kind::CloseQuestion, std::string(text::kConfirmClose));
  return CloseAction::Ask;
}

DialogModel::AnswerAction DialogModel::CloseAnswered(bool stop) {
  if (m_box.kind == DialogBox::Kind::CloseQuestion) m_box = {};
  switch (m_session.CloseAnswered(stop, m_askedCode)) {
    case UpdateSession::AnswerAction::KeepRunning: return AnswerAction::KeepRunning;
    case UpdateSession::AnswerAction::Close: return AnswerAction::Close;
    case UpdateSession::AnswerAction::StopUpdate: return AnswerAction::StopUpdate;
  }
  return AnswerAction::KeepRunning;
}

DialogModel::AnswerAction DialogModel::EndRequested(int code) {
  if (m_box.kind == DialogBox::Kind::CloseQuestion) m_box = {};
  if (!m_session.Updating()) {
    m_askedCode = code;
    return AnswerAction::Close;
  }
  if (m_session.Closing()) return AnswerAction::KeepRunning;
  m_session.CloseRequested();  // asks, or the question is already open
  m_askedCode = code;
  return CloseAnswered(true);
}

void DialogModel::BoxClosed() {
  if (m_box.kind == DialogBox::Kind::Advice || m_box.kind == DialogBox::Kind::Message) {
    m_box = {};
    m_boxRefusedFile = false;
  }
}

void DialogModel::ShowBox(DialogBox::Kind kind, std::string text, std::string keepLabel) {
  m_box = DialogBox{kind, std::move(text), std::move(keepLabel), ++m_boxSerial};
  m_boxRefusedFile = false;
}

void DialogModel::ShowStatus(std::string text, bool failed) {
  m_status = std::move(text);
  m_statusFailed = failed;
}

}  // namespace gps
