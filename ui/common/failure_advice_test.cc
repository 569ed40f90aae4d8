#include "ui/common/failure_advice.h"

#include <gtest/gtest.h>

#include "protocol/flash_layout.h"
#include "ui/common/guidance_texts.h"

namespace gps {
namespace {

using O = UpdateOutcome;

JobEnd End(O outcome, bool touched, bool stopped = false, std::string name = "",
           uint64_t size = 0) {
  JobEnd end;
  end.outcome = outcome;
  end.deviceTouched = touched;
  end.stoppedByUser = stopped;
  end.fileName = std::move(name);
  end.fileSize = size;
  return end;
}

TEST(FailureAdvice, EachEndTellsWhatHappenedAndWhatToDo) {
  const std::string incomplete =
      "更新沒有完成：設備上的資料庫現在可能不完整，設備可能無法正常使用。"
      "請檢查USB連接線，再按「更新」：更新隨時可以從頭再執行一次。";
  const std::string unchanged =
      "沒有送出任何資料，設備上的資料沒有被更改。請檢查USB連接線，再按「更新」。";
  struct Case {
    JobEnd end;
    bool failureText;  // the status line reads as a failure
    std::string_view stopText;
    std::string advice;
  };
  const Case cases[] = {
      {End(O::Succeeded, true), false, "", ""},
      {End(O::FileMissing, false), false, "", ""},  // its own box said it
      {End(O::FileUnreadable, false), false, "", ""},
      {End(O::EraseFailed, false), true, "", unchanged},  // no device: nothing went out
      {End(O::EraseFailed, true), true, "", incomplete},
      {End(O::WriteFailed, true), true, "", incomplete},
      {End(O::RestartFailed, true), true, "", std::string(text::kAdviceRestart)},
      // A stop the user asked for says so on the status line and needs no box.
      {End(O::WriteFailed, true, true), true, text::kUpdateStopped, ""},
      {End(O::EraseFailed, false, true), true, text::kUpdateStopped, ""},
      {End(O::TooLarge, false, false, "big.bin", MAX_DATABASE_SIZE + 1ull), true, "",
       "big.bin 有 16,736,257 位元組，超過設備可容納的 16,736,256 位元組。沒有送出任何資料，"
       "設備沒有被更改。請確認下載的是這台設備的資料庫檔案。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.end.outcome));
    EXPECT_EQ(EndsInFailureText(c.end), c.failureText);
    EXPECT_EQ(StopStatusText(c.end), c.stopText);
    EXPECT_EQ(Advice(c.end, FrontEnd::Dialog), c.advice);
  }
  // The command line has no button to press.
  EXPECT_EQ(Advice(End(O::WriteFailed, true), FrontEnd::CommandLine),
            "更新沒有完成：設備上的資料庫現在可能不完整，設備可能無法正常使用。"
            "請檢查USB連接線，再執行一次 gps-update-cli：更新隨時可以從頭再執行一次。");
}

TEST(FailureAdvice, SizeTexts) {
  EXPECT_EQ(TooLargeText("a.bin", MAX_DATABASE_SIZE), "");
  EXPECT_NE(TooLargeText("a.bin", uint64_t{5} << 32).find("21,474,836,480 位元組"),
            std::string::npos);
  const std::pair<uint64_t, const char*> numbers[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {123456, "123,456"}, {1234567, "1,234,567"}};
  for (const auto& [value, text] : numbers) EXPECT_EQ(GroupedNumber(value), text);
}

}  // namespace
}  // namespace gps
