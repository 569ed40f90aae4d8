// The dialogs are laid out in dialog units, the Windows program's template
// units, at the numbers of its resource script (res/dialog_layout.h), so that
// both programs have the same proportions. One unit is 1.75
// pixels across and 2 down: the picture's slot of 314 × 125 units then holds
// the 550 × 250 picture at its real size.
#pragma once

#include <QRect>
#include <QSize>
#include <cmath>

#include "res/dialog_layout.h"

namespace gps {

inline int DluX(int units) { return static_cast<int>(std::lround(units * 1.75)); }
inline int DluY(int units) { return units * 2; }

inline QSize DluSize(int width, int height) { return QSize(DluX(width), DluY(height)); }

inline QRect DluRect(int x, int y, int width, int height) {
  return QRect(DluX(x), DluY(y), DluX(width), DluY(height));
}

}  // namespace gps
