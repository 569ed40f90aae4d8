// The dialog's lines of text under the bar, drawn by the dialog itself: one
// line each, whatever the system's static control would do with a text too
// long for its place.
#pragma once

#include <windows.h>

#include <string>

namespace gps {

// Draws `text` on one line in `place` of `dc`, in `colour` on the dialog's
// background. A text too long ends in an ellipsis; when `keep` is a part of
// it, that part is shortened in its middle instead, so that what stands
// before and after it stays readable (a file's size and date after its
// name).
void DrawTextLine(HDC dc, const RECT& place, HFONT font, const std::wstring& text,
                  COLORREF colour, const std::wstring& keep = {});

// The text `DrawTextLine` would show in `width` pixels of `dc` (with its
// font selected).
std::wstring FittedText(HDC dc, int width, const std::wstring& text, const std::wstring& keep);

}  // namespace gps
