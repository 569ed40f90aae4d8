// The core as the web page calls it: the probe, the check of an image before
// it is read, the update of an image the page has put into the core's
// memory, how the update ended, and the facts the page shows or needs (the
// texts, the device's ids, the settle time).
//
// The page runs the probe and the update on its own thread with ccall's
// `async` option: a transfer that waits on WebHID pauses the core through
// Asyncify and hands the thread back to the browser. While the core is
// paused the page calls nothing else of it; a stop goes to the stop event's
// JavaScript side.
//
// Every rule of the dialog that the desktop programs also follow lives here
// or in ui/common: the progress line, the title's percentage, where the bar
// stays after a failure, the stop text and the advice after a failure, and
// which files are refused before they are read. The page only shows them.
#include <emscripten.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "hid/hid_device.h"
#include "protocol/device_probe.h"
#include "protocol/flash_layout.h"
#include "protocol/messages.h"
#include "protocol/update_job.h"
#include "ui/common/dialog_texts.h"
#include "ui/common/failure_advice.h"
#include "ui/common/guidance_texts.h"
#include "ui/common/instance_guard.h"
#include "ui/common/update_progress.h"
#include "ui/common/update_session.h"

namespace gps {
namespace {

// The page's side of each report: Module.gpsPage, given when the page
// makes the module. A message is the page's own modal box; the job waits
// until the user has closed it, as it does on the desktop.
EM_JS(void, PageStatus, (const char* text, size_t length), {
  Module.gpsPage.status(UTF8ToString(text, length));
});
EM_JS(void, PageRange, (uint32_t upper), { Module.gpsPage.range(upper); });
EM_JS(void, PagePosition, (uint32_t position), { Module.gpsPage.position(position); });
EM_JS(void, PageLine, (const char* text, size_t length, int percent), {
  if (Module.gpsPage.line) Module.gpsPage.line(UTF8ToString(text, length), percent);
});
EM_JS(void, PageProbed, (int outcome, const char* text, size_t length), {
  Module.gpsPage.probed(outcome, UTF8ToString(text, length));
});
EM_ASYNC_JS(void, PageMessage, (const char* text, size_t length), {
  try {
    await Module.gpsPage.message(UTF8ToString(text, length));
  } catch (e) {
    console.error(e);  // the job goes on, as after a box the user closed
  }
});

using Clock = UpdateProgress::Clock;

// Follows the job's reports as the desktop dialogs do: the line under the
// bar ("步驟 2/2 寫入中 64%，剩餘約 3 分鐘　更新中，請勿拔除設備") and the
// title's percentage go to the page whenever they change.
class PageReporter final : public UpdateReporter {
 public:
  explicit PageReporter(UpdateProgress& progress) : progress_(progress) {}

  void SetStatusText(std::string_view text) override {
    progress_.OnStatus(text, Clock::now());
    PageStatus(text.data(), text.size());
    ShowLine();
  }
  void SetProgressRange(uint32_t upper) override {
    progress_.OnRange(upper);
    PageRange(upper);
  }
  void SetProgressPosition(uint32_t position) override {
    progress_.OnPosition(position, Clock::now());
    PagePosition(position);
    ShowLine();
  }
  void ShowMessage(std::string_view text) override { PageMessage(text.data(), text.size()); }

  void ShowLine() {
    const std::string line = progress_.Line(Clock::now());
    std::string shown(line);
    if (!shown.empty()) shown += "　";
    shown += text::kDoNotUnplug;
    const int percent = line.empty() ? -1 : progress_.Percent();
    if (shown == shown_ && percent == percent_) return;
    shown_ = shown;
    percent_ = percent;
    PageLine(shown.data(), shown.size(), percent);
  }

