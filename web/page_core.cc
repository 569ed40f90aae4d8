// The core as the web page calls it: the probe, the update of an image the
// page has put into the core's memory, and the texts the page shows itself.
//
// The page runs these on its own thread with ccall's `async` option: a
// transfer that waits on WebHID pauses the core through Asyncify and hands
// the thread back to the browser. While the core is paused the page calls
// nothing else of it; a stop goes to the stop event's JavaScript side.
#include <emscripten.h>

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
#include "ui/common/instance_guard.h"

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

class PageReporter final : public UpdateReporter {
 public:
  void SetStatusText(std::string_view text) override { PageStatus(text.data(), text.size()); }
  void SetProgressRange(uint32_t upper) override { PageRange(upper); }
  void SetProgressPosition(uint32_t position) override { PagePosition(position); }
  void ShowMessage(std::string_view text) override { PageMessage(text.data(), text.size()); }
};

// The image buffer carries this many zeros after the file, as the desktop
// programs' does: the last page runs past the image's end.
constexpr uint32_t kImageTail = 512;

struct Core {
  StopEvent stop;
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

void AppendJson(std::string& out, std::string_view key, std::string_view value) {
  out += out.empty() ? "{" : ",";
  out += '"';
  out += key;
  out += "\":\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  out += '"';
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
  PageReporter reporter;
  UpdateJob job(reporter, core.Link());
  return static_cast<int>(job.UpdateDatabase(image, length));
}

// The texts the page shows without the core, as a JSON object, so that the
// page says exactly what the desktop programs say.
EMSCRIPTEN_KEEPALIVE const char* gps_web_texts() {
  static const std::string json = [] {
    std::string out;
    AppendJson(out, "deviceConnectFailed", text::kDeviceConnectFailed);
    AppendJson(out, "tooMuchData", text::kTooMuchData);
    AppendJson(out, "softwareInUse", text::kSoftwareInUse);
    AppendJson(out, "cantFindPrefix", text::kCantFindPrefix);
    AppendJson(out, "readFilePrefix", text::kReadFilePrefix);
    AppendJson(out, "readFileSuffix", text::kReadFileSuffix);
    AppendJson(out, "outOfMemory", text::kOutOfMemory);
    AppendJson(out, "confirmClose", text::kConfirmClose);
    return out + "}";
  }();
  return json.c_str();
}

}  // extern "C"
