#include "ui/win32/choice_box.h"

#include <commctrl.h>

#include "hid/system_library_win32.h"

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

}  // namespace

int AskChoice(HWND owner, const std::wstring& title, const std::wstring& text,
              const std::vector<Choice>& choices, int defaultId, ChoiceIcon icon) {
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
  int chosen = IDCANCEL;
  if (FAILED(taskDialog(&config, &chosen, nullptr, nullptr)))
    return FallbackChoice(owner, title, text, choices, defaultId, icon);
  return chosen;
}

}  // namespace gps
