#include "ui/win32/shutdown_block.h"

namespace gps {

void ShutdownBlock::Hold(HWND window, const std::wstring& reason) {
  Release();
  m_window = window;
  m_reason = reason;
  // Where the system has no reasons to show (Wine), the answer FALSE still
  // holds the session back.
  ShutdownBlockReasonCreate(window, reason.c_str());
}

void ShutdownBlock::Release() {
  if (!m_window) return;
  ShutdownBlockReasonDestroy(m_window);
  m_window = nullptr;
  m_reason.clear();
}

}  // namespace gps
