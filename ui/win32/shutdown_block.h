// Holds Windows' shutdown, restart and log-off back while an update writes
// the device: a restart halfway leaves the device without a database.
#pragma once

#include <windows.h>

#include <string>

namespace gps {

class ShutdownBlock {
 public:
  ShutdownBlock() = default;
  ~ShutdownBlock() { Release(); }
  ShutdownBlock(const ShutdownBlock&) = delete;
  ShutdownBlock& operator=(const ShutdownBlock&) = delete;

  // From now on the shutdown screen names `window` with `reason`, and the
  // window answers WM_QUERYENDSESSION with FALSE (see HeldBack).
  void Hold(HWND window, const std::wstring& reason);
  void Release();

  // True while held: the answer to WM_QUERYENDSESSION is FALSE.
  bool HeldBack() const { return m_window != nullptr; }
  // What the shutdown screen shows while held; empty otherwise.
  const std::wstring& Reason() const { return m_reason; }

 private:
  HWND m_window = nullptr;
  std::wstring m_reason;
};

}  // namespace gps
