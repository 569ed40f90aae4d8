#include "ui/common/dialog_model.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/fill_in.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

using Clock = DialogModel::Clock;
using std::chrono::milliseconds;

// The file "更新" would write, as a look and a check found it.
struct FileState {
  ImageChoice image;
  ImageCheck check;
};

FileState File(std::string_view state) {
  const std::filesystem::path name = "code_data.bin";
  const ImageFile found{name, 5000, {}};
  if (state == "ok") return {{name, found, {}}, CheckImageSize(5000)};
  if (state == "missing") return {{name, {}, {}}, {ImageProblem::Missing, 0, {}}};
  if (state == "empty") return {{name, ImageFile{name, 0, {}}, {}}, CheckImageSize(0)};
  if (state == "1GiB") {
    return {{name, ImageFile{name, uint64_t{1} << 30, {}}, {}}, CheckImageSize(uint64_t{1} << 30)};
  }
  if (state == "3GiB") {
    return {{name, ImageFile{name, uint64_t{3} << 30, {}}, {}}, CheckImageSize(uint64_t{3} << 30)};
  }
  if (state == "denied") return {{name, {}, {}}, {ImageProblem::Unreadable, 5000, "permission denied"}};
  if (state == "folder") return {{name, {}, {}}, {ImageProblem::NotAFile, 0, {}}};
  // A newer browser download beside the file (or in its place).
  const ImageFile copy{"code_data (1).bin", 3000, {}};
  if (state == "offer") return {{name, found, copy}, CheckImageSize(5000)};
  if (state == "offer-only") return {{name, {}, copy}, {ImageProblem::Missing, 0, {}}};
  ADD_FAILURE() << "no such file state: " << state;
  return {};
}

UpdateOutcome Outcome(std::string_view name) {
  if (name == "ok") return UpdateOutcome::Succeeded;
  if (name == "erase-failed") return UpdateOutcome::EraseFailed;
  if (name == "write-failed") return UpdateOutcome::WriteFailed;
  if (name == "no-device") return UpdateOutcome::NoDevice;
  if (name == "restart-failed") return UpdateOutcome::RestartFailed;
  if (name == "file-unreadable") return UpdateOutcome::FileUnreadable;
  ADD_FAILURE() << "no such outcome: " << name;
  return UpdateOutcome::Succeeded;
}

JobStage Stage(std::string_view name) {
  if (name == "erase") return JobStage::Erase;
  if (name == "write") return JobStage::Write;
  if (name == "written") return JobStage::ImageWritten;
  if (name == "header") return JobStage::Header;
  if (name == "done") return JobStage::Done;
  ADD_FAILURE() << "no such stage: " << name;
  return JobStage::Erase;
}

template <typename E>
std::string Name(E value, std::initializer_list<std::pair<E, const char*>> names) {
  for (const auto& [v, n] : names)
    if (v == value) return n;
  return "?";
}

// One step: an event and what the view shows after it. An event is a word,
// then ":" and its argument, then "@" and the time in ms where it takes one:
//   look:N@T           the device list holds N of our interfaces -> "probe" or "no"
//   probe:present|absent|denied|busy   a probe's outcome is shown
//   press:FILE[:absent|:denied]  "更新", with the file in that state (see File)
//                      and a device present, absent, or there without access
//                      -> the StartAction
//   take / keep / cancel   the answer to the copy question -> the StartAction
//   start@T            the job starts
//   stage:NAME@T, range:N, pos:N@T, status:TEXT   the job's reports
//   message            a job's message -> "shown" or "dropped"
//   end:OUTCOME@T      the job returns -> "stay" or "close"
//   close / stop / goon   a close request (code 2) -> "close", "ask", "ignore";
//                      the answer to the close question -> "keep", "close", "stop"
//   terminate          the system asks the program to end -> as an answer
//   boxclosed          the user closed an advice or message box
//   choose:FILE        a file dropped or picked -> "yes" or "no"
// Expected: "key=value" pairs, separated by " | ", each compared with the
// view after the event: answer, status, failed, note, line (its start),
// linefile, title, percent, failedat, bar (range/position), box (its kind),
// boxtext (its start), update, cancel, choose, awake, watch, settling.
struct Step {
  std::string event;
  std::string expect;
};

