// The simulated device as the gadget program drives it: output reports in,
// input reports out when they are due, and its flash and commands written
// out at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace gps {

class GadgetModel {
 public:
  struct Input {
    std::array<uint8_t, 64> payload{};
    int dueInMs = 0;  // 0 or less: due now
  };

  GadgetModel();
  ~GadgetModel();

  void Plugged();
  void Unplugged();
  // One output report's payload as the gadget delivered it (64 bytes, or
  // fewer if the host sent a short one).
  void TakeOutput(const uint8_t* payload, std::size_t length);
  // The next input report the device has to send, due or not.
  std::optional<Input> NextInput();
  void InputSent();

  // Writes DIR/flash.bin and DIR/commands.log; false if it could not.
  bool WriteResults(const std::string& dir) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace gps
