// The updater's one rule about a second copy, for every program's entry
// (gps-update-cli, gps-update, Update.exe): before its window or any device,
// a program takes the single-instance guard and goes on only when it holds
// it. Another copy running: "軟體正在使用中" and status 1. No guard to be
// had safely: the lock text with where and why, and status 15, since two
// updates at once would interleave their reports on the one device.
//
// How the refusal reaches the user is the program's: a box with one OK
// button for the desktop programs (Update.exe also brings the running copy
// forward), standard error for the command line.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ui/common/instance_guard.h"

namespace gps {

// The exit statuses of a refused copy, the same in every program.
inline constexpr int kInstanceInUseStatus = 1;
inline constexpr int kInstanceNoLockStatus = 15;

struct InstanceRule {
  bool goOn = false;
  int exitStatus = 0;   // when not going on
  std::string text;     // when not going on: what the user is told (UTF-8)
  // No lock: where and why, in a few English words, for a second line;
  // escaped (the path is the file system's) and ready to show.
  std::string problem;
};

// What the rule says of a guard in `state`; `problem` and `placeUnsafe` as
// the guard tells them (InstanceGuard::problem, placeUnsafe).
InstanceRule RuleFor(InstanceGuard::State state, std::string_view problem = {},
                     bool placeUnsafe = false);
InstanceRule RuleFor(const InstanceGuard& guard);

// The guard, taken for as long as the program keeps `guard` (for the rest
// of the process), and what the rule says of it.
struct SingleInstance {
  std::unique_ptr<InstanceGuard> guard;
  InstanceRule rule;
};
SingleInstance TakeSingleInstance();

}  // namespace gps