class ModelPlayer {
 public:
  std::string Play(const std::string& event) {
    std::string word = event, argument;
    // Without a time of its own, an event comes when the one before it came.
    Clock::time_point at = now_;
    if (const auto sign = word.find('@'); sign != std::string::npos) {
      at = t0_ + milliseconds(std::stoll(word.substr(sign + 1)));
      word.erase(sign);
    }
    if (const auto colon = word.find(':'); colon != std::string::npos) {
      argument = word.substr(colon + 1);
      word.erase(colon);
    }
    now_ = at;
    using S = DialogModel::StartAction;
    auto start = [](S action) {
      return Name(action, {{S::Nothing, "nothing"}, {S::Refused, "refused"},
                           {S::NoDevice, "no device"}, {S::AskAboutCopy, "ask"},
                           {S::Start, "start"}});
    };
    if (word == "look") {
      std::vector<std::string> list;
      for (int i = 0; i < std::stoi(argument); ++i) list.push_back("hid:" + std::to_string(i));
      return model_.DeviceListLooked(list, at) ? "probe" : "no";
    }
    if (word == "probe") {
      const std::map<std::string, std::pair<ProbeOutcome, std::string_view>> probes = {
          {"present", {ProbeOutcome::Present, text::kDeviceConnected}},
          {"absent", {ProbeOutcome::Absent, text::kDeviceConnectFailed}},
          {"denied", {ProbeOutcome::NoPermission, text::kDeviceNoPermission}},
          {"busy", {ProbeOutcome::Busy, text::kDeviceBusy}}};
      const auto& [outcome, probeText] = probes.at(argument);
      model_.Probed(outcome, probeText);
      return "";
    }
    if (word == "press") {
      const auto colon = argument.find(':');
      const FileState file = File(argument.substr(0, colon));
      const std::string device = colon == std::string::npos ? "" : argument.substr(colon + 1);
      const ProbeOutcome probe = device == "absent"   ? ProbeOutcome::Absent
                                 : device == "denied" ? ProbeOutcome::NoPermission
                                                      : ProbeOutcome::Present;
      return start(model_.UpdatePressed(probe, file.image, file.check));
    }
    if (word == "take") return start(model_.CopyAnswered(DialogModel::CopyAnswer::TakeCopy));
    if (word == "keep") return start(model_.CopyAnswered(DialogModel::CopyAnswer::KeepFile));
    if (word == "cancel") return start(model_.CopyAnswered(DialogModel::CopyAnswer::Cancel));
    if (word == "start") {
      model_.JobStarted(at);
      return "";
    }
    if (word == "stage") {
      model_.JobStageBegins(Stage(argument), at);
      return "";
    }
    if (word == "range") {
      model_.JobRange(static_cast<uint32_t>(std::stoul(argument)));
      return "";
    }
    if (word == "pos") {
      model_.JobPosition(static_cast<uint32_t>(std::stoul(argument)), at);
      return "";
    }
    if (word == "status") {
      model_.JobStatus(argument);
      return "";
    }
    if (word == "message") return model_.JobMessage() ? "shown" : "dropped";
    if (word == "end") {
      return model_.JobEnded(Outcome(argument), at) == DialogModel::AfterJob::Close ? "close"
                                                                                   : "stay";
    }
    if (word == "close") {
      using C = DialogModel::CloseAction;
      return Name(model_.CloseRequested(2),
                  {{C::Close, "close"}, {C::Ask, "ask"}, {C::Ignore, "ignore"}});
    }
    if (word == "stop" || word == "goon" || word == "terminate") {
      using A = DialogModel::AnswerAction;
      return Name(word == "terminate" ? model_.EndRequested(3) : model_.CloseAnswered(word == "stop"),
                  {{A::KeepRunning, "keep"}, {A::Close, "close"}, {A::StopUpdate, "stop"}});
    }
    if (word == "boxclosed") {
      model_.BoxClosed();
      return "";
    }
    if (word == "choose") return model_.FileChosen(argument) ? "yes" : "no";
    if (word == "drop") {
      // "a.bin", "dir/" (a folder), or several joined by ",".
      std::vector<DroppedItem> items;
      for (std::size_t from = 0; from <= argument.size();) {
        std::size_t to = argument.find(',', from);
        if (to == std::string::npos) to = argument.size();
        std::string name = argument.substr(from, to - from);
        const bool folder = !name.empty() && name.back() == '/';
        if (folder) name.pop_back();
        items.push_back({name, folder});
        from = to + 1;
      }
      return model_.Dropped(items) ? "yes" : "no";
    }
    ADD_FAILURE() << "no such event: " << event;
    return "";
  }

