#include "ui/common/update_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace gps {
namespace {

using Clock = UpdateSession::Clock;

// One step of a sequence: what happens, and what the session must answer
// ("" where it answers nothing).
//   probe:present|absent|denied   a probe's text is shown
//   text                          the update shows a text of its own
//   start                         "更新": "yes" when an update may start (it then starts)
//   change@MS / look@MS           the device list changed / a look found no change,
//                                 MS after the start: "probe" or "no"
//   close                         a close request: "close", "ask" or "ignore"
//   yes / no                      the answer to the close question:
//                                 "close", "stop" or "keep"
//   end                           the worker ended: "close", "offer", or "withdraw"
//                                 (offer, and take the open close question away)
struct Step {
  std::string event;
  std::string answer;
};

std::string Play(UpdateSession& session, const std::string& event) {
  const Clock::time_point t0{};
  auto at = [&](std::size_t prefix) {
    return t0 + std::chrono::milliseconds(std::stoi(event.substr(prefix)));
  };
  if (event == "probe:present") session.ProbeShown(ProbeOutcome::Present);
  else if (event == "probe:absent") session.ProbeShown(ProbeOutcome::Absent);
  else if (event == "probe:denied") session.ProbeShown(ProbeOutcome::NoPermission);
  else if (event == "text") session.UpdateTextShown();
  else if (event == "start") {
    if (!session.MayStartUpdate()) return "no";
    session.UpdateStarted();
    return "yes";
  } else if (event.rfind("change@", 0) == 0) {
    return session.DeviceListChanged(at(7)) ? "probe" : "no";
  } else if (event.rfind("look@", 0) == 0) {
    return session.ProbeAgain(at(5)) ? "probe" : "no";
  } else if (event == "close") {
    switch (session.CloseRequested()) {
      case UpdateSession::CloseAction::Close: return "close";
      case UpdateSession::CloseAction::Ask: return "ask";
      case UpdateSession::CloseAction::Ignore: return "ignore";
    }
  } else if (event == "yes" || event == "no") {
    switch (session.CloseAnswered(event == "yes", 2)) {
      case UpdateSession::AnswerAction::Close: return "close";
      case UpdateSession::AnswerAction::StopUpdate: return "stop";
      case UpdateSession::AnswerAction::KeepRunning: return "keep";
    }
  } else if (event == "end") {
    switch (session.UpdateEnded()) {
      case UpdateSession::AfterUpdate::Close: return "close";
      case UpdateSession::AfterUpdate::OfferUpdate: return "offer";
      case UpdateSession::AfterUpdate::WithdrawQuestion: return "withdraw";
    }
  } else {
    ADD_FAILURE() << "no such event: " << event;
  }
  return "";
}

TEST(UpdateSession, AnswersEachSequenceOfEvents) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"no update: a close closes at once", {{"probe:present", ""}, {"close", "close"}}},
      {"a close during an update asks once, then stops it and closes when it ends",
       {{"probe:present", ""}, {"start", "yes"}, {"close", "ask"}, {"close", "ignore"},
        {"yes", "stop"}, {"close", "ignore"}, {"start", "no"}, {"end", "close"}}},
      {"a declined close leaves the update running, and the next close asks again",
       {{"start", "yes"}, {"close", "ask"}, {"no", "keep"}, {"close", "ask"}, {"no", "keep"},
        {"end", "offer"}, {"close", "close"}}},
      {"an update that ends while the close question is open takes the question away; "
       "an answer that still comes closes, and the next close closes at once",
       {{"start", "yes"}, {"close", "ask"}, {"end", "withdraw"}, {"yes", "close"},
        {"close", "close"}}},
      {"one update at a time",
       {{"start", "yes"}, {"start", "no"}, {"end", "offer"}, {"start", "yes"}}},
      {"a device change while idle probes; during an update or over its text it does not",
       {{"probe:absent", ""}, {"change@0", "probe"}, {"probe:present", ""}, {"start", "yes"},
        {"change@10", "no"}, {"text", ""}, {"end", "offer"}, {"change@20", "no"}}},
      {"an update that set no text leaves the probe's text following the device",
       {{"probe:present", ""}, {"start", "yes"}, {"change@0", "no"}, {"end", "offer"},
        {"change@10", "probe"}}},
      {"a device that would not open is probed again while its access may be on its way",
       {{"probe:absent", ""}, {"change@0", "probe"}, {"probe:denied", ""}, {"look@1000", "probe"},
        {"look@1999", "probe"}, {"look@2000", "no"}}},
      {"without a change a device that would not open is left as it is",
       {{"probe:denied", ""}, {"look@0", "no"}, {"look@100", "no"}}},
      {"a usable device is not probed again",
       {{"probe:absent", ""}, {"change@0", "probe"}, {"probe:present", ""}, {"look@10", "no"}}},
      {"nothing is probed again during an update",
       {{"probe:denied", ""}, {"change@0", "probe"}, {"probe:denied", ""}, {"start", "yes"},
        {"look@10", "no"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateSession session;
    for (std::size_t i = 0; i < c.steps.size(); ++i)
      EXPECT_EQ(Play(session, c.steps[i].event), c.steps[i].answer)
          << "step " << i + 1 << ": " << c.steps[i].event;
  }
}

TEST(UpdateSession, MessagesAreLeftOutOnceTheUserChoseToClose) {
  UpdateSession session;
  session.UpdateStarted();
  EXPECT_TRUE(session.ShowsMessages());
  ASSERT_EQ(session.CloseRequested(), UpdateSession::CloseAction::Ask);
  ASSERT_EQ(session.CloseAnswered(true, 1), UpdateSession::AnswerAction::StopUpdate);
  EXPECT_FALSE(session.ShowsMessages());
  EXPECT_EQ(session.CloseCode(), 1);
}

TEST(UpdateSession, AFileIsChosenOnlyWhileNoUpdateRuns) {
  UpdateSession session;
  EXPECT_TRUE(session.FileChosen("a.bin"));
  EXPECT_EQ(session.File(), "a.bin");
  session.UpdateStarted();
  EXPECT_FALSE(session.FileChosen("b.bin"));
  EXPECT_FALSE(session.MayStartUpdate());
  session.UpdateEnded();
  EXPECT_EQ(session.File(), "a.bin");
}

}  // namespace
}  // namespace gps
