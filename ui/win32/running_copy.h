// The copy of Update.exe that is already running, as a second copy sees it.
#pragma once

#include <windows.h>

namespace gps {

// Marks `dialog` as Update.exe's main dialog, so that a second copy finds
// it whatever its title says; `false` takes the mark away again, before the
// window is destroyed.
void MarkAsRunningCopy(HWND dialog, bool mark = true);

// Brings the running copy's main dialog to the front, restored if it was
// minimised: whoever started a second copy is looking for the first. Does
// nothing when the running copy has no dialog (gps-update-cli.exe).
void BringRunningCopyForward();

}  // namespace gps