  // The view's fields by the names the steps use.
  std::map<std::string, std::string> Fields(const std::string& answer) const {
    const DialogView view = model_.View(now_);
    using K = DialogBox::Kind;
    return {
        {"answer", answer},
        {"status", view.status},
        {"failed", view.statusFailed ? "1" : "0"},
        {"note", view.deviceNote},
        {"line", view.progressLine},
        {"linefile", view.lineFile.string()},
        {"file", model_.File().string()},
        {"title", view.title},
        {"percent", std::to_string(view.percent)},
        {"failedat", std::to_string(view.failedAtPercent)},
        {"bar", std::to_string(view.barRange) + "/" + std::to_string(view.barPosition)},
        {"box", Name(view.box.kind, {{K::None, "none"}, {K::Message, "message"},
                                     {K::Advice, "advice"}, {K::CloseQuestion, "close"},
                                     {K::CopyQuestion, "copy"}})},
        {"boxtext", view.box.text},
        {"keeplabel", view.box.keepLabel},
        {"update", view.updateEnabled ? "1" : "0"},
        {"cancel", view.cancelEnabled ? "1" : "0"},
        {"choose", view.chooseFileEnabled ? "1" : "0"},
        {"awake", view.keepAwake ? "1" : "0"},
        {"watch", view.watchDevice ? "1" : "0"},
        {"settling", view.settling ? "1" : "0"},
    };
  }

  DialogModel& model() { return model_; }

 private:
  const Clock::time_point t0_{};
  Clock::time_point now_{};
  DialogModel model_;
};

// Compares the pairs of `expect`; "line" and "boxtext" by their start.
void Check(const std::map<std::string, std::string>& fields, const std::string& expect) {
  std::size_t from = 0;
  while (from < expect.size()) {
    std::size_t to = expect.find(" | ", from);
    if (to == std::string::npos) to = expect.size();
    const std::string pair = expect.substr(from, to - from);
    from = to + 3;
    const auto equals = pair.find('=');
    ASSERT_NE(equals, std::string::npos) << pair;
    const std::string key = pair.substr(0, equals), value = pair.substr(equals + 1);
    ASSERT_TRUE(fields.count(key)) << "no such field: " << key;
    const std::string& shown = fields.at(key);
    if (key == "line" || key == "boxtext") {
      EXPECT_EQ(shown.substr(0, value.size()), value) << key << " is \"" << shown << "\"";
    } else {
      EXPECT_EQ(shown, value) << key;
    }
  }
}

struct Case {
  const char* name;
  std::vector<Step> steps;
};

void PlayAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModelPlayer player;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i + 1) + ": " + c.steps[i].event);
      const std::string answer = player.Play(c.steps[i].event);
      Check(player.Fields(answer), c.steps[i].expect);
    }
  }
}

const std::string kTitle(kDialogTitle);
const std::string kNotUnplug(text::kDoNotUnplug);
const std::string kConnected(text::kDeviceConnected);
const std::string kConnectFailed(text::kDeviceConnectFailed);

// The opening of every case below: one device, present.
std::vector<Step> Opened(std::vector<Step> then) {
  std::vector<Step> steps = {{"look:1@0", "answer=probe"},
                             {"probe:present", "status=" + kConnected + " | watch=1"}};
  steps.insert(steps.end(), then.begin(), then.end());
  return steps;
}

TEST(DialogModel, TheDeviceIsFollowedByItsListAndCounted) {
  PlayAll({
      {"the count comes from the list: two attached are named on the status line",
       {{"look:2@0", "answer=probe"},
        {"probe:present",
         "status=" + text::DeviceStatusText(text::kDeviceConnected, 2) + " | failed=0"},
        {"look:2@100", "answer=no"},
        {"look:1@200", "answer=probe"},
        {"probe:present", "status=" + kConnected}}},
      {"a device that would not open is looked at again while its access may come",
       {{"look:0@0", "answer=probe"},
        {"probe:absent", "status=" + kConnectFailed},
        {"look:1@1000", "answer=probe"},
        {"probe:denied", "status=" + std::string(text::kDeviceNoPermission) + " | settling=1"},
        {"look:1@2999", "answer=probe | settling=1"},
        {"look:1@3000", "answer=no | settling=0"}}},
      {"nothing is looked at during an update, nor over its last text",
       Opened({{"press:ok", "answer=start"},
               {"start@0", "watch=0 | update=0 | choose=0 | awake=1"},
               {"look:0@10", "answer=no"},
               {"status:" + std::string(text::kErasing), "status=" + std::string(text::kErasing)},
               {"end:ok@20", "watch=0 | awake=0 | update=1"},
               {"look:0@30", "answer=no | status=" + std::string(text::kErasing)}})},
  });
}

