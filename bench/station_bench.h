// What a service-counter station costs between jobs, on the simulated bus:
// from a device plugged in to the first report sent to it, and the memory
// held after many jobs.
#pragma once

#include <cstddef>
#include <vector>

namespace gps {

struct StationFigures {
  // Plug-in to first report, in milliseconds, at the station's own interval
  // between looks at the bus; and the part after the look that first saw
  // the device (enumeration, the job's start, the probe, the erase command).
  std::vector<double> firstReportMs;
  std::vector<double> afterLookMs;
  double lookIntervalMs = 0;
  // Heap in use and resident memory after each count of jobs in `jobs`.
  std::vector<std::size_t> jobs;
  std::vector<double> heapKiB;
  std::vector<double> residentKiB;
  bool failed = false;
};

// Runs a station in this process: `plugIns` plug-ins at the real look
// interval, then `jobs.back()` plug-ins as fast as the station takes them.
StationFigures MeasureStation(std::size_t plugIns, const std::vector<std::size_t>& jobs);

}  // namespace gps
