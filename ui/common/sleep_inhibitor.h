// Keeps the system awake while an update runs: a laptop that goes to sleep
// halfway leaves the device without a complete database.
//
// Held from the start of an update to its end, on the thread that took it
// (Windows keeps the request per thread). Where the system offers no way to
// hold it (no logind, as in a container), nothing is held and the update
// goes on all the same.
#pragma once

#include <memory>
#include <string_view>

namespace gps {

class SleepInhibitor {
 public:
  virtual ~SleepInhibitor() = default;  // releases the hold
  // False when the system would not grant a hold.
  virtual bool Holding() const = 0;

  // `why` is what the system shows where it lists the programs holding it.
  static std::unique_ptr<SleepInhibitor> Acquire(std::string_view why);
};

// Why the updater holds the system awake.
inline constexpr std::string_view kKeepAwakeReason = "正在更新道路安全警示裝置的資料庫";

}  // namespace gps
