// The record of a station's (or any run's, with --record) device jobs: one
// JSON object per line, one line per job, so that a counter can look up
// later what was done to a customer's device.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/cli/all_devices.h"

namespace gps {

// The image every job of a run writes, as the record names it.
struct RecordedImage {
  std::string name;    // the file's name as the user gave it, in UTF-8
  uint64_t size = 0;
  std::string sha256;  // 64 hexadecimal digits
};

// The job's line, without its line feed:
// {"serial":…,"path":…,"image":…,"size":…,"sha256":…,"start":…,"end":…,
//  "outcome":…,"status":…,"last_text":…,"reports":…,"program":…}
std::string RecordLine(const DeviceResult& job, const RecordedImage& image);

// A short word for how a job ended: "succeeded", "stopped", "erase_failed", …
std::string_view OutcomeName(int status, bool stopped);

// `text` as a JSON string, quotes included. Control characters become
// \u00XX, and bytes that are not UTF-8 (a device's serial number may hold
// anything) become U+FFFD each: the line stays valid JSON whatever it holds.
std::string JsonString(std::string_view text);

// "2026-12-11T04:30:12.345+08:00": the time in the local zone with its
// offset; `offsetMinutes` is the zone's offset from UTC at that time.
std::string IsoTime(std::chrono::system_clock::time_point time, int offsetMinutes);
// The same in the zone the system is set to.
std::string LocalIsoTime(std::chrono::system_clock::time_point time);

}  // namespace gps
