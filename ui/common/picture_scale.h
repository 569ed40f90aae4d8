// Scales the dialog's picture to the size its place has on the screen, which
// depends on the monitor's DPI: box-filtered when it shrinks, so that every
// source pixel counts and thin lines stay, and bilinear when it grows.
#pragma once

#include <cstdint>
#include <vector>

namespace gps {

// 24-bit pixels, three bytes each in the order the source has them (B, G, R
// for a Windows bitmap), rows from the top, no padding between rows.
struct RgbPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

// `source` resampled to width x height; empty when either is 0 or the
// source is empty.
RgbPicture ScalePicture(const RgbPicture& source, uint32_t width, uint32_t height);

// The largest width x height of the picture's aspect that fits the box,
// at least 1 x 1 for a box that is not empty.
struct PictureSize {
  uint32_t width = 0;
  uint32_t height = 0;
};
PictureSize FitPicture(uint32_t pictureWidth, uint32_t pictureHeight, uint32_t boxWidth,
                       uint32_t boxHeight);

}  // namespace gps
