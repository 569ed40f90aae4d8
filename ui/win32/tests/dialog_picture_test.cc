// The dialog's picture, decoded from the PNG in the program's resources by
// the imaging component: whole, in the byte order the dialog draws, and
// nothing (never a crash or a half picture) when the bytes are damaged.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "res/resource.h"
#include "ui/win32/dialog_picture.h"
#include "ui/win32/dialog_picture_decode.h"

namespace gps {
namespace {

// A 2 x 2 RGB PNG: red, green on the top row; blue, (10, 20, 30) below.
const std::vector<uint8_t> kTwoByTwo = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xfd, 0xd4, 0x9a,
    0x73, 0x00, 0x00, 0x00, 0x13, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8, 0xcf, 0xc0, 0xc0,
    0x00, 0xc2, 0x0c, 0xff, 0xb9, 0x44, 0xe4, 0x00, 0x1a, 0x58, 0x03, 0x3a, 0xe2, 0x92, 0x6e, 0xd9,
    0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// A valid header that claims 20000 x 20000 pixels (1.2 GB as a bitmap) over
// a few bytes of data.
const std::vector<uint8_t> kClaimsTooMuch = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x4e, 0x20, 0x00, 0x00, 0x4e, 0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x6c, 0x12, 0xd1,
    0x6e, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0x60, 0xa0, 0x3d, 0x00,
    0x00, 0x00, 0x64, 0x00, 0x01, 0xb8, 0x99, 0xef, 0x99, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e,
    0x44, 0xae, 0x42, 0x60, 0x82};

// The test program carries Update.exe's resources, and this damaged one.
constexpr UINT kDamagedPicture = 901;

std::vector<uint8_t> Bgr(const RgbPicture& picture, uint32_t x, uint32_t y) {
  const auto at = picture.pixels.begin() + (std::size_t{y} * picture.width + x) * 3;
  return {at, at + 3};
}

TEST(DialogPictureTest, TheEmbeddedPictureDecodesWholeAtTwiceTheDialogsSize) {
  const RgbPicture picture = ReadPictureResource(IDB_BACKGROUND);
  ASSERT_EQ(picture.width, 1100u);
  ASSERT_EQ(picture.height, 500u);
  ASSERT_EQ(picture.pixels.size(), std::size_t{1100} * 500 * 3);
  // The frame's grey and the light sky at the middle, as res/draw_art.py
  // paints them (R, G, B) = (136, 150, 163) and (229, 240, 248).
  EXPECT_EQ(Bgr(picture, 0, 0), (std::vector<uint8_t>{163, 150, 136}));
  EXPECT_EQ(Bgr(picture, 1099, 499), (std::vector<uint8_t>{163, 150, 136}));
  EXPECT_EQ(Bgr(picture, 550, 250), (std::vector<uint8_t>{248, 240, 229}));
}

TEST(DialogPictureTest, PixelsComeAsBlueGreenRedWithTheTopRowFirst) {
  const RgbPicture picture = DecodePicture(kTwoByTwo.data(), kTwoByTwo.size());
  ASSERT_EQ(picture.width, 2u);
  ASSERT_EQ(picture.height, 2u);
  EXPECT_EQ(picture.pixels, (std::vector<uint8_t>{0, 0, 255, 0, 255, 0,  // red, green
                                                  255, 0, 0, 30, 20, 10}));  // blue, (10,20,30)
}

TEST(DialogPictureTest, DamagedBytesGiveNoPicture) {
  std::vector<uint8_t> badChecksum = kTwoByTwo;
  badChecksum[45] ^= 0x55;  // inside the compressed rows
  const std::string text = "not a picture";
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"text", {text.begin(), text.end()}},
      {"signature only", {kTwoByTwo.begin(), kTwoByTwo.begin() + 8}},
      {"cut inside the rows", {kTwoByTwo.begin(), kTwoByTwo.begin() + 48}},
      {"rows altered", badChecksum},
      {"1.2 GB claimed", kClaimsTooMuch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RgbPicture picture = DecodePicture(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(picture.width, 0u);
    EXPECT_EQ(picture.height, 0u);
    EXPECT_TRUE(picture.pixels.empty());
  }
}

// The dialog opens whatever the resource holds: a damaged picture leaves its
// place empty, as a missing one does.
TEST(DialogPictureTest, ADamagedOrMissingResourceLeavesThePlaceEmpty) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  HWND place = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, 10, 10, 220,
                               100, window, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(place, nullptr);
  for (const UINT id : {kDamagedPicture, UINT{9999}}) {
    CDialogPicture picture;
    picture.Attach(window, place, nullptr, id, 96);
    EXPECT_EQ(picture.Bitmap(), nullptr) << id;
    EXPECT_EQ(SendMessageW(place, STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << id;
  }
  // The same place with the real picture, which shows.
  CDialogPicture picture;
  picture.Attach(window, place, nullptr, IDB_BACKGROUND, 96);
  EXPECT_NE(picture.Bitmap(), nullptr);
  DestroyWindow(window);
}

}  // namespace
}  // namespace gps
