#include "hid/tracing_backend.h"

#include <algorithm>
#include <cstdio>

#include "hid/shown_text.h"

namespace gps {
namespace {

std::string Hex(const uint8_t* bytes, uint32_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(std::size_t{count} * 3);
  for (uint32_t i = 0; i < count; ++i) {
    if (i > 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

const char* OpenErrorText(HidOpenError error) {
  switch (error) {
    case HidOpenError::None: return "ok";
    case HidOpenError::AccessDenied: return "access denied";
    case HidOpenError::Busy: return "busy";
    case HidOpenError::Gone: return "gone";
    case HidOpenError::Other: return "failed";
    case HidOpenError::UnexpectedReports: return "unexpected report lengths";
  }
  return "failed";
}

const char* StatusText(TransferStatus status) {
  switch (status) {
    case TransferStatus::Completed: return "completed";
    case TransferStatus::Failed: return "failed";
    case TransferStatus::TimedOut: return "timed out";
    case TransferStatus::Stopped: return "stopped";
  }
  return "failed";
}

// " (WriteFile: 1167)", " (hid_write: 19, No such device)", or nothing
// when the platform gave no cause.
std::string CauseText(const PlatformCause& cause) {
  if (!cause.call) return {};
  std::string out = std::string(" (") + cause.call + ": " + std::to_string(cause.code);
  if (!cause.text.empty()) out += ", " + cause.text;
  return out + ")";
}

}  // namespace

TracingBackend::TracingBackend(HidBackend& inner, std::ostream& out)
    : ForwardingBackend(inner), out_(out), start_(std::chrono::steady_clock::now()) {}

HidOpenResult TracingBackend::OpenData(const std::string& path, HidAccess access) {
  const HidOpenResult result = inner().OpenData(path, access);
  std::string line = std::string("open ") + (access == HidAccess::Read ? "read " : "write ") +
                     ShownText(path) + ": ";
  if (result.handle != kInvalidHidHandle)
    line += "handle " + std::to_string(result.handle);
  else
    line += std::string(OpenErrorText(result.error)) + CauseText(result.cause);
  Line(line);
  return result;
}

TransferResult TracingBackend::Transfer(HidHandle handle, HidDirection direction,
                                        uint8_t* buffer, uint32_t length, uint32_t boundMs,
                                        const StopEvent& stop) {
  const TransferResult result = inner().Transfer(handle, direction, buffer, length, boundMs, stop);
  const bool write = direction == HidDirection::Write;
  std::string line = write ? "out " : "in ";
  if (result.status == TransferStatus::Completed)
    line += std::to_string(result.count);
  else
    line += std::string(StatusText(result.status)) + CauseText(result.cause);
  // What went out is the whole buffer whatever became of it; what came in is
  // only what the platform delivered.
  const uint32_t shown = write ? length
                         : result.status == TransferStatus::Completed
                             ? std::min(result.count, length)
                             : 0;
  if (shown > 0) line += ": " + Hex(buffer, shown);
  Line(line);
  return result;
}

// Only a flush that did not complete is written down: for backends that
// settle each write at once it always completes, and the trace stays as it was.
TransferResult TracingBackend::Flush(HidHandle handle, uint32_t boundMs, const StopEvent& stop) {
  const TransferResult result = inner().Flush(handle, boundMs, stop);
  if (result.status != TransferStatus::Completed)
    Line(std::string("out flush ") + StatusText(result.status));
  return result;
}

// The lengths tell support at once whether the device runs the firmware
// that the link speaks to.
std::optional<HidReportLengths> TracingBackend::ReportLengths(HidHandle handle) {
  const std::optional<HidReportLengths> lengths = inner().ReportLengths(handle);
  std::string line = "reports of handle " + std::to_string(handle) + ": ";
  if (lengths)
    line += "in " + std::to_string(lengths->input) + ", out " + std::to_string(lengths->output);
  else
    line += "lengths not known";
  Line(line);
  return lengths;
}

void TracingBackend::Close(HidHandle handle) {
  inner().Close(handle);
  Line("close handle " + std::to_string(handle));
}

void TracingBackend::Line(const std::string& text) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%5lld.%06lld] ", static_cast<long long>(elapsed / 1000000),
                static_cast<long long>(elapsed % 1000000));
  std::lock_guard<std::mutex> lock(mutex_);
  out_ << stamp << text << '\n' << std::flush;
}

DeviceClaim TracingBackend::ClaimDevice(const std::string& path) {
  DeviceClaim claim = inner().ClaimDevice(path);
  Line("claim " + ShownText(path) + ": " +
       (claim.busy ? "held by another program" : claim.lock ? "held" : "not lockable"));
  return claim;
}

}  // namespace gps