TEST(DialogModel, UpdatePressedRefusesTheFileFirstThenLooksForTheDevice) {
  const std::string tooLarge1 =
      FillIn(text::kTooLargeAdvice, {{"%name%", "code_data.bin"},
                                     {"%size%", "1,073,741,824"},
                                     {"%limit%", "16,736,256"}});
  const std::string tooLarge3 =
      FillIn(text::kTooLargeAdvice, {{"%name%", "code_data.bin"},
                                     {"%size%", "3,221,225,472"},
                                     {"%limit%", "16,736,256"}});
  PlayAll({
      {"a missing file: its box; the probe's text stays and follows the device",
       Opened({{"press:missing", "answer=refused | box=message | boxtext=Can't find code_data.bin"
                                 " | status=" + kConnected + " | failed=0 | awake=0"},
               {"boxclosed", "box=none | watch=1"}})},
      {"更新 comes back once the box that refused the file is closed",
       Opened({{"press:empty", "answer=refused | update=0 | choose=1"},
               {"press:ok", "answer=nothing"},
               {"boxclosed", "update=1"},
               {"press:ok", "answer=start"}})},
      {"a new file is judged at once, also while the box about the last one is open",
       Opened({{"press:empty", "answer=refused | update=0"},
               {"choose:other.bin", "answer=yes | update=1"},
               {"press:empty", "answer=refused | box=message"}})},
      {"a missing file is told before a missing device",
       Opened({{"press:missing:absent", "answer=refused | box=message | status=" + kConnected}})},
      {"1 GiB: too large from its size alone, with the size and the limit",
       Opened({{"press:1GiB", "answer=refused | status=" + std::string(text::kTooMuchData) +
                                  " | failed=1 | box=advice | boxtext=" + tooLarge1 +
                                  " | watch=0 | update=0"},
               {"boxclosed", "update=1 | failed=1"}})},
      {"over 2 GiB: the same, not a read error",
       Opened({{"press:3GiB", "answer=refused | status=" + std::string(text::kTooMuchData) +
                                  " | box=advice | boxtext=" + tooLarge3}})},
      {"an empty file: its own box",
       Opened({{"press:empty", "answer=refused | box=message | boxtext=" +
                                   std::string(text::kFileEmptyPrefix) + "code_data.bin" +
                                   std::string(text::kFileEmptySuffix)}})},
      {"a file that is there but may not be read: the read error with its cause",
       Opened({{"press:denied", "answer=refused | box=message | boxtext=" +
                                    std::string(text::kReadFilePrefix) + "code_data.bin" +
                                    std::string(text::kReadFileSuffix) + "\n(permission denied)"}})},
      {"a folder in the file's place: the read error",
       Opened({{"press:folder", "answer=refused | boxtext=" + std::string(text::kReadFilePrefix)}})},
      {"a device there without access still starts: the job says what is wrong",
       Opened({{"press:ok:denied", "answer=start"}})},
      {"no device: the status line says so; nothing starts, and 更新 stays usable",
       Opened({{"press:ok:absent", "answer=no device | status=" + kConnectFailed +
                                       " | failed=0 | update=1 | box=none | watch=1"}})},
      {"a newer download is offered; taken, it is the file from then on",
       Opened({{"press:offer", "answer=ask | box=copy | boxtext=這個資料夾中有比 code_data.bin"
                               " | keeplabel=使用 code_data.bin"},
               {"take", "answer=start | box=none"},
               {"press:ok", "answer=start"}})},
      {"declined, the file is written; cancelled, nothing starts",
       Opened({{"press:offer", "answer=ask"},
               {"keep", "answer=start"},
               {"press:offer", "answer=ask"},
               {"cancel", "answer=nothing | box=none | update=1"}})},
      {"a download in place of a missing file has no keep answer",
       Opened({{"press:offer-only", "answer=ask | keeplabel="},
               {"keep", "answer=refused | box=message | boxtext=Can't find"}})},
      {"one update at a time; the file stays the running update's",
       Opened({{"press:ok", "answer=start"},
               {"start@0", "update=0"},
               {"press:ok", "answer=nothing"},
               {"choose:other.bin", "answer=no"},
               {"end:ok@10", "update=1"},
               {"choose:other.bin", "answer=yes"}})},
      {"a dropped file is taken as it is, a dropped folder gives its code_data.bin",
       Opened({{"drop:other.bin", "answer=yes | file=other.bin"},
               {"drop:unpacked/", "answer=yes | file=" + (std::filesystem::path("unpacked") /
                                                          "code_data.bin").string()}})},
      {"several dropped at once: a box asks for one, and the file stays",
       Opened({{"drop:a.bin,b.bin", "answer=yes | box=message | boxtext=" +
                                        std::string(text::kOneFileOnly) +
                                        " | file=code_data.bin"},
               {"boxclosed", "box=none | update=1"}})},
      {"nothing dropped is taken during an update",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"drop:other.bin", "answer=no | box=none | file=code_data.bin"},
               {"drop:a.bin,b.bin", "answer=no | box=none"}})},
  });
}

