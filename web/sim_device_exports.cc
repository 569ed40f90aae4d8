// The simulated device's model (sim/device_model.h) for the stand-in of
// navigator.hid in sim_hid.js: the page's ?simulate=1 and the tests under
// Node.js drive the same device as the desktop programs' --simulate.
//
// A module of its own beside the page's core, so that the page's core holds
// only what runs against a real device. The stand-in passes each output
// report's payload in and asks for the input reports the model plans; times
// are the browser's clock, which steady_clock reads here too.
#include <emscripten.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "sim/demo_device.h"
#include "sim/device_model.h"

using namespace gps;

namespace {

std::vector<std::unique_ptr<DeviceModel>>& Models() {
  static std::vector<std::unique_ptr<DeviceModel>> models;
  return models;
}

int Add(std::unique_ptr<DeviceModel> model) {
  Models().push_back(std::move(model));
  return static_cast<int>(Models().size() - 1);
}

DeviceModel* Model(int id) {
  if (id < 0 || static_cast<std::size_t>(id) >= Models().size()) return nullptr;
  return Models()[static_cast<std::size_t>(id)].get();
}

}  // namespace

extern "C" {

// The demo device of the desktop programs: its erase pace, its flash kept
// as digests.
EMSCRIPTEN_KEEPALIVE int gps_sim_create_demo() {
  const SimConfig demo = DemoDeviceConfig();
  EraseBehaviour erase;
  erase.progress = demo.progress;
  erase.script = demo.eraseScript;
  erase.gap = demo.progressGap;
  erase.sendOver = demo.faults.sendOver;
  return Add(std::make_unique<DeviceModel>(demo.flashStorage, erase));
}

// The tests' device: its flash's bytes can be read back, and an erase
// answers at once.
EMSCRIPTEN_KEEPALIVE int gps_sim_create_test() {
  return Add(std::make_unique<DeviceModel>(SimFlash::Storage::Bytes, EraseBehaviour{}));
}

// The 64 payload bytes of one output report, received now.
EMSCRIPTEN_KEEPALIVE void gps_sim_receive(int id, const uint8_t* payload) {
  if (DeviceModel* model = Model(id)) model->Receive(payload, DeviceModel::Clock::now());
}

// The first planned input report numbered `from` or later: its payload into
// `payload` (64 bytes), its number and the milliseconds until it is sent
// (negative once it has been) into `number` and `inMs`. 0 when none is
// planned. Numbers travel as doubles, exact far beyond any run's count.
EMSCRIPTEN_KEEPALIVE int gps_sim_next_input(int id, double from, uint8_t* payload,
                                            double* number, double* inMs) {
  DeviceModel* model = Model(id);
  if (!model) return 0;
  const auto next = model->NextInputReport(static_cast<uint64_t>(from));
  if (!next) return 0;
  std::memcpy(payload, next->payload.data(), next->payload.size());
  *number = static_cast<double>(next->number);
  *inMs = std::chrono::duration<double, std::milli>(next->sentAt - DeviceModel::Clock::now())
              .count();
  return 1;
}

// `length` bytes of the flash from `address` into `out`; 0 when the model
// keeps only digests.
EMSCRIPTEN_KEEPALIVE int gps_sim_read_flash(int id, uint32_t address, uint32_t length,
                                            uint8_t* out) {
  DeviceModel* model = Model(id);
  if (!model) return 0;
  const std::vector<uint8_t> bytes = model->Flash().Read(address, length);
  if (bytes.size() != length) return 0;
  std::memcpy(out, bytes.data(), length);
  return 1;
}

EMSCRIPTEN_KEEPALIVE int gps_sim_restarts(int id) {
  DeviceModel* model = Model(id);
  return model ? model->Restarts() : 0;
}

EMSCRIPTEN_KEEPALIVE int gps_sim_rejected(int id) {
  DeviceModel* model = Model(id);
  return model ? model->RejectedCommands() : 0;
}

EMSCRIPTEN_KEEPALIVE double gps_sim_defects(int id) {
  DeviceModel* model = Model(id);
  return model ? static_cast<double>(model->WriteDefects()) : 0;
}

}  // extern "C"