 private:
  UpdateProgress& progress_;
  std::string shown_;
  int percent_ = -2;
};

// The image buffer carries this many zeros after the file, as the desktop
// programs' does: the last page runs past the image's end.
constexpr uint32_t kImageTail = 512;

struct Core {
  StopEvent stop;
  UpdateProgress progress;
  LinkSettings Link() {
    LinkSettings link;
    link.backend = &PlatformHidBackend();
    link.stop = &stop;
    return link;
  }
};

Core& TheCore() {
  static Core core;
  return core;
}

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
  Json& Number(std::string_view key, double value) {
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

// The number of the update's stop event in JavaScript (gpsStopEvents): the
// page sets it there to stop the update at its next report.
EMSCRIPTEN_KEEPALIVE int gps_web_stop_event() {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(TheCore().stop.NativeHandle()));
}

// Opens the device once and closes it again. Returns the outcome
// (ProbeOutcome's order: present, absent, no permission, busy, cannot open,
// wrong firmware)
// and shows its text through Module.gpsPage.probed.
EMSCRIPTEN_KEEPALIVE int gps_web_probe() {
  const ProbeResult result = ProbeDevice(TheCore().Link());
  PageProbed(static_cast<int>(result.outcome), result.text.data(), result.text.size());
  return static_cast<int>(result.outcome);
}

// Whether a file of `size` bytes named `name` may be written, from its size
// alone and before any byte of it is read: "" when it may, otherwise
// {"kind": "tooLarge" or "empty", "status": text or "", "box": text} for the status line (shown as a
// failure) and the message box. The size is a double: a browser's file may
// be larger than 4 GiB.
EMSCRIPTEN_KEEPALIVE const char* gps_web_check_image(const char* name, double size) {
  const std::string fileName(name);
  if (size > MAX_DATABASE_SIZE) {
    return Hand(Json()
                    .Text("kind", "tooLarge")
                    .Text("status", text::kTooMuchData)
                    .Text("box", TooLargeText(fileName, static_cast<uint64_t>(size)))
                    .Done());
  }
  if (size <= 0) {
    return Hand(Json()
                    .Text("kind", "empty")
                    .Text("status", "")
                    .Text("box", std::string(text::kFileEmptyPrefix) + fileName +
                                     std::string(text::kFileEmptySuffix))
                    .Done());
  }
  return "";
}

// A buffer for an image of `length` bytes, zeros after it; null when the
// length is more than the device takes or there is no memory for it. The
// page copies the file into it and hands it to gps_web_update.
EMSCRIPTEN_KEEPALIVE uint8_t* gps_web_image(uint32_t length) {
  if (length > MAX_DATABASE_SIZE) return nullptr;
  return static_cast<uint8_t*>(std::calloc(std::size_t{length} + kImageTail, 1));
}

EMSCRIPTEN_KEEPALIVE void gps_web_release(uint8_t* image) { std::free(image); }

// One whole update, reported through Module.gpsPage; returns UpdateOutcome's
// value (web/tests/core.test.js names them: 0 succeeded, 3 too large, 5 no
// device, 6 erase failed, 7 write failed, 8 restart failed).
// A stop left over from an earlier update is void.
static_assert(static_cast<int>(UpdateOutcome::NoDevice) == 5 &&
                  static_cast<int>(UpdateOutcome::RestartFailed) == 8,
              "web/tests/core.test.js's UPDATE table follows UpdateOutcome's order");
EMSCRIPTEN_KEEPALIVE int gps_web_update(const uint8_t* image, uint32_t length) {
  Core& core = TheCore();
  core.stop.Reset();
  core.progress = UpdateProgress();
  core.progress.Begin(length, Clock::now());
  PageReporter reporter(core.progress);
  reporter.ShowLine();
  UpdateJob job(reporter, core.Link());
  const UpdateOutcome outcome = job.UpdateDatabase(image, length);
  core.progress.End(Clock::now());
  return static_cast<int>(outcome);
}

// How the last update ended, for the page to show, as a JSON object:
//   stopText  the status text that follows a stop the user asked for, or ""
//   failure   the status line's last text tells of a failure (shown in red)
//   advice    what the failure means and what to do (a message box), or ""
//   bar       {range, position}: where the bar stays, or absent when it
//             empties (after a success, or when the device was never touched)
//   line      the line under the bar: the time the update took, or where it
//             stopped
// `stopped`: the user asked for the stop (the link takes the stop event's
// signal as it acts on it, so only the page still knows).
EMSCRIPTEN_KEEPALIVE const char* gps_web_job_end(int outcome, const char* name, double size,
                                                 int stopped) {
  Core& core = TheCore();
  JobEnd end;
  end.outcome = static_cast<UpdateOutcome>(outcome);
  end.deviceTouched = core.progress.DeviceTouched();
  end.stoppedByUser = stopped != 0;
  end.fileName = name;
  end.fileSize = static_cast<uint64_t>(size);
  Json json;
  json.Text("stopText", StopStatusText(end))
      .Flag("failure", EndsInFailureText(end))
      .Text("advice", Advice(end, FrontEnd::Dialog))
      .Text("line", core.progress.EndLine());
  if (end.outcome != UpdateOutcome::Succeeded && end.deviceTouched) {
    json.Number("barRange", core.progress.BarRange())
        .Number("barPosition", core.progress.BarPosition());
  }
  return Hand(json.Done());
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

// The facts the page needs without the core's help, as a JSON object: the
// texts it shows itself, so that it says exactly what the desktop programs
// say, the device's ids for the browser's device chooser, and how long after
// a change of the device list a device that would not open may still become
// usable.
EMSCRIPTEN_KEEPALIVE const char* gps_web_facts() {
  static const std::string json =
      Json()
          .Text("deviceConnectFailed", text::kDeviceConnectFailed)
          .Text("softwareInUse", text::kSoftwareInUse)
          .Text("cantFindPrefix", text::kCantFindPrefix)
          .Text("readFilePrefix", text::kReadFilePrefix)
          .Text("readFileSuffix", text::kReadFileSuffix)
          .Text("outOfMemory", text::kOutOfMemory)
          .Text("confirmClose", text::kConfirmClose)
          .Text("stopUpdate", text::kStopUpdate)
          .Text("keepUpdating", text::kKeepUpdating)
          .Text("chooseFile", text::kChooseFile)
          .Text("doNotUnplug", text::kDoNotUnplug)
          .Number("vendorId", HID_VENDOR_ID)
          .Number("productId", HID_PRODUCT_ID)
          .Number("settleMs", static_cast<double>(kDeviceSettleTime.count()))
          .Done();
  return json.c_str();
}

}  // extern "C"
