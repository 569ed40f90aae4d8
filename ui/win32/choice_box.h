// A question with answers of its own wording ("中斷更新", "繼續更新"), which a
// message box cannot give: a task dialog, from the common controls library
// of the system folder. Where that library has none (version 5 only), a
// message box with Yes/No (and Cancel) stands in, its buttons in the order
// of the answers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace gps {

struct Choice {
  int id;              // what AskChoice returns when it is chosen
  std::wstring label;  // the button's text
};

enum class ChoiceIcon { Warning, Question };

// Shows `text` over `owner` with one button per choice (at most three), the
// `defaultId` one focused, and returns the chosen id; IDCANCEL when the box
// was closed without a choice (Esc, the close box). While the task dialog is
// open, `*shown` (when given) is its window, so that the owner can take the
// question away (WithdrawChoice); otherwise null.
int AskChoice(HWND owner, const std::wstring& title, const std::wstring& text,
              const std::vector<Choice>& choices, int defaultId, ChoiceIcon icon,
              HWND* shown = nullptr);

// Closes the open question `shown` as its close box does: its
// AskChoice returns IDCANCEL.
void WithdrawChoice(HWND shown);

}  // namespace gps
