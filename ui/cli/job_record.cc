#include "ui/cli/job_record.h"

#include <cstdio>
#include <ctime>

#include "res/version.h"
#include "ui/cli/cli_options.h"

namespace gps {
namespace {

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is
// not one: an overlong form, a surrogate, past U+10FFFF or cut short.
std::size_t Utf8Sequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000)) return 0;
  if (code >= 0xD800 && code <= 0xDFFF) return 0;
  if (code > 0x10FFFF) return 0;
  return length;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool ToTm(std::time_t t, bool local, std::tm& out) {
#ifdef _WIN32
  return (local ? localtime_s(&out, &t) : gmtime_s(&out, &t)) == 0;
#else
  return (local ? localtime_r(&t, &out) : gmtime_r(&t, &out)) != nullptr;
#endif
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  std::size_t at = 0;
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++at;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++at;
    } else if (const std::size_t length = Utf8Sequence(text.substr(at)); length > 0) {
      out.append(text.substr(at, length));
      at += length;
    } else {
      out += "\\ufffd";
      ++at;
    }
  }
  return out + "\"";
}

std::string IsoTime(std::chrono::system_clock::time_point time, int offsetMinutes) {
  using namespace std::chrono;
  const auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count();
  // Whole seconds rounded down, so that a time before 1970 keeps its
  // milliseconds positive.
  int64_t seconds = millis >= 0 ? millis / 1000 : -((-millis + 999) / 1000);
  const auto fraction = static_cast<int>(millis - seconds * 1000);
  seconds += int64_t{offsetMinutes} * 60;
  const std::time_t local = static_cast<std::time_t>(seconds);
  std::tm fields{};
  if (!ToTm(local, false, fields)) return "";
  const int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                fields.tm_min, fields.tm_sec, fraction, offsetMinutes < 0 ? '-' : '+',
                offset / 60, offset % 60);
  return text;
}

std::string LocalIsoTime(std::chrono::system_clock::time_point time) {
  const std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  if (!ToTm(t, true, local)) return IsoTime(time, 0);
  // The local fields read as if they were UTC, less the time itself: the
  // zone's offset at that moment, summer time included.
  const int64_t asUtc = DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                      static_cast<unsigned>(local.tm_mday)) * 86400 +
                        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return IsoTime(time, static_cast<int>((asUtc - static_cast<int64_t>(t)) / 60));
}

std::string_view OutcomeName(int status, bool stopped) {
  if (status == kExitSuccess) return "succeeded";
  if (stopped) return "stopped";
  switch (status) {
    case kExitErase: return "erase_failed";
    case kExitWrite: return "write_failed";
    case kExitRestart: return "restart_failed";
    case kExitNoPermission: return "no_permission";
    case kExitBusy: return "busy";
    case kExitCannotOpen: return "cannot_open";
    case kExitNoDevice: return "no_device";
    case kExitWrongFirmware: return "wrong_firmware";
    default: return "failed";
  }
}

std::string RecordLine(const DeviceResult& job, const RecordedImage& image) {
  std::string line = "{\"serial\":" + JsonString(job.serial);
  line += ",\"path\":" + JsonString(job.path);
  line += ",\"image\":" + JsonString(image.name);
  line += ",\"size\":" + std::to_string(image.size);
  line += ",\"sha256\":" + JsonString(image.sha256);
  line += ",\"start\":" + JsonString(LocalIsoTime(job.started));
  line += ",\"end\":" + JsonString(LocalIsoTime(job.ended));
  line += ",\"outcome\":" + JsonString(OutcomeName(job.status, job.stoppedByUser));
  line += ",\"status\":" + std::to_string(job.status);
  line += ",\"last_text\":" + JsonString(job.lastText);
  line += ",\"reports\":" + std::to_string(job.reportsSent);
  line += ",\"program\":" + JsonString("gps-update-cli " GPS_VERSION);
  return line + "}";
}

}  // namespace gps
