// One writer per device, whoever runs it.
//
// Each operation of an update opens the device anew and closes it again, so
// an open handle says nothing about who is updating it. An update therefore
// claims the device for its whole length, beside the single-instance guard:
// the guard keeps two copies of one user apart, the claim any two programs,
// of one user or of two, and two jobs of one program (--all).
//
//   Linux (hidapi)  flock on the hidraw node, which every user who can open
//                   the node shares
//   Windows         a named mutex in the Global\ namespace, named after a
//                   hash of the interface path (a name takes no backslash)
//   otherwise       a claim inside this process (the simulated bus, the
//                   browser), which tests can hold as another program would
//
// The system drops the claim when the process ends, however it ends.
#pragma once

#include <memory>
#include <string>

namespace gps {

// Held while it lives.
class DeviceLock {
 public:
  virtual ~DeviceLock() = default;
};

struct DeviceClaim {
  // Someone else holds the device: nothing may be sent to it.
  bool busy = false;
  // The claim, while held. Null and not busy where the platform could not
  // be asked (a node this user may not open): the job's own opens then meet
  // the same cause and report it in their words.
  std::unique_ptr<DeviceLock> lock;
};

// The claim inside this process on `path` of the bus `owner`.
DeviceClaim ClaimInProcess(const void* owner, const std::string& path);

}  // namespace gps
