// The core as the web page calls it: the dialog's model (ui/common's
// DialogModel, the same as the desktop dialogs'), the look at the device,
// the update of an image the page has put into the core's memory, and the
// facts the page needs (the texts it shows itself, the device's ids).
//
// The page tells the core what happened (a file chosen, 更新 pressed, a
// device plugged in, a close asked for, a box closed) and shows the view the
// model answers with: every rule of the dialog lives in the model, the page
// only draws it. During an update the core hands the page a new view after
// each report of the job (Module.gpsPage.view).
//
// The page runs the look and the update on its own thread with ccall's
// `async` option: a transfer that waits on WebHID pauses the core through
// Asyncify and hands the thread back to the browser. While the core is
// paused the page starts no other call that waits; the model's events never
// wait and may come meanwhile (a close asked for during an update: the
// paused job is inside a transfer, never inside the model). A stop goes to
// the stop event's JavaScript side.
#include <emscripten.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hid/attached_devices.h"
#include "hid/hid_device.h"
#include "protocol/device_probe.h"
#include "protocol/flash_layout.h"
#include "protocol/image_check.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "ui/common/dialog_model.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/failure_advice.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/image_file.h"
#include "ui/common/instance_guard.h"

namespace gps {
namespace {

using Clock = DialogModel::Clock;

EM_JS(void, PageView, (const char* json, size_t length), {
  Module.gpsPage.view(JSON.parse(UTF8ToString(json, length)));
});
// The bar's position moved: 1 when the page asks for the view itself when
// it draws (gps_web_view), 0 when it must be handed the view now.
EM_JS(int, PageProgressed, (), {
  const page = Module.gpsPage;
  if (!page.progressed) return 0;
  page.progressed();
  return 1;
});
EM_ASYNC_JS(void, PageMessage, (const char* text, size_t length), {
  try {
    await Module.gpsPage.message(UTF8ToString(text, length));
  } catch (e) {
    console.error(e);  // the job goes on, as after a box the user closed
  }
});

// A small JSON object, built one member at a time.
class Json {
 public:
  Json& Text(std::string_view key, std::string_view value) {
    Key(key);
    out_ += '"';
    for (char c : value) {
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        default:
          if (static_cast<unsigned char>(c) < 0x20) continue;  // no control characters
          out_ += c;
      }
    }
    out_ += '"';
    return *this;
  }
  Json& Number(std::string_view key, int64_t value) {
    Key(key);
    out_ += std::to_string(value);
    return *this;
  }
  Json& Flag(std::string_view key, bool value) {
    Key(key);
    out_ += value ? "true" : "false";
    return *this;
  }
  std::string Done() const { return out_.empty() ? "{}" : out_ + "}"; }

 private:
  void Key(std::string_view key) {
    out_ += out_.empty() ? "{\"" : ",\"";
    out_ += key;
    out_ += "\":";
  }
  std::string out_;
};

std::string_view BoxKind(DialogBox::Kind kind) {
  switch (kind) {
    case DialogBox::Kind::None: return "";
    case DialogBox::Kind::Message: return "message";
    case DialogBox::Kind::Advice: return "advice";
    case DialogBox::Kind::CloseQuestion: return "close";
    case DialogBox::Kind::CopyQuestion: return "copy";  // a browser has no folder to look in
  }
  return "";
}

std::string ViewJson(const DialogView& view) {
  return Json()
      .Text("status", view.status)
      .Flag("statusFailed", view.statusFailed)
      .Text("progressLine", view.progressLine)
      .Text("title", view.title)
      .Number("percent", view.percent)
      .Number("barRange", view.barRange)
      .Number("barPosition", view.barPosition)
      .Flag("updateEnabled", view.updateEnabled)
      .Flag("cancelEnabled", view.cancelEnabled)
      .Flag("chooseFileEnabled", view.chooseFileEnabled)
      .Flag("keepAwake", view.keepAwake)
      .Flag("watchDevice", view.watchDevice)
      .Flag("settling", view.settling)
      .Text("boxKind", BoxKind(view.box.kind))
      .Text("boxText", view.box.text)
      .Number("boxSerial", static_cast<int64_t>(view.box.serial))
      .Done();
}

// The image buffer carries this many zeros after the file, as the desktop
// programs' does: the last page runs past the image's end.
constexpr uint32_t kImageTail = 512;

struct Core {
  StopEvent stop;
  std::string title{kDialogTitle};
  // The browser hands over a file by its name: the model knows it by that.
  std::unique_ptr<DialogModel> model =
      std::make_unique<DialogModel>(kDefaultImageFile, true, title);
  DialogModel::AfterJob afterJob = DialogModel::AfterJob::Stay;

