// The Qt desktop program's reporting path under a whole update: a live UI
// thread with a real progress bar and status line (offscreen), fed by the
// update job on a worker thread.
#pragma once

#include <cstdint>
#include <vector>

namespace gps {

struct QtReportingCost {
  double updateSeconds = 0;     // the worker's whole update, best of the runs
  double quietSeconds = 0;      // the same with a reporter that does nothing
  double longestUiGapMs = 0;    // longest the UI thread went without serving events
  uint64_t positionsShown = 0;  // bar positions the UI thread applied in the best run
};

// Runs `runs` whole updates of `image` (its first `length` bytes) through
// the dialog's reporter, each followed by one through a reporter that does
// nothing, on the same worker thread beside the same live event loop, so
// that the difference is the reporter's alone. Needs no display: it uses
// Qt's offscreen platform.
QtReportingCost MeasureQtReporting(const std::vector<uint8_t>& image, uint32_t length,
                                   int runs);

}  // namespace gps
