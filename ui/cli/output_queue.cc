#include "ui/cli/output_queue.h"

#include <streambuf>
#include <utility>

namespace gps {

// Collects what is written between two flushes and hands it over on the
// flush.
class OutputQueue::Buffer : public std::streambuf {
 public:
  Buffer(OutputQueue& queue, std::ostream& target, Kind kind,
         std::function<std::string(std::string_view)> convert)
      : queue_(queue), target_(target), kind_(kind), convert_(std::move(convert)) {}

 protected:
  int overflow(int c) override {
    if (c != traits_type::eof()) pending_ += static_cast<char>(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int sync() override {
    if (!pending_.empty())
      queue_.Hand(target_, kind_, convert_ ? convert_(pending_) : std::move(pending_));
    pending_.clear();
    return 0;
  }

 private:
  OutputQueue& queue_;
  std::ostream& target_;
  const Kind kind_;
  const std::function<std::string(std::string_view)> convert_;
  std::string pending_;
};

OutputQueue::OutputQueue(std::size_t boundBytes)
    : bound_(boundBytes), thread_([this](std::stop_token stop) { Run(stop); }) {}

OutputQueue::~OutputQueue() {
  for (auto& stream : streams_) stream->flush();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    NoteDropped();
    thread_.request_stop();
  }
  wake_.notify_all();
  thread_.join();
}

std::ostream& OutputQueue::Stream(std::ostream& target, Kind kind,
                                  std::function<std::string(std::string_view)> convert) {
  std::lock_guard<std::mutex> hold(mutex_);
  buffers_.push_back(std::make_unique<Buffer>(*this, target, kind, std::move(convert)));
  streams_.push_back(std::make_unique<std::ostream>(buffers_.back().get()));
  return *streams_.back();
}

void OutputQueue::NoteDropped() {
  if (dropped_ == 0) return;
  queue_.push_back({droppedFrom_,
                    "[trace] " + std::to_string(dropped_) +
                        " line(s) dropped here: the output was not being read\n",
                    false, false});
  dropped_ = 0;
}

void OutputQueue::Hand(std::ostream& target, Kind kind, std::string text) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (kind == Kind::Trace) {
      if (traceBytes_ + text.size() > bound_) {
        ++dropped_;
        droppedFrom_ = &target;
        return;
      }
      NoteDropped();
      traceBytes_ += text.size();
      queue_.push_back({&target, std::move(text), false, true});
    } else {
      // Whatever comes after the gap says first that there was one.
      NoteDropped();
      const bool redraw = text.front() == '\r';
      // The newest bar tells all that the one still waiting would.
      if (redraw && !queue_.empty() && queue_.back().redraw && queue_.back().target == &target) {
        queue_.back().text = std::move(text);
      } else {
        queue_.push_back({&target, std::move(text), redraw, false});
      }
    }
  }
  wake_.notify_one();
}

void OutputQueue::Run(std::stop_token stop) {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    wake_.wait(hold, stop, [this] { return !queue_.empty(); });
    if (queue_.empty()) {
      if (stop.stop_requested()) return;
      continue;
    }
    Piece piece = std::move(queue_.front());
    queue_.pop_front();
    writing_ = true;
    hold.unlock();
    piece.target->write(piece.text.data(), static_cast<std::streamsize>(piece.text.size()));
    piece.target->flush();
    hold.lock();
    writing_ = false;
    // Trace is counted until written: the bound is on what waits.
    if (piece.trace) traceBytes_ -= piece.text.size();
    if (queue_.empty()) drained_.notify_all();
  }
}

bool OutputQueue::Drain(std::chrono::milliseconds bound, const std::function<bool()>& giveUp) {
  for (auto& stream : streams_) stream->flush();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    NoteDropped();
  }
  wake_.notify_one();
  const auto deadline = std::chrono::steady_clock::now() + bound;
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    if (queue_.empty() && !writing_) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (giveUp && giveUp()) return false;
    drained_.wait_for(hold, std::chrono::milliseconds(50));
  }
}

}  // namespace gps
