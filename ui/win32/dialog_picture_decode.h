// The dialog's picture is kept compressed (PNG) in the program's resources
// (a thirtieth of its size as a bitmap) and decoded when the dialog opens by
// the Windows Imaging Component, which every Windows since XP SP3 has.
#pragma once

#include <windows.h>

#include <cstddef>

#include "ui/common/picture_scale.h"

namespace gps {

// The largest picture decoded, in pixels: the dialog's is 1100 x 500. A
// damaged header that claims more is refused before any memory is taken.
inline constexpr uint64_t kMaxPicturePixels = 4096 * 4096;

// `bytes` (a PNG, or any format the system decodes) as 24-bit pixels in the
// order B, G, R, rows from the top; empty when they cannot be decoded (damaged,
// no decoder, too large, COM unavailable). Never throws.
RgbPicture DecodePicture(const void* bytes, std::size_t size);

// The RCDATA resource `id` of the program, decoded; empty when it is missing
// or cannot be decoded.
RgbPicture ReadPictureResource(UINT id);

}  // namespace gps
