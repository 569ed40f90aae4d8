// What a program that writes into the device's flash settles first thing in
// main, before it opens anything or starts a thread.
#pragma once

namespace gps {

// On POSIX systems:
//  - Standard input, output and error that were closed when the program
//    started are opened on /dev/null. Otherwise the next file opened (the
//    lock file, the device) would take one of those numbers, and the status
//    lines written to "standard output" would land in it.
//  - SIGPIPE and SIGHUP are ignored. A reader that went away (`| head -1`)
//    or a terminal that was closed is no request to stop, and a program
//    killed between the erase and the last page leaves the device without a
//    database. A write to a stream that is gone then fails, and only its
//    text is lost.
// On Windows, DLLs are from then on looked for in the system folder only:
// a program started from a Downloads folder must not load one planted
// beside it. Windows has neither signal, and its standard handles are no
// numbers that a file opened later could take.
void PrepareProcess();

}  // namespace gps
