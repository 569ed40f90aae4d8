#include "ui/win32/choice_box.h"

#include <commctrl.h>

#include "hid/win32/system_library.h"

namespace gps {
namespace {

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// The message box's stand-in buttons, in the order of the choices.
int FallbackChoice(HWND owner, const std::wstring& title, const std::wstring& text,
                   const std::vector<Choice>& choices, int defaultId, ChoiceIcon icon) {
  const bool three = choices.size() >= 3;
  UINT style = (three ? MB_YESNOCANCEL : MB_YESNO) |
               (icon == ChoiceIcon::Warning ? MB_ICONWARNING : MB_ICONQUESTION);
  const int standIns[] = {IDYES, IDNO, IDCANCEL};
  const UINT defaults[] = {MB_DEFBUTTON1, MB_DEFBUTTON2, MB_DEFBUTTON3};
  for (size_t i = 0; i < choices.size() && i < 3; ++i)
    if (choices[i].id == defaultId) style |= defaults[i];
  const int answer = MessageBoxW(owner, text.c_str(), title.c_str(), style);
  for (size_t i = 0; i < choices.size() && i < 3; ++i)
    if (answer == standIns[i]) return choices[i].id;
  return IDCANCEL;
}

// Keeps the caller's window handle up to date while the dialog lives.
HRESULT CALLBACK Notified(HWND window, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
  auto* shown = reinterpret_cast<HWND*>(data);
  if (!shown) return S_OK;
  if (notification == TDN_CREATED) *shown = window;
  if (notification == TDN_DESTROYED) *shown = nullptr;
  return S_OK;
}

}  // namespace

void WithdrawChoice(HWND shown) {
  if (shown) PostMessageW(shown, WM_CLOSE, 0, 0);
}

int AskChoice(HWND owner, const std::wstring& title, const std::wstring& text,
              const std::vector<Choice>& choices, int defaultId, ChoiceIcon icon,
              HWND* shown) {
  const auto taskDialog = SystemFunction<TaskDialogIndirectFn>(
      LoadSystemLibrary(L"comctl32.dll"), "TaskDialogIndirect");
  if (!taskDialog) return FallbackChoice(owner, title, text, choices, defaultId, icon);

  std::vector<TASKDIALOG_BUTTON> buttons;
  for (const Choice& choice : choices) buttons.push_back({choice.id, choice.label.c_str()});
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.hwndParent = owner;
  // Esc and the close box answer IDCANCEL.
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.pszWindowTitle = title.c_str();
  config.pszMainIcon = icon == ChoiceIcon::Warning ? TD_WARNING_ICON : TD_INFORMATION_ICON;
  config.pszContent = text.c_str();
  config.cButtons = static_cast<UINT>(buttons.size());
  config.pButtons = buttons.data();
  config.nDefaultButton = defaultId;
  // A width of its own (in dialog units): left to itself, a task dialog with
  // a short text may put its buttons on rows of their own, some of them out
  // of sight (Wine).
  config.cxWidth = 260;
  config.pfCallback = Notified;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(shown);
  int chosen = IDCANCEL;
  const HRESULT result = taskDialog(&config, &chosen, nullptr, nullptr);
  if (shown) *shown = nullptr;
  if (FAILED(result)) return FallbackChoice(owner, title, text, choices, defaultId, icon);
  return chosen;
}

}  // namespace gps
