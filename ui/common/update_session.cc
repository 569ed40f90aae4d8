#include "ui/common/update_session.h"

#include <utility>

namespace gps {

UpdateSession::UpdateSession(std::filesystem::path file) : file_(std::move(file)) {}

bool UpdateSession::FileChosen(const std::filesystem::path& file) {
  if (updating_ || closing_) return false;
  file_ = file;
  return true;
}

void UpdateSession::ProbeShown(ProbeOutcome outcome) {
  lastProbe_ = outcome;
  statusFromProbe_ = true;
}

bool UpdateSession::FollowsDevice() const { return statusFromProbe_ && !updating_ && !closing_; }

bool UpdateSession::DeviceListChanged(Clock::time_point now) {
  if (!FollowsDevice()) return false;
  lastChange_ = now;
  return true;
}

bool UpdateSession::Settling(Clock::time_point now) const {
  const bool unusable = lastProbe_ != ProbeOutcome::Present && lastProbe_ != ProbeOutcome::Absent;
  return FollowsDevice() && unusable && lastChange_ && now - *lastChange_ < kDeviceSettleTime;
}

bool UpdateSession::ProbeAgain(Clock::time_point now) const { return Settling(now); }

UpdateSession::AfterUpdate UpdateSession::UpdateEnded() {
  updating_ = false;
  if (closing_) return AfterUpdate::Close;
  if (asking_) {
    asking_ = false;
    return AfterUpdate::WithdrawQuestion;
  }
  return AfterUpdate::OfferUpdate;
}

UpdateSession::CloseAction UpdateSession::CloseRequested() {
  if (!updating_) return CloseAction::Close;
  if (asking_ || closing_) return CloseAction::Ignore;
  asking_ = true;
  return CloseAction::Ask;
}

UpdateSession::AnswerAction UpdateSession::CloseAnswered(bool confirmed, int code) {
  asking_ = false;
  if (!confirmed) return AnswerAction::KeepRunning;
  // The update may have ended while the question was open: nothing is left
  // to stop.
  if (!updating_) return AnswerAction::Close;
  closing_ = true;
  closeCode_ = code;
  return AnswerAction::StopUpdate;
}

}  // namespace gps
