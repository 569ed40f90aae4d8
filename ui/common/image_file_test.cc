#include "ui/common/image_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace gps {
namespace {

namespace fs = std::filesystem;
using std::chrono::hours;

class ImageFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("gps-image-" + std::string(::testing::UnitTest::GetInstance()
                                           ->current_test_info()
                                           ->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A file of `size` bytes, `age` hours old.
  void Put(const std::string& name, std::size_t size, int age) {
    const fs::path path = dir_ / fs::u8path(name);
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    fs::last_write_time(path, now_ - hours(age));
  }
  fs::path Default() const { return dir_ / "code_data.bin"; }
  static std::string Name(const std::optional<ImageFile>& file) {
    return file ? DisplayName(file->path) : "none";
  }

  fs::path dir_;
  fs::file_time_type now_ = fs::file_time_type::clock::now();
};

TEST_F(ImageFolder, OffersTheNewestDownloadWhenTheDefaultIsMissing) {
  Put("code_data (1).bin", 10, 5);
  Put("code_data (2).bin", 20, 1);  // the newest
  Put("code_data-3.bin", 30, 3);
  Put("code_data(4).bin", 40, 2);  // Firefox names its copies so
  // None of these is a browser's copy of code_data.bin, or it is an empty
  // one (a download that failed).
  Put("code_data (x).bin", 1, 0);
  Put("code_data (9).bin", 0, 0);
  Put("code_data (5).txt", 1, 0);
  Put("other (6).bin", 1, 0);
  Put("code_data (7) .bin", 1, 0);
  fs::create_directory(dir_ / "code_data (8).bin");

  const ImageChoice choice = ChooseDefaultImage(Default());
  EXPECT_EQ(Name(choice.found), "none");
  EXPECT_EQ(Name(choice.offer), "code_data (2).bin");
  EXPECT_EQ(choice.offer->size, 20u);
  EXPECT_EQ(FileLine(choice), "找不到 code_data.bin；資料夾中有 code_data (2).bin");
  const std::string question = OfferQuestion(choice);
  EXPECT_EQ(question.rfind("找不到 code_data.bin。\n\n這個資料夾中最新的下載檔是:\n"
                           "code_data (2).bin (20 位元組, ", 0), 0u) << question;
  EXPECT_NE(OfferNote(choice).find("gps-update-cli \"code_data (2).bin\""), std::string::npos);
}

TEST_F(ImageFolder, OffersADownloadOnlyWhenItIsNewerThanTheDefault) {
  Put("code_data.bin", 100, 2);
  Put("code_data-1.bin", 200, 3);
  ImageChoice choice = ChooseDefaultImage(Default());
  EXPECT_EQ(Name(choice.found), "code_data.bin");
  EXPECT_EQ(Name(choice.offer), "none");
  EXPECT_EQ(FileLine(choice).rfind("檔案: code_data.bin (100 位元組, ", 0), 0u);
  EXPECT_EQ(OfferQuestion(choice), "");
  EXPECT_EQ(OfferNote(choice), "");

  Put("code_data (1).bin", 300, 1);
  choice = ChooseDefaultImage(Default());
  EXPECT_EQ(Name(choice.offer), "code_data (1).bin");
  EXPECT_NE(FileLine(choice).find("；資料夾中有較新的 code_data (1).bin"), std::string::npos);
  EXPECT_NE(OfferQuestion(choice).find("要用哪一個檔案更新設備?"), std::string::npos);
  EXPECT_EQ(OfferNote(choice).rfind("注意: ", 0), 0u);

  // A file the user named is taken as it is.
  EXPECT_EQ(Name(ChooseGivenImage(Default()).offer), "none");
}

TEST_F(ImageFolder, CopiesOfTheSameAgeGoByTheirNumber) {
  Put("code_data (2).bin", 1, 1);
  Put("code_data (10).bin", 1, 1);
  Put("code_data-9.bin", 1, 1);
  EXPECT_EQ(Name(ChooseDefaultImage(Default()).offer), "code_data (10).bin");
}

TEST(ImageFile, Descriptions) {
  std::tm local{};
  local.tm_year = 124;
  local.tm_mon = 4;
  local.tm_mday = 1;
  local.tm_hour = 9;
  local.tm_min = 5;
  EXPECT_EQ(Describe(ImageFile{"dir/code_data.bin", 1572864, {}}, local),
            "code_data.bin (1.5 MB, 2024/05/01 09:05)");
  const std::pair<uint64_t, const char*> sizes[] = {
      {0, "0 位元組"}, {1023, "1023 位元組"}, {1024, "1.0 KB"}, {1023948, "999.9 KB"}, {1048575, "1.0 MB"},
      {1048576, "1.0 MB"}, {0xFF6000, "16.0 MB"}};
  for (const auto& [size, text] : sizes) EXPECT_EQ(SizeText(size), text) << size;
  // A missing file that was named: nothing to offer.
  EXPECT_EQ(FileLine(ChooseGivenImage("no-such-dir/image.bin")), "找不到 image.bin");
}

}  // namespace
}  // namespace gps