TEST(DialogModel, TheJobShowsItsStepTitleAndBarAndNoneOfItAfterTheEnd) {
  const std::string stopped(text::kUpdateStopped);
  PlayAll({
      {"a whole update: the step line with its warning, the title's percentage while the job "
       "runs (100 % while the restart goes out), plain after the end",
       Opened({{"press:ok", "answer=start"},
               {"start@0", "line=檔案: code_data.bin | linefile=code_data.bin | title=" + kTitle +
                               " | percent=-1"},
               {"stage:erase@0", "line=步驟 1/2 清除中 0%　" + kNotUnplug +
                                     " | linefile= | title=0% - " + kTitle},
               {"range:100", "bar=100/0"},
               {"pos:50@500", "bar=100/50 | line=步驟 1/2 清除中 50%　 | title=50% - " + kTitle +
                                  " | percent=50"},
               // The erase ends on its sector count: the step's number stays.
               {"pos:2@600", "bar=100/2 | percent=50"},
               {"stage:write@700", "line=步驟 2/2 寫入中 0%　 | title=0% - " + kTitle},
               {"range:20", "bar=20/2"},
               {"pos:5@800", "bar=20/5 | line=步驟 2/2 寫入中 25%　 | percent=25"},
               {"pos:20@900", "bar=20/20 | percent=100"},
               {"pos:0@900", "bar=20/0"},
               {"stage:written@900", ""},
               {"stage:header@900", ""},
               {"stage:done@950", "title=100% - " + kTitle + " | percent=100"},
               {"status:" + std::string(text::kUpdateSucceeded), ""},
               {"end:ok@1000", "title=" + kTitle + " | percent=-1 | line=更新完成，共用時 1 秒"
                               " | status=" + std::string(text::kUpdateSucceeded) +
                               " | failed=0 | box=none | bar=20/0 | awake=0"}})},
      {"unplugged halfway: a red status, the bar where it stopped, the advice, the time line",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"stage:erase@0", ""},
               {"pos:100@100", ""},
               {"pos:0@100", ""},
               {"stage:write@100", ""},
               {"range:20", ""},
               {"pos:8@200", "bar=20/8"},
               {"status:" + std::string(text::kWriteDataError), ""},
               {"pos:0@200", "bar=20/0"},
               {"status:" + std::string(text::kDatabaseWriteFailed), ""},
               {"end:write-failed@300",
                "status=" + std::string(text::kDatabaseWriteFailed) +
                    " | failed=1 | bar=20/8 | box=advice | boxtext=" +
                    FillIn(text::kAdviceIncomplete, {{"%again%", text::kAgainDialog}}) +
                    " | line=更新停止於步驟 2/2 寫入中 40%，共用時 | title=" + kTitle +
                    " | update=1 | failedat=40"},
               {"boxclosed", "box=none | failed=1 | bar=20/8 | failedat=40"},
               // Another file: the line and a taskbar button no longer tell of the failure.
               {"choose:other.bin", "answer=yes | failedat=-1 | line=檔案: code_data.bin"}})},
      {"a file the job cannot read after all: its message, and the line still tells of the "
       "file, since nothing was sent",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"message", "answer=shown | line=檔案: code_data.bin | percent=-1"},
               {"end:file-unreadable@10", "line=檔案: code_data.bin | failedat=-1 | failed=0"}})},
      {"gone during the erase: the bar stays in the erase's range",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"stage:erase@0", ""},
               {"range:100", ""},
               {"pos:30@10", ""},
               {"status:" + std::string(text::kEraseMessageError), ""},
               {"pos:0@10", "bar=100/0"},
               {"end:erase-failed@20", "bar=100/30 | failed=1 | box=advice"}})},
      {"no device when the job began: nothing touched, so the bar is left as the job left it "
       "and the advice says nothing changed",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"status:" + kConnectFailed, ""},
               {"status:" + std::string(text::kEraseFlashFailed), ""},
               {"end:no-device@10",
                "bar=100/0 | failed=1 | boxtext=" +
                    FillIn(text::kAdviceUnchanged, {{"%again%", text::kAgainDialog}})}})},
      {"the bar holds 16 bits, and a position never passes its range",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"range:70000", "bar=4464/0"},
               {"pos:9000@1", "bar=4464/4464"},
               {"range:65536", "bar=0/0"},
               {"range:65377", "bar=65377/0"},
               {"pos:65000@2", "bar=65377/65000"},
               {"range:100", "bar=100/100"}})},
  });
}

