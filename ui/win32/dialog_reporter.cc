#include "ui/win32/dialog_reporter.h"

namespace gps {

void CDialogReporter::SetStatusText(std::string_view text) {
  SendMessageW(m_dialog, WM_APP_SET_STATUS, 0, reinterpret_cast<LPARAM>(&text));
}

void CDialogReporter::SetProgressRange(uint32_t upper) {
  SendMessageW(m_dialog, WM_APP_SET_RANGE, upper, 0);
}

void CDialogReporter::SetProgressPosition(uint32_t position) {
  SendMessageW(m_dialog, WM_APP_SET_POSITION, position, 0);
}

void CDialogReporter::ShowMessage(std::string_view text) {
  SendMessageW(m_dialog, WM_APP_SHOW_MESSAGE, 0, reinterpret_cast<LPARAM>(&text));
}

void CDialogReporter::StageBegins(JobStage stage) {
  SendMessageW(m_dialog, WM_APP_STAGE_BEGINS, static_cast<WPARAM>(stage), 0);
}

}  // namespace gps
