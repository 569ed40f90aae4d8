// Text from outside the program (file names, paths, serial numbers) made
// safe to show on a terminal, in a log line or in a dialog box.
//
// Such text may hold anything: a serial number is whatever the device says,
// a file name whatever bytes the file system holds. Shown raw, a control
// character moves the cursor, sets the window title or starts a forged
// line, and invalid UTF-8 breaks output that is documented as UTF-8. Every
// place that shows such text shows ShownText(text) instead; the raw bytes
// stay what the program matches devices by and opens files with.
#pragma once

#include <string>
#include <string_view>

namespace gps {

// `raw` with every C0 control character and DEL written out (`\e`, `\n`,
// `\r`, `\t`, others as `\x07`), every byte that is not part of valid UTF-8
// as `\xNN`, and the C1 controls and the bidirectional overrides (which
// reorder what follows them) as `\u202E`. Everything else, backslashes
// included, is kept as it is.
std::string ShownText(std::string_view raw);

}  // namespace gps