TEST(DialogModel, ACloseDuringAnUpdateAsksThenStopsWithItsOwnText) {
  const std::string stopped(text::kUpdateStopped);
  PlayAll({
      {"no update: a close closes at once", Opened({{"close", "answer=close"}})},
      {"asked once; declined, the update goes on; confirmed, it stops, its messages are "
       "dropped, and the stop's text is the last word",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"stage:erase@0", ""},
               {"close", "answer=ask | box=close | boxtext=" + std::string(text::kConfirmClose)},
               {"close", "answer=ignore"},
               {"goon", "answer=keep | box=none | cancel=1"},
               {"message", "answer=shown"},
               {"close", "answer=ask | box=close"},
               {"stop", "answer=stop | box=none | cancel=0 | update=0 | choose=0"},
               {"message", "answer=dropped"},
               {"close", "answer=ignore"},
               {"status:" + std::string(text::kEraseFlashFailed), ""},
               {"end:erase-failed@10", "answer=close | status=" + stopped + " | box=none"}})},
      {"an update that succeeds while stopping keeps its success",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"close", "answer=ask"},
               {"stop", "answer=stop"},
               {"status:" + std::string(text::kUpdateSucceeded), ""},
               {"end:ok@10", "answer=close | status=" + std::string(text::kUpdateSucceeded)}})},
      {"an update that ends under the question takes it away; a late answer closes",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"close", "answer=ask | box=close"},
               {"status:" + std::string(text::kUpdateSucceeded), ""},
               {"end:ok@10", "answer=stay | box=none | update=1"},
               {"stop", "answer=close"}})},
      {"the system ends the program: no question, the update stops, the stop's text",
       Opened({{"terminate", "answer=close"}})},
      {"... during an update, with or without the question open",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"stage:erase@0", ""},
               {"close", "answer=ask | box=close"},
               {"terminate", "answer=stop | box=none | cancel=0"},
               {"terminate", "answer=keep"},
               {"end:erase-failed@10", "answer=close | status=" + stopped}})},
      {"a failure under the question: the advice takes its place",
       Opened({{"press:ok", "answer=start"},
               {"start@0", ""},
               {"stage:erase@0", ""},
               {"close", "answer=ask"},
               {"end:erase-failed@10", "answer=stay | box=advice | failed=1"}})},
  });
}

// A dialog with a line of its own for the several-devices note: the status
// line keeps the probe's text alone; the note stays through an update.
TEST(DialogModel, TheDeviceNoteMayHaveALineOfItsOwn) {
  DialogModel model;
  model.KeepDeviceNoteApart();
  model.DeviceListLooked({"hid:0", "hid:1"}, {});
  model.Probed(ProbeOutcome::Busy, text::kDeviceBusy);
  EXPECT_EQ(model.View({}).status, text::kDeviceBusy);
  EXPECT_EQ(model.View({}).deviceNote, text::DeviceCountNote(2));
  EXPECT_EQ(text::DeviceStatusText(text::kDeviceBusy, 2),
            std::string(text::kDeviceBusy) + "（" + text::DeviceCountNote(2) + "）");
  model.DeviceListLooked({"hid:0"}, Clock::time_point{} + milliseconds(10));
  model.Probed(ProbeOutcome::Present, text::kDeviceConnected);
  EXPECT_EQ(model.View({}).deviceNote, "");
}

