// The command-line program's help in the user's language: Traditional
// Chinese where the user's language is Chinese (the Windows readme sends its
// readers to --help), English elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace gps {

// The help in Traditional Chinese: the same options and exit statuses as
// HelpText().
std::string ChineseHelpText();

// True when `locale` (a POSIX locale name such as "zh_TW.UTF-8", or a
// Windows language tag such as "zh-TW") names Chinese.
bool IsChineseLocale(std::string_view locale);

// The help for this user: ChineseHelpText() or HelpText().
std::string HelpTextForUser();

}  // namespace gps
