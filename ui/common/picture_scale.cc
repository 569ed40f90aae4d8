#include "ui/common/picture_scale.h"

#include <algorithm>
#include <cmath>

namespace gps {
namespace {

// Which source pixels one output pixel takes along one axis, and how much
// of each.
struct Taps {
  uint32_t first = 0;
  std::vector<float> weights;
};

std::vector<Taps> AxisTaps(uint32_t from, uint32_t to) {
  std::vector<Taps> taps(to);
  const double scale = static_cast<double>(from) / to;
  for (uint32_t i = 0; i < to; ++i) {
    Taps& t = taps[i];
    if (scale >= 1.0) {
      // The output pixel covers [a, b) of the source: each source pixel
      // counts by the part of it that lies inside.
      const double a = i * scale;
      const double b = std::min<double>(from, (i + 1) * scale);
      t.first = static_cast<uint32_t>(a);
      for (uint32_t j = t.first; j < from && j < b; ++j)
        t.weights.push_back(static_cast<float>((std::min<double>(b, j + 1) - std::max<double>(a, j)) / (b - a)));
    } else {
      // Between the two source pixels whose centres are nearest.
      const double centre = std::clamp((i + 0.5) * scale - 0.5, 0.0, from - 1.0);
      t.first = static_cast<uint32_t>(centre);
      const auto part = static_cast<float>(centre - t.first);
      t.weights = {1.0f - part};
      if (t.first + 1 < from) t.weights.push_back(part);
    }
  }
  return taps;
}

}  // namespace

RgbPicture ScalePicture(const RgbPicture& source, uint32_t width, uint32_t height) {
  RgbPicture out;
  if (width == 0 || height == 0 || source.width == 0 || source.height == 0 ||
      source.pixels.size() < std::size_t{source.width} * source.height * 3) {
    return out;
  }
  const std::vector<Taps> across = AxisTaps(source.width, width);
  const std::vector<Taps> down = AxisTaps(source.height, height);

  // Rows first: every source row at the new width.
  std::vector<float> rows(std::size_t{source.height} * width * 3);
  for (uint32_t y = 0; y < source.height; ++y) {
    const uint8_t* in = source.pixels.data() + std::size_t{y} * source.width * 3;
    float* row = rows.data() + std::size_t{y} * width * 3;
    for (uint32_t x = 0; x < width; ++x) {
      const Taps& t = across[x];
      for (std::size_t k = 0; k < t.weights.size(); ++k)
        for (int c = 0; c < 3; ++c) row[x * 3 + c] += t.weights[k] * in[(t.first + k) * 3 + c];
    }
  }
  // Then the columns.
  out.width = width;
  out.height = height;
  out.pixels.resize(std::size_t{width} * height * 3);
  for (uint32_t y = 0; y < height; ++y) {
    const Taps& t = down[y];
    uint8_t* line = out.pixels.data() + std::size_t{y} * width * 3;
    for (uint32_t i = 0; i < width * 3; ++i) {
      float value = 0.0f;
      for (std::size_t k = 0; k < t.weights.size(); ++k)
        value += t.weights[k] * rows[(t.first + k) * std::size_t{width} * 3 + i];
      line[i] = static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
    }
  }
  return out;
}

PictureSize FitPicture(uint32_t pictureWidth, uint32_t pictureHeight, uint32_t boxWidth,
                       uint32_t boxHeight) {
  if (pictureWidth == 0 || pictureHeight == 0 || boxWidth == 0 || boxHeight == 0) return {};
  // Compared in 64 bits: which side of the box limits the picture.
  if (uint64_t{boxWidth} * pictureHeight <= uint64_t{boxHeight} * pictureWidth) {
    const auto height =
        static_cast<uint32_t>((uint64_t{boxWidth} * pictureHeight + pictureWidth / 2) / pictureWidth);
    return {boxWidth, std::clamp<uint32_t>(height, 1, boxHeight)};
  }
  const auto width =
      static_cast<uint32_t>((uint64_t{boxHeight} * pictureWidth + pictureHeight / 2) / pictureHeight);
  return {std::clamp<uint32_t>(width, 1, boxWidth), boxHeight};
}

}  // namespace gps
