#include "ui/win32/text_line.h"

namespace gps {
namespace {

constexpr UINT kLineFormat = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;

int WidthOf(HDC dc, const std::wstring& text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// `text` with its part at [at, at + length) cut to `kept` characters, the
// cut marked by an ellipsis in the middle.
std::wstring CutMiddle(const std::wstring& text, size_t at, size_t length, size_t kept) {
  const size_t head = (kept + 1) / 2;
  const size_t tail = kept - head;
  return text.substr(0, at + head) + L"…" + text.substr(at + length - tail);
}

}  // namespace

std::wstring FittedText(HDC dc, int width, const std::wstring& text, const std::wstring& keep) {
  if (WidthOf(dc, text) <= width) return text;
  const size_t at = keep.empty() ? std::wstring::npos : text.find(keep);
  if (at != std::wstring::npos) {
    // The most characters of the part that still fit, found by halving.
    size_t low = 0;
    size_t high = keep.size() - 1;
    while (low < high) {
      const size_t mid = (low + high + 1) / 2;
      if (WidthOf(dc, CutMiddle(text, at, keep.size(), mid)) <= width) {
        low = mid;
      } else {
        high = mid - 1;
      }
    }
    const std::wstring cut = CutMiddle(text, at, keep.size(), low);
    // With the part down to a few characters and still too long, the end
    // goes as it would without a part to keep.
    if (low >= 4 || WidthOf(dc, cut) <= width) return cut;
  }
  // DT_MODIFYSTRING writes the shortened text back, with up to four more
  // characters than it had.
  std::wstring shown = text + std::wstring(4, L'\0');
  RECT place{0, 0, width, 1000};
  DrawTextW(dc, shown.data(), static_cast<int>(text.size()), &place,
            kLineFormat | DT_END_ELLIPSIS | DT_MODIFYSTRING | DT_CALCRECT);
  return shown.c_str();
}

void DrawTextLine(HDC dc, const RECT& place, HFONT font, const std::wstring& text,
                  COLORREF colour, const std::wstring& keep) {
  RECT area = place;
  FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour);
  const std::wstring shown = FittedText(dc, place.right - place.left, text, keep);
  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &area,
            kLineFormat | DT_END_ELLIPSIS);
  if (oldFont) SelectObject(dc, oldFont);
}

}  // namespace gps