  LinkSettings Link() {
    LinkSettings link;
    link.backend = &PlatformHidBackend();
    link.stop = &stop;
    return link;
  }
  void Show() {
    const std::string json = ViewJson(model->View(Clock::now()));
    PageView(json.data(), json.size());
  }
};

Core& TheCore() {
  static Core core;
  return core;
}

// The job's reports go to the model, and its view to the page.
class PageReporter final : public UpdateReporter {
 public:
  explicit PageReporter(Core& core) : core_(core) {}

  void SetStatusText(std::string_view text) override {
    core_.model->JobStatus(text);
    core_.Show();
  }
  void SetProgressRange(uint32_t upper) override {
    core_.model->JobRange(upper);
    core_.Show();
  }
  // A position moves only the bar and the line under it, and comes after
  // every page written: the page draws those a few times a second and asks
  // for the view when it does, instead of being handed a view (made and
  // parsed) for every page.
  void SetProgressPosition(uint32_t position) override {
    core_.model->JobPosition(position, Clock::now());
    if (!PageProgressed()) core_.Show();
  }
  void StageBegins(JobStage stage) override {
    core_.model->JobStageBegins(stage, Clock::now());
    core_.Show();
  }
  void ShowMessage(std::string_view text) override {
    if (core_.model->JobMessage()) PageMessage(text.data(), text.size());
  }

 private:
  Core& core_;
};

// A result the page reads with UTF8ToString before it calls the core again.
const char* Hand(std::string text) {
  static std::string held;
  held = std::move(text);
  return held.c_str();
}

}  // namespace
}  // namespace gps

using namespace gps;

