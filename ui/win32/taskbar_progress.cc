#include "ui/win32/taskbar_progress.h"

#include <shobjidl.h>

#include "hid/win32/system_library.h"

namespace gps {
namespace {

using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
using CoUninitializeFn = void(WINAPI*)();
using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);

// Loaded once, on first use, and kept for the process.
HMODULE Ole32() {
  static const HMODULE module = LoadSystemLibrary(L"ole32.dll");
  return module;
}

}  // namespace

TaskbarProgress::~TaskbarProgress() {
  if (m_list) m_list->Release();
  if (m_comReady) {
    if (const auto uninit = SystemFunction<CoUninitializeFn>(Ole32(), "CoUninitialize")) uninit();
  }
}

UINT TaskbarProgress::ButtonCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

void TaskbarProgress::OnButtonCreated(HWND window) {
  m_window = window;
  if (m_list) return;  // Explorer restarted: the same list serves the new button
  if (!m_comReady) {
    const auto init = SystemFunction<CoInitializeExFn>(Ole32(), "CoInitializeEx");
    // S_FALSE: already initialised on this thread, which also needs its
    // CoUninitialize.
    m_comReady = init && SUCCEEDED(init(nullptr, COINIT_APARTMENTTHREADED));
    if (!m_comReady) return;
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
  m_list = list;
}

void TaskbarProgress::Show(int percent) {
  if (!m_list) return;
  m_list->SetProgressState(m_window, TBPF_NORMAL);
  m_list->SetProgressValue(m_window, static_cast<ULONGLONG>(percent), 100);
}

void TaskbarProgress::ShowFailed(int percent) {
  if (!m_list) return;
  // An update that stopped before anything showed still shows red.
  m_list->SetProgressValue(m_window, static_cast<ULONGLONG>(percent > 0 ? percent : 100), 100);
  m_list->SetProgressState(m_window, TBPF_ERROR);
}

void TaskbarProgress::Clear() {
  if (m_list) m_list->SetProgressState(m_window, TBPF_NOPROGRESS);
}

}  // namespace gps
