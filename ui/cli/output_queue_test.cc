#include "ui/cli/output_queue.h"

#include "ui/cli/terminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

namespace gps {
namespace {

using std::chrono::milliseconds;

// A reader that has stopped reading: every write waits until it is let go.
class StalledReader : public std::streambuf {
 public:
  void LetGo() {
    std::lock_guard<std::mutex> hold(mutex_);
    stalled_ = false;
    wake_.notify_all();
  }
  std::string Got() {
    std::lock_guard<std::mutex> hold(mutex_);
    return got_;
  }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::unique_lock<std::mutex> hold(mutex_);
    wake_.wait(hold, [this] { return !stalled_; });
    got_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int overflow(int c) override {
    const char ch = static_cast<char>(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stalled_ = true;
  std::string got_;
};

// Nothing handed to the queue waits on the reader: texts are all kept, in
// order; bars redrawn meanwhile leave only the newest; trace beyond the
// bound is dropped and the output says how much.
TEST(OutputQueue, AStalledReaderHoldsUpNoWriter) {
  StalledReader reader;
  std::ostream target(&reader);
  const auto start = std::chrono::steady_clock::now();
  std::string expected;
  {
    OutputQueue queue(/*boundBytes=*/100);
    std::ostream& text = queue.Stream(target, OutputQueue::Kind::Text);
    std::ostream& trace = queue.Stream(target, OutputQueue::Kind::Trace);
    text << "正在清除...\n" << std::flush;  // may already be with the reader
    for (int i = 0; i <= 100; ++i) text << "\r[bar] " << i << "%" << std::flush;
    text << "\n" << std::flush;
    for (int i = 0; i < 50; ++i) trace << "[trace] report " << i << "\n" << std::flush;
    text << "更新成功!\n" << std::flush;
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500));
    EXPECT_FALSE(queue.Drain(milliseconds(50)));  // the reader still waits
    reader.LetGo();
    EXPECT_TRUE(queue.Drain(milliseconds(5000)));
  }
  const std::string got = reader.Got();
  EXPECT_EQ(got.rfind("正在清除...\n", 0), 0u) << got;
  // The first redraw may have gone before the reader stalled the rest.
  EXPECT_LE(got.find("\r[bar] 100%\n"), got.size());
  EXPECT_EQ(got.find("\r[bar] 50%"), std::string::npos) << got;
  EXPECT_NE(got.find("[trace] report 0\n"), std::string::npos);
  EXPECT_EQ(got.find("[trace] report 49\n"), std::string::npos);  // past the bound
  EXPECT_NE(got.find(" line(s) dropped here: the output was not being read\n"), std::string::npos)
      << got;
  EXPECT_NE(got.find("更新成功!\n"), std::string::npos);
}

// A trace that fits is passed on whole; the count of dropped lines comes
// only where lines were dropped.
TEST(OutputQueue, PassesEverythingOnWhileTheReaderKeepsUp) {
  std::ostringstream target;
  {
    OutputQueue queue;
    std::ostream& text = queue.Stream(target, OutputQueue::Kind::Text);
    std::ostream& trace = queue.Stream(target, OutputQueue::Kind::Trace);
    text << "a\n" << std::flush;
    trace << "b\n" << std::flush;
    text << "c" << std::flush << "d\n";  // unflushed text goes at the end
    EXPECT_TRUE(queue.Drain(milliseconds(5000)));
  }
  EXPECT_EQ(target.str(), "a\nb\ncd\n");
}

}  // namespace
}  // namespace gps

namespace gps {
namespace {

// A terminal whose locale is Big5 (what Traditional Chinese Windows left
// behind) gets the texts in Big5; what Big5 lacks becomes '?'.
TEST(TerminalText, ConvertedForABig5Terminal) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows console is made to show UTF-8 itself";
#endif
  const TextConverter toBig5 = ConverterTo("BIG5");
  ASSERT_TRUE(toBig5);
  EXPECT_EQ(toBig5("正在清除...\n"), "\xa5\xbf\xa6\x62\xb2\x4d\xb0\xa3...\n");
  EXPECT_EQ(toBig5("[trace] out 65: 00 cc\n"), "[trace] out 65: 00 cc\n");
  EXPECT_EQ(toBig5("😀").find_first_not_of('?'), std::string::npos);
  std::ostringstream target;
  {
    OutputQueue queue;
    queue.Stream(target, OutputQueue::Kind::Text, toBig5) << "更新成功!\n" << std::flush;
    EXPECT_TRUE(queue.Drain(milliseconds(5000)));
  }
  EXPECT_EQ(target.str(), "\xa7\xf3\xb7\x73\xa6\xa8\xa5\x5c!\n");
  EXPECT_FALSE(ConverterTo("NO-SUCH-CHARSET"));
}

}  // namespace
}  // namespace gps