extern "C" {

// A fresh model, for a page that opens; `simulated`: the title says that a
// simulated device stands in for the real one.
EMSCRIPTEN_KEEPALIVE void gps_web_open(int simulated) {
  Core& core = TheCore();
  core.title = std::string(kDialogTitle) + (simulated ? "（模擬設備）" : "");
  core.model = std::make_unique<DialogModel>(kDefaultImageFile, true, core.title);
  core.Show();
}

// The view as it is now (the time left moves on its own while an update
// runs): Module.gpsPage.view gets it.
EMSCRIPTEN_KEEPALIVE void gps_web_show() { TheCore().Show(); }

// The view as it is now, as gps_web_show hands it, for a page that was told
// that the bar moved; read with UTF8ToString before the core is called again.
EMSCRIPTEN_KEEPALIVE const char* gps_web_view() {
  return Hand(ViewJson(TheCore().model->View(Clock::now())));
}

// A look at the granted devices (the list only); when the model wants it,
// the device is then opened once and closed again. Returns the probe's
// outcome (ProbeOutcome's order: present, absent, ...), or -1 when the
// device was not opened.
EMSCRIPTEN_KEEPALIVE int gps_web_look() {
  Core& core = TheCore();
  std::vector<std::string> interfaces;
  for (const AttachedDevice& device : AttachedDevices(PlatformHidBackend()))
    interfaces.push_back(device.path);
  int outcome = -1;
  if (core.model->DeviceListLooked(interfaces, Clock::now())) {
    const ProbeResult result = ProbeDevice(core.Link());
    core.model->Probed(result.outcome, result.text);
    outcome = static_cast<int>(result.outcome);
  }
  core.Show();
  return outcome;
}

// The user picked or dropped a file of `size` bytes named `name`. A file
// the device cannot take is refused at once, from its size alone (before a
// byte of it is read, and before any device chooser opens). Returns 1 when
// the file may be written.
EMSCRIPTEN_KEEPALIVE int gps_web_file_chosen(const char* name, double size) {
  Core& core = TheCore();
  if (!core.model->FileChosen(name)) return 0;
  const ImageCheck check = CheckImageSize(static_cast<uint64_t>(size));
  if (check.Refused()) core.model->UpdatePressed(ProbeOutcome::Absent, check);
  core.Show();
  return check.Refused() ? 0 : 1;
}

// Several files dropped on the page at once: the model's box asks for one.
EMSCRIPTEN_KEEPALIVE void gps_web_several_dropped(int count) {
  Core& core = TheCore();
  const std::vector<DroppedItem> items(static_cast<std::size_t>(std::max(count, 2)));
  if (core.model->Dropped(items)) core.Show();
}

// A folder named `name` was dropped (an unpacked download, say) and holds
// no code_data.bin: the model tells of the missing file as for any other.
// A folder that holds one is not told here: the page hands its
// code_data.bin to gps_web_file_chosen.
EMSCRIPTEN_KEEPALIVE void gps_web_folder_without_image(const char* name) {
  Core& core = TheCore();
  if (!core.model->Dropped({DroppedItem{name, true}})) return;
  ImageCheck missing;
  missing.problem = ImageProblem::Missing;
  core.model->UpdatePressed(ProbeOutcome::Absent, missing);
  core.Show();
}

// 1 when an answer of `size` bytes so far (an image from the site) is more
// than the device takes: the page stops reading it and hands it to
// gps_web_file_chosen, whose model then says why.
EMSCRIPTEN_KEEPALIVE int gps_web_too_large(double size) {
  return CheckImageSize(static_cast<uint64_t>(size)).problem == ImageProblem::TooLarge ? 1 : 0;
}

// 更新, with the chosen file's size and whether a device is there (the page
// asks the browser for one only after the file passed: pressed with
// `device` -1, the file is judged alone). Returns the model's StartAction:
// 0 nothing, 1 refused, 2 no device, 4 start.
EMSCRIPTEN_KEEPALIVE int gps_web_update_pressed(double size, int device) {
  Core& core = TheCore();
  const ImageCheck check = CheckImageSize(static_cast<uint64_t>(size));
  const ProbeOutcome probe = device == 0 ? ProbeOutcome::Absent : ProbeOutcome::Present;
  const DialogModel::StartAction action = core.model->UpdatePressed(probe, check);
  core.Show();
  return static_cast<int>(action);
}
static_assert(static_cast<int>(DialogModel::StartAction::Refused) == 1 &&
                  static_cast<int>(DialogModel::StartAction::NoDevice) == 2 &&
                  static_cast<int>(DialogModel::StartAction::Start) == 4,
              "page.js reads StartAction by these numbers");

// The number of the update's stop event in JavaScript (gpsStopEvents): the
// page sets it there to stop the update at its next report.
EMSCRIPTEN_KEEPALIVE int gps_web_stop_event() {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(TheCore().stop.NativeHandle()));
}

// A buffer for an image of `length` bytes, zeros after it; null when the
// length is more than the device takes or there is no memory for it. The
// page copies the file into it and hands it to gps_web_update.
EMSCRIPTEN_KEEPALIVE uint8_t* gps_web_image(uint32_t length) {
  if (length > MAX_DATABASE_SIZE) return nullptr;
  return static_cast<uint8_t*>(std::calloc(std::size_t{length} + kImageTail, 1));
}

EMSCRIPTEN_KEEPALIVE void gps_web_release(uint8_t* image) { std::free(image); }

// One whole update, its reports shown through the model; returns
// UpdateOutcome's value (web/tests/core.test.js names them: 0 succeeded,
// 3 too large, 5 no device, 6 erase failed, 7 write failed, 8 restart
// failed). A stop left over from an earlier update is void.
static_assert(static_cast<int>(UpdateOutcome::NoDevice) == 5 &&
                  static_cast<int>(UpdateOutcome::RestartFailed) == 8,
              "web/tests/core.test.js's UPDATE table follows UpdateOutcome's order");
