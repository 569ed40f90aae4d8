// The command-line program's output, off the update's path.
//
// Whatever reads the program's output can stop reading: `| less` waiting
// for a key, Ctrl+S on a terminal, a full pipe. A write to it then blocks,
// and a write made by the update itself would hold the device half-written
// for as long. So the update never writes: its texts, its progress and its
// trace go to streams that only hand each flushed piece to a queue, and one
// thread of the queue's own does the writing.
//
// The queue is bounded. Status texts and messages are few and always kept.
// A bar redrawn while the reader stalls replaces the redraw still waiting
// before it, so only the newest state is drawn. Trace lines beyond the bound
// are dropped, never silently: the next trace line that fits is preceded by
// one that says how many were lost.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace gps {

class OutputQueue {
 public:
  enum class Kind {
    Text,   // status texts, messages, progress: kept (a bar redraw is replaced)
    Trace,  // --trace: dropped, and counted, beyond the bound
  };

  // At most `boundBytes` of trace wait in the queue.
  explicit OutputQueue(std::size_t boundBytes = 1 << 20);
  // Writes what is left, then ends the thread (Drain first to bound it).
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // A stream whose flushed pieces go to `target` through the queue. It lives
  // as long as the queue. The queue's thread is the only one that writes to
  // `target` from now on.
  // `convert`, when given, turns each piece into what the target shows
  // (terminal.h: a terminal that is not UTF-8).
  std::ostream& Stream(std::ostream& target, Kind kind,
                       std::function<std::string(std::string_view)> convert = nullptr);

  // Waits until everything queued so far is written, or `bound` has passed,
  // or `giveUp` (checked now and then) says to stop waiting. True when all
  // was written.
  bool Drain(std::chrono::milliseconds bound, const std::function<bool()>& giveUp = {});

 private:
  class Buffer;
  struct Piece {
    std::ostream* target;
    std::string text;
    bool redraw;  // a bar drawn over the line ("\r..."): replaceable
    bool trace;   // counted against the bound until written
  };

  void Hand(std::ostream& target, Kind kind, std::string text);
  // Under the lock: the line that says how many trace lines were dropped,
  // where the trace would have gone, if any were.
  void NoteDropped();
  void Run(std::stop_token stop);

  const std::size_t bound_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::condition_variable drained_;
  std::deque<Piece> queue_;
  std::size_t traceBytes_ = 0;
  std::size_t dropped_ = 0;
  std::ostream* droppedFrom_ = nullptr;  // where the dropped lines were going
  bool writing_ = false;
  std::vector<std::unique_ptr<Buffer>> buffers_;
  std::vector<std::unique_ptr<std::ostream>> streams_;
  std::jthread thread_;
};

}  // namespace gps
