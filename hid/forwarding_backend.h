// A backend that passes every call on to another one unchanged. The
// decorators of the link (DeviceViewBackend, TracingBackend, and the bench's
// PacedBackend) derive from it and override only the calls they change, so
// a call added to HidBackend is forwarded once, here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace gps {

class ForwardingBackend : public HidBackend {
 public:
  explicit ForwardingBackend(HidBackend& inner) : inner_(inner) {}

  std::vector<std::string> EnumerateInterfaces() override { return inner_.EnumerateInterfaces(); }
  std::optional<HidAttributes> QueryAttributes(const std::string& path) override {
    return inner_.QueryAttributes(path);
  }
  std::string QuerySerial(const std::string& path) override { return inner_.QuerySerial(path); }
  HidOpenResult OpenData(const std::string& path, HidAccess access) override {
    return inner_.OpenData(path, access);
  }
  TransferResult Transfer(HidHandle handle, HidDirection direction, uint8_t* buffer,
                          uint32_t length, uint32_t boundMs, const StopEvent& stop) override {
    return inner_.Transfer(handle, direction, buffer, length, boundMs, stop);
  }
  TransferResult Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) override {
    return inner_.Flush(handle, boundMs, stop);
  }
  std::optional<HidReportLengths> ReportLengths(HidHandle handle) override {
    return inner_.ReportLengths(handle);
  }
  void Cancel(HidHandle handle) override { inner_.Cancel(handle); }
  void Close(HidHandle handle) override { inner_.Close(handle); }
  DeviceClaim ClaimDevice(const std::string& path) override { return inner_.ClaimDevice(path); }

 protected:
  // The backend the calls go on to.
  HidBackend& inner() const { return inner_; }

 private:
  HidBackend& inner_;
};

}  // namespace gps
