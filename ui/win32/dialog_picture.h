// The main dialog's picture at the size its place has on the screen.
//
// The resource holds the picture, as PNG, at twice its size at 96 DPI
// (1100 x 250 design units drawn as 1100 x 500 pixels), so that it is sharp up
// to 192 DPI; it is scaled down (box filter) to the place the dialog
// template gives it, keeping its aspect, and never over the progress bar.
// When the window moves to a monitor of another DPI, the dialog manager
// scales the controls and the picture is scaled again from the source.
#pragma once

#include <windows.h>

#include "ui/common/picture_scale.h"

namespace gps {

class CDialogPicture {
 public:
  CDialogPicture() = default;
  ~CDialogPicture();
  CDialogPicture(const CDialogPicture&) = delete;
  CDialogPicture& operator=(const CDialogPicture&) = delete;

  // Decodes the picture resource `pictureId` (RCDATA, PNG), takes the place
  // of `picture` (a static control with SS_BITMAP) as it is at `dpi`, and
  // shows the picture there; a picture that cannot be decoded leaves the
  // place empty. `bar` is the control it must stay above.
  void Attach(HWND dialog, HWND picture, HWND bar, UINT pictureId, UINT dpi);

  // The window now shows at `dpi`: the place scales with it. Call once the
  // dialog manager has moved the controls (after WM_DPICHANGED).
  void OnDpiChanged(UINT dpi);

  // The bitmap shown, owned by this object.
  HBITMAP Bitmap() const { return m_bitmap; }

 private:
  void Show();

  HWND m_dialog = nullptr;
  HWND m_picture = nullptr;
  HWND m_bar = nullptr;
  RgbPicture m_source;
  RECT m_place{};  // in the dialog's client coordinates at m_dpi
  UINT m_dpi = 96;
  HBITMAP m_bitmap = nullptr;
};

// The DPI of the monitor the window is on (96 where the system cannot tell
// per window, before Windows 10).
UINT WindowDpi(HWND window);

}  // namespace gps
