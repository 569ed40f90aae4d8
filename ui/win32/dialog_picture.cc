#include "ui/win32/dialog_picture.h"

#include <algorithm>
#include <cstring>

#include "ui/win32/dialog_picture_decode.h"

namespace gps {
namespace {

// A DIB section holding `picture`.
HBITMAP MakeBitmap(const RgbPicture& picture) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = static_cast<LONG>(picture.width);
  info.bmiHeader.biHeight = -static_cast<LONG>(picture.height);  // rows from the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  const std::size_t stride = (std::size_t{picture.width} * 3 + 3) & ~std::size_t{3};
  for (uint32_t y = 0; y < picture.height; ++y) {
    std::memcpy(static_cast<uint8_t*>(bits) + y * stride,
                picture.pixels.data() + std::size_t{y} * picture.width * 3,
                std::size_t{picture.width} * 3);
  }
  return bitmap;
}

// A child window's rectangle in its parent's client coordinates.
RECT PlaceOf(HWND child, HWND parent) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace

UINT WindowDpi(HWND window) {
  // Windows 10 (1607) and later know each window's DPI; looked up, so that
  // the program starts on Windows 7 too.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

CDialogPicture::~CDialogPicture() {
  if (m_bitmap) DeleteObject(m_bitmap);
}

void CDialogPicture::Attach(HWND dialog, HWND picture, HWND bar, UINT pictureId, UINT dpi) {
  m_dialog = dialog;
  m_picture = picture;
  m_bar = bar;
  m_dpi = dpi ? dpi : 96;
  // Without it (a damaged resource, no imaging component) the dialog shows
  // without its picture.
  m_source = ReadPictureResource(pictureId);
  // The template's place for the picture, as the dialog manager laid it out.
  m_place = PlaceOf(picture, dialog);
  Show();
}

void CDialogPicture::OnDpiChanged(UINT dpi) {
  if (!m_picture || dpi == 0 || dpi == m_dpi) return;
  m_place.left = MulDiv(m_place.left, static_cast<int>(dpi), static_cast<int>(m_dpi));
  m_place.top = MulDiv(m_place.top, static_cast<int>(dpi), static_cast<int>(m_dpi));
  m_place.right = MulDiv(m_place.right, static_cast<int>(dpi), static_cast<int>(m_dpi));
  m_place.bottom = MulDiv(m_place.bottom, static_cast<int>(dpi), static_cast<int>(m_dpi));
  m_dpi = dpi;
  Show();
}

void CDialogPicture::Show() {
  RECT box = m_place;
  // A gap of 2 dialog units above the bar, whatever the layout does.
  RECT gap{0, 0, 0, 2};
  MapDialogRect(m_dialog, &gap);
  if (m_bar) box.bottom = std::min(box.bottom, PlaceOf(m_bar, m_dialog).top - gap.bottom);
  const int boxWidth = std::max(0L, box.right - box.left);
  const int boxHeight = std::max(0L, box.bottom - box.top);
  const PictureSize size = FitPicture(m_source.width, m_source.height, static_cast<uint32_t>(boxWidth),
                                      static_cast<uint32_t>(boxHeight));
  if (size.width == 0) return;
  HBITMAP bitmap = MakeBitmap(ScalePicture(m_source, size.width, size.height));
  if (!bitmap) return;
  const auto previous = reinterpret_cast<HBITMAP>(
      SendMessageW(m_picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  // The control hands back the bitmap it showed before, which is ours to
  // free: the one of the last layout, or none.
  if (previous && previous != bitmap) DeleteObject(previous);
  m_bitmap = bitmap;
  const int x = box.left + (boxWidth - static_cast<int>(size.width)) / 2;
  const int y = box.top + (boxHeight - static_cast<int>(size.height)) / 2;
  SetWindowPos(m_picture, nullptr, x, y, static_cast<int>(size.width),
               static_cast<int>(size.height), SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace gps
