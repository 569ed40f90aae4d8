#include "ui/common/picture_scale.h"

#include <gtest/gtest.h>

namespace gps {
namespace {

RgbPicture Filled(uint32_t width, uint32_t height, uint8_t b, uint8_t g, uint8_t r) {
  RgbPicture p{width, height, {}};
  for (uint32_t i = 0; i < width * height; ++i) p.pixels.insert(p.pixels.end(), {b, g, r});
  return p;
}

uint8_t At(const RgbPicture& p, uint32_t x, uint32_t y, int channel = 0) {
  return p.pixels[(std::size_t{y} * p.width + x) * 3 + channel];
}

// The sizes the dialog asks for at 96, 120, 144, 192 and 240 DPI, and odd
// ones: a flat colour stays exactly that colour, so the filter's weights
// always add up to one.
TEST(PictureScale, AFlatColourStaysFlatAtEverySize) {
  const RgbPicture source = Filled(1100, 500, 12, 200, 255);
  for (const auto& [w, h] : {std::pair{550u, 250u}, {688u, 313u}, {825u, 375u}, {1100u, 500u},
                             {1375u, 625u}, {1u, 1u}, {7u, 1103u}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const RgbPicture out = ScalePicture(source, w, h);
    ASSERT_EQ(out.pixels.size(), std::size_t{w} * h * 3);
    for (std::size_t i = 0; i < out.pixels.size(); i += 3) {
      ASSERT_EQ(out.pixels[i], 12);
      ASSERT_EQ(out.pixels[i + 1], 200);
      ASSERT_EQ(out.pixels[i + 2], 255);
    }
  }
}

TEST(PictureScale, ShrinkingAveragesAndKeepsThinLines) {
  // A line one pixel wide in a picture halved: nearest-pixel scaling would
  // drop it or keep it whole depending on where it lies; the box filter
  // keeps it at half strength wherever it is.
  for (uint32_t column : {10u, 11u}) {
    RgbPicture source = Filled(20, 4, 0, 0, 0);
    for (uint32_t y = 0; y < 4; ++y) source.pixels[(y * 20 + column) * 3] = 254;
    const RgbPicture out = ScalePicture(source, 10, 2);
    EXPECT_EQ(At(out, 5, 0), 127) << column;
    EXPECT_EQ(At(out, 4, 1), 0) << column;
    EXPECT_EQ(At(out, 6, 1), 0) << column;
  }
  // The same size is the picture itself.
  RgbPicture ramp = Filled(5, 3, 0, 0, 0);
  for (std::size_t i = 0; i < ramp.pixels.size(); ++i) ramp.pixels[i] = static_cast<uint8_t>(i * 5);
  EXPECT_EQ(ScalePicture(ramp, 5, 3).pixels, ramp.pixels);
}

TEST(PictureScale, GrowingBlendsNeighboursAndKeepsTheEdges) {
  RgbPicture source = Filled(2, 1, 0, 0, 0);
  source.pixels[3] = 200;  // black, then blue 200
  const RgbPicture out = ScalePicture(source, 4, 1);
  EXPECT_EQ(At(out, 0, 0), 0);
  EXPECT_EQ(At(out, 1, 0), 50);
  EXPECT_EQ(At(out, 2, 0), 150);
  EXPECT_EQ(At(out, 3, 0), 200);
}

TEST(PictureScale, NothingToScaleGivesNothing) {
  EXPECT_TRUE(ScalePicture(Filled(4, 4, 1, 2, 3), 0, 5).pixels.empty());
  EXPECT_TRUE(ScalePicture(RgbPicture{}, 5, 5).pixels.empty());
  EXPECT_TRUE(ScalePicture(RgbPicture{4, 4, {1, 2, 3}}, 2, 2).pixels.empty());  // too few bytes
}

TEST(PictureFit, TheLimitingSideFillsTheBoxAndTheAspectStays) {
  struct Case {
    uint32_t boxWidth, boxHeight;
    uint32_t width, height;
  };
  const Case cases[] = {
      {550, 250, 550, 250},    // exactly the picture
      {550, 234, 515, 234},    // the dialog's place at 96 DPI: height limits
      {1100, 600, 1100, 500},  // width limits
      {3, 1000, 3, 1},
      {1000, 1, 2, 1},
      {0, 100, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.boxWidth) + "x" + std::to_string(c.boxHeight));
    const PictureSize size = FitPicture(550, 250, c.boxWidth, c.boxHeight);
    EXPECT_EQ(size.width, c.width);
    EXPECT_EQ(size.height, c.height);
  }
}

}  // namespace
}  // namespace gps
