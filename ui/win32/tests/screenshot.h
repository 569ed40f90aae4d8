// Saves what a window shows on the screen as NAME.bmp in $GPS_SCREENSHOT_DIR
// (tests/wine/run.sh sets it and turns the files into PNG), for a person to
// look at; without that variable it does nothing.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace gps::test {

// True while the window or one of its controls still has something to paint.
inline bool PaintPending(HWND window) {
  if (GetUpdateRect(window, nullptr, FALSE)) return true;
  bool pending = false;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM param) -> BOOL {
        if (!GetUpdateRect(child, nullptr, FALSE)) return TRUE;
        *reinterpret_cast<bool*>(param) = true;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&pending));
  return pending;
}

inline void Screenshot(HWND window, const std::string& name) {
  const char* dir = std::getenv("GPS_SCREENSHOT_DIR");
  if (!dir || !*dir) return;
  // Painted anew by the thread that owns it (a box just shown may still be
  // laying out its buttons): the picture is taken once nothing is left to
  // paint, or after two seconds.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
  const DWORD start = GetTickCount();
  while (PaintPending(window) && GetTickCount() - start < 2000) Sleep(10);
  RECT rect{};
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;

  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as a BMP file keeps its rows
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = stride * static_cast<DWORD>(height);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                    DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();

  std::filesystem::create_directories(dir);
  std::ofstream out(std::filesystem::path(dir) / (name + ".bmp"), std::ios::binary);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + header.biSizeImage;
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&header), sizeof(header));
  out.write(static_cast<const char*>(bits), header.biSizeImage);

  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

}  // namespace gps::test
