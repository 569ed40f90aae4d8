// The record's lines: valid JSON whatever a device calls itself, times with
// their zone, and whole lines when several writers share one file.
#include "ui/cli/job_record.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <thread>

#include "tests/json_object.h"
#include "tests/temp_folder.h"
#include "ui/cli/cli_options.h"
#include "ui/cli/record_file.h"

namespace gps {
namespace {

using test::JsonObjectReader;

// Each string goes into a line that a strict reader takes, and comes back as
// it was where it was valid UTF-8; what was not comes back as U+FFFD.
TEST(JobRecord, AnyBytesMakeAValidJsonString) {
  struct Case {
    const char* name;
    std::string raw;
    std::string escaped;  // JsonString's output
    std::string read;     // what a reader makes of it
  };
  const Case cases[] = {
      {"plain", "SN-0001", R"("SN-0001")", "SN-0001"},
      {"quote and backslash", R"(a"b\c)", R"("a\"b\\c")", R"(a"b\c)"},
      {"terminal controls", "\x1b]0;x\x07\n\r\t", R"("\u001b]0;x\u0007\u000a\u000d\u0009")",
       "\x1b]0;x\x07\n\r\t"},
      {"DEL", "a\x7f", R"("a\u007f")", "a\x7f"},
      {"Chinese", "更新成功!", "\"更新成功!\"", "更新成功!"},
      {"four bytes", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\"", "\xF0\x9F\x98\x80"},
      {"a stray byte", "caf\xE9", R"("caf\ufffd")", "caf\xEF\xBF\xBD"},
      {"cut short", "\xE6\xB2", R"("\ufffd\ufffd")", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong slash", "\xC0\xAF", R"("\ufffd\ufffd")", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", "\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")",
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"NUL", std::string("a\0b", 3), R"("a\u0000b")", std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JsonString(c.raw), c.escaped);
    const auto parsed = JsonObjectReader::Parse("{\"k\":" + JsonString(c.raw) + "}");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->at("k"), c.read);
  }
}

TEST(JobRecord, TimesCarryTheirZone) {
  using std::chrono::milliseconds;
  const auto t = std::chrono::system_clock::time_point(milliseconds(1796962212345));
  EXPECT_EQ(IsoTime(t, 0), "2026-12-11T04:10:12.345+00:00");
  EXPECT_EQ(IsoTime(t, 8 * 60), "2026-12-11T12:10:12.345+08:00");
  EXPECT_EQ(IsoTime(t, -(3 * 60 + 30)), "2026-12-11T00:40:12.345-03:30");
  EXPECT_EQ(IsoTime(t, 20 * 60), "2026-12-12T00:10:12.345+20:00");  // over midnight
  EXPECT_TRUE(std::regex_match(LocalIsoTime(t),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.345[+-]\d\d:\d\d)")));
}

TEST(JobRecord, ALineHoldsTheJobAndTheImage) {
  DeviceResult job;
  job.name = "/dev/hidraw3";
  job.path = "/dev/hidraw3";
  job.serial = "\x1b[2J\xFF";
  job.status = kExitWrite;
  job.stoppedByUser = true;
  job.lastText = "資料庫寫入失敗!";
  job.reportsSent = 612;
  job.started = std::chrono::system_clock::now();
  job.ended = job.started + std::chrono::seconds(3);
  const RecordedImage image{"code_data.bin", 70000, std::string(64, 'a')};
  const std::string line = RecordLine(job, image);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto parsed = JsonObjectReader::Parse(line);
  ASSERT_TRUE(parsed) << line;
  const std::map<std::string, std::string>& m = *parsed;
  EXPECT_EQ(m.at("serial"), "\x1b[2J\xEF\xBF\xBD");
  EXPECT_EQ(m.at("path"), "/dev/hidraw3");
  EXPECT_EQ(m.at("image"), "code_data.bin");
  EXPECT_EQ(m.at("size"), "70000");
  EXPECT_EQ(m.at("sha256"), std::string(64, 'a'));
  EXPECT_EQ(m.at("outcome"), "stopped");
  EXPECT_EQ(m.at("status"), "6");
  EXPECT_EQ(m.at("last_text"), "資料庫寫入失敗!");
  EXPECT_EQ(m.at("reports"), "612");
  EXPECT_LT(m.at("start"), m.at("end"));
  EXPECT_EQ(m.at("program").rfind("gps-update-cli ", 0), 0u);
  // A job that succeeded is that, whatever came after.
  EXPECT_EQ(OutcomeName(kExitSuccess, true), "succeeded");
  EXPECT_EQ(OutcomeName(kExitErase, false), "erase_failed");
  EXPECT_EQ(OutcomeName(kExitNoPermission, false), "no_permission");
}

// Two writers on one file, each with a descriptor of its own as two
// stations would have, lines long and short: every line comes out whole.
TEST(RecordFile, TwoWritersNeverInterleaveTheirLines) {
  test::TempFolder folder("record");
  const auto file = folder.path() / "record.jsonl";
  constexpr int kLines = 200;
  auto writer = [&file](char mark) {
    RecordFile record;
    ASSERT_EQ(record.Open(file), "");
    for (int i = 0; i < kLines; ++i) {
      // Up to 20 KB: far past what a pipe writes in one piece.
      const std::string filler(static_cast<std::size_t>((i * 997) % 20000), mark);
      ASSERT_EQ(record.Append("{\"n\":" + std::to_string(i) + ",\"f\":\"" + filler + "\"}"), "");
    }
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  std::ifstream in(file, std::ios::binary);
  int lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    const auto parsed = JsonObjectReader::Parse(line);
    ASSERT_TRUE(parsed) << "line " << lines;
    const std::string& filler = parsed->at("f");
    EXPECT_EQ(filler.find_first_not_of(filler.empty() ? 'a' : filler[0]), std::string::npos);
  }
  EXPECT_EQ(lines, 2 * kLines);
}

TEST(RecordFile, AFileThatCannotBeOpenedSaysWhy) {
  test::TempFolder folder("record");
  RecordFile record;
  EXPECT_NE(record.Open(folder.path()), "");  // a folder
  EXPECT_NE(record.Open(folder.path() / "missing" / "record.jsonl"), "");
  EXPECT_FALSE(record.IsOpen());
  EXPECT_NE(record.Append("{}"), "");
}

}  // namespace
}  // namespace gps
