#include "ui/win32/taskbar_progress.h"

#include <shobjidl.h>

#include "ui/win32/com_calls.h"

namespace gps {

TaskbarProgress::~TaskbarProgress() {
  if (list_) list_->Release();
  if (comReady_) {
    if (const auto uninit = SystemFunction<CoUninitializeFn>(Ole32(), "CoUninitialize")) uninit();
  }
}

UINT TaskbarProgress::ButtonCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

void TaskbarProgress::OnButtonCreated(HWND window) {
  window_ = window;
  if (list_) return;  // Explorer restarted: the same list serves the new button
  if (!comReady_) {
    const auto init = SystemFunction<CoInitializeExFn>(Ole32(), "CoInitializeEx");
    // S_FALSE: already initialised on this thread, which also needs its
    // CoUninitialize.
    comReady_ = init && SUCCEEDED(init(nullptr, COINIT_APARTMENTTHREADED));
    if (!comReady_) return;
  }
  const auto create = SystemFunction<CoCreateInstanceFn>(Ole32(), "CoCreateInstance");
  if (!create) return;
  ITaskbarList3* list = nullptr;
  if (FAILED(create(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                    reinterpret_cast<void**>(&list))))
    return;
  if (FAILED(list->HrInit())) {
    list->Release();
    return;
  }
  list_ = list;
}

void TaskbarProgress::Show(int percent) {
  if (!list_) return;
  list_->SetProgressState(window_, TBPF_NORMAL);
  list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent), 100);
}

void TaskbarProgress::ShowFailed(int percent) {
  if (!list_) return;
  // An update that stopped before anything showed still shows red.
  list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent > 0 ? percent : 100), 100);
  list_->SetProgressState(window_, TBPF_ERROR);
}

void TaskbarProgress::Clear() {
  if (list_) list_->SetProgressState(window_, TBPF_NOPROGRESS);
}

}  // namespace gps
