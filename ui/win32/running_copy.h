// The copy of Update.exe that is already running, as a second copy sees it.
#pragma once

namespace gps {

// Brings the running copy's main dialog to the front, restored if it was
// minimised: whoever started a second copy is looking for the first. Does
// nothing when the running copy has no dialog (gps-update-cli.exe).
void BringRunningCopyForward();

}  // namespace gps