EMSCRIPTEN_KEEPALIVE int gps_web_update(const uint8_t* image, uint32_t length) {
  Core& core = TheCore();
  core.stop.Reset();
  core.model->JobStarted(Clock::now());
  core.Show();
  PageReporter reporter(core);
  UpdateJob job(reporter, core.Link());
  const UpdateOutcome outcome = job.UpdateDatabase(image, length);
  core.afterJob = core.model->JobEnded(outcome, Clock::now());
  core.Show();
  return static_cast<int>(outcome);
}

// 1 when the last update ended because the user chose to close: the page
// closes now.
EMSCRIPTEN_KEEPALIVE int gps_web_job_closes() {
  return TheCore().afterJob == DialogModel::AfterJob::Close ? 1 : 0;
}

// 取消, Esc, or leaving the page: the model's CloseAction (0 close now,
// 1 the question is in the view, 2 nothing).
EMSCRIPTEN_KEEPALIVE int gps_web_close_requested() {
  const DialogModel::CloseAction action = TheCore().model->CloseRequested(0);
  TheCore().Show();
  return static_cast<int>(action);
}
static_assert(static_cast<int>(DialogModel::CloseAction::Ask) == 1,
              "page.js reads CloseAction by these numbers");

// The close question's answer: the model's AnswerAction (0 keep running,
// 1 close now, 2 stop the update, which then closes).
EMSCRIPTEN_KEEPALIVE int gps_web_close_answered(int stop) {
  const DialogModel::AnswerAction action = TheCore().model->CloseAnswered(stop != 0);
  TheCore().Show();
  return static_cast<int>(action);
}
static_assert(static_cast<int>(DialogModel::AnswerAction::StopUpdate) == 2,
              "page.js reads AnswerAction by these numbers");

// The browser kept the tab the page asked to close: the page goes on as a
// fresh dialog whose status line still shows how the last update ended.
EMSCRIPTEN_KEEPALIVE void gps_web_close_refused() {
  Core& core = TheCore();
  const std::string status = core.model->View(Clock::now()).status;
  core.model = std::make_unique<DialogModel>(kDefaultImageFile, true, core.title);
  if (!status.empty()) core.model->JobStatus(status);
  core.Show();
}

// An advice or message box of the model was closed.
EMSCRIPTEN_KEEPALIVE void gps_web_box_closed() {
  TheCore().model->BoxClosed();
  TheCore().Show();
}

// What the page tells the user when it finds that an update in this browser
// never ended (the tab was closed, the browser or the computer stopped):
// the device may be left without a complete database.
EMSCRIPTEN_KEEPALIVE const char* gps_web_unfinished_advice() {
  JobEnd end;
  end.outcome = UpdateOutcome::WriteFailed;
  end.deviceTouched = true;
  return Hand(Advice(end, FrontEnd::Dialog));
}

// The facts the page needs without the model, as a JSON object: the texts
// it shows itself, so that it says exactly what the desktop programs say,
// the device's ids for the browser's device chooser, how soon a device
// back on the bus is the one that just restarted, and the image's name in a
// dropped folder.
EMSCRIPTEN_KEEPALIVE const char* gps_web_facts() {
  static const std::string json = Json()
                                      .Text("cantFindPrefix", text::kCantFindPrefix)
                                      .Text("readFilePrefix", text::kReadFilePrefix)
                                      .Text("readFileSuffix", text::kReadFileSuffix)
                                      .Text("outOfMemory", text::kOutOfMemory)
                                      .Text("softwareInUse", text::kSoftwareInUse)
                                      .Number("vendorId", HID_VENDOR_ID)
                                      .Number("productId", HID_PRODUCT_ID)
                                      .Number("restartWindowMs", kRestartWindow.count())
                                      .Text("defaultImageFile", kDefaultImageFile)
                                      .Done();
  return json.c_str();
}

}  // extern "C"