// The default file found in none of the folders looked in: the line names
// them; a file the user named is told of alone.
TEST(DialogModel, TheLineNamesTheFoldersSearchedForTheDefaultFile) {
  DialogModel model;
  model.SetSearchedFolders({"C:/Users/A/Desktop", "C:/Program Files/GPS\x01"});
  model.ImageLooked(File("missing").image);
  EXPECT_EQ(model.View({}).progressLine,
            "找不到 code_data.bin（已找過 C:/Users/A/Desktop、C:/Program Files/GPS\\x01）");
  model.ImageLooked(File("offer-only").image);
  EXPECT_EQ(model.View({}).progressLine.find("已找過"), std::string::npos);
  ASSERT_TRUE(model.FileChosen("code_data.bin"));
  model.ImageLooked(File("missing").image);
  EXPECT_EQ(model.View({}).progressLine, "找不到 code_data.bin");
}

TEST(DialogModel, AQuestionsAnswerClosesWithTheCodeOfItsRequest) {
  ModelPlayer player;
  DialogModel& model = player.model();
  model.Probed(ProbeOutcome::Present, text::kDeviceConnected);
  ASSERT_EQ(model.UpdatePressed(ProbeOutcome::Present, CheckImageSize(10)),
            DialogModel::StartAction::Start);
  model.JobStarted({});
  ASSERT_EQ(model.CloseRequested(7), DialogModel::CloseAction::Ask);
  ASSERT_EQ(model.CloseAnswered(true), DialogModel::AnswerAction::StopUpdate);
  EXPECT_EQ(model.CloseCode(), 7);
}

// Each box the model asks for has its own number, so that a front end can
// tell a new box from the one it shows, and one the model took away.
TEST(DialogModel, EachBoxHasANumberOfItsOwn) {
  DialogModel model;
  model.Probed(ProbeOutcome::Present, text::kDeviceConnected);
  const FileState missing = File("missing");
  model.UpdatePressed(ProbeOutcome::Present, missing.image, missing.check);
  const uint64_t first = model.View({}).box.serial;
  EXPECT_NE(first, 0u);
  model.BoxClosed();
  EXPECT_EQ(model.View({}).box.serial, 0u);
  model.UpdatePressed(ProbeOutcome::Present, missing.image, missing.check);
  EXPECT_GT(model.View({}).box.serial, first);
}

// The file line: the file before an update, the time taken after it, the
// file again once another one is chosen; a fresh look is asked for after
// each of those.
TEST(DialogModel, TheLineUnderTheStatusTellsOfTheFileBetweenUpdates) {
  DialogModel model;
  EXPECT_TRUE(model.View({}).lookAtImage);
  model.ImageLooked(File("ok").image);
  EXPECT_FALSE(model.View({}).lookAtImage);
  EXPECT_EQ(model.View({}).progressLine.rfind("檔案: code_data.bin (4.9 KB, ", 0), 0u)
      << model.View({}).progressLine;
  model.Probed(ProbeOutcome::Present, text::kDeviceConnected);
  ASSERT_EQ(model.UpdatePressed(ProbeOutcome::Present, File("ok").image, File("ok").check),
            DialogModel::StartAction::Start);
  model.JobStarted({});
  model.JobStageBegins(JobStage::Erase, {});
  model.JobEnded(UpdateOutcome::EraseFailed, Clock::time_point{} + std::chrono::seconds(3));
  EXPECT_EQ(model.View({}).progressLine.rfind("更新停止於步驟 1/2 清除中 0%，共用時 3 秒", 0), 0u)
      << model.View({}).progressLine;
  EXPECT_TRUE(model.View({}).lookAtImage);
  ASSERT_TRUE(model.FileChosen("elsewhere/other.bin"));
  EXPECT_TRUE(model.FileGiven());
  model.ImageLooked(ChooseGivenImage("elsewhere/other.bin"));
  EXPECT_EQ(model.View({}).progressLine, "找不到 other.bin");
}

}  // namespace
}  // namespace gps
