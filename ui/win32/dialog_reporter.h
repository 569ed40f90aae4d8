// The update's reports, carried from the worker thread to the main dialog.
//
// Each of the operations is a synchronous request: SendMessageW of a
// private message to the dialog, which its user-interface thread serves from
// whatever loop it runs at the time (the main dialog's, the About box's or a
// message box's). The worker waits until the request has taken effect, so
// the user sees the texts and positions in the order the update sets them.
#pragma once

#include <windows.h>

#include <string_view>

#include "protocol/update_reporter.h"

namespace gps {

// The private messages; the texts travel as the job made them (UTF-8),
// lParam pointing at a std::string_view on the worker's stack, which lives
// until SendMessageW returns.
enum : UINT {
  WM_APP_SET_STATUS = WM_APP + 1,  // lParam: const std::string_view*
  WM_APP_SET_RANGE,                // wParam: upper bound
  WM_APP_SET_POSITION,             // wParam: position
  WM_APP_SHOW_MESSAGE,             // lParam: const std::string_view*
  WM_APP_WORKER_DONE,              // posted once, when the worker's job has ended
  WM_APP_STAGE_BEGINS,             // wParam: JobStage
};

class CDialogReporter : public UpdateReporter {
 public:
  explicit CDialogReporter(HWND dialog) : m_dialog(dialog) {}

  void SetStatusText(std::string_view text) override;
  void SetProgressRange(uint32_t upper) override;
  void SetProgressPosition(uint32_t position) override;
  void ShowMessage(std::string_view text) override;
  void StageBegins(JobStage stage) override;

 private:
  HWND m_dialog;
};

}  // namespace gps
