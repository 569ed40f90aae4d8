// The progress on the program's taskbar button (Windows 7 and later): the
// whole job's percentage while an update runs, red where a failure left it,
// nothing otherwise. The shell announces the button with a registered
// message; until then, and where the shell has no such interface (Wine),
// every call does nothing.
#pragma once

#include <windows.h>

struct ITaskbarList3;

namespace gps {

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  ~TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // The message that tells `window` its taskbar button is there; the window
  // calls OnButtonCreated when it receives it.
  static UINT ButtonCreatedMessage();
  void OnButtonCreated(HWND window);

  void Show(int percent);        // 0..100, in the normal colour
  void ShowFailed(int percent);  // red, where the update stopped
  void Clear();

 private:
  HWND window_ = nullptr;
  ITaskbarList3* list_ = nullptr;
  bool comReady_ = false;
};

}  // namespace gps
