#pragma once

#include <string_view>

// The system language, as far as the mail writer cares: it picks the
// character set of encoded header words.
enum class TPlatformLanguage { Japanese, ChineseSimplified, ChineseOther, Korean, Other };

// The language named by the first non-empty of LC_ALL, LC_MESSAGES and LANG:
// "ja*" Japanese, "zh_CN*"/"zh_SG*" Chinese simplified, other "zh*" Chinese
// other, "ko*" Korean. No value, "C" and "POSIX" (also with a ".codeset" or
// "@modifier" behind them) give Japanese, the language the system is made
// for; anything else is Other.
TPlatformLanguage LanguageFromLocaleNames(std::string_view lcAll, std::string_view lcMessages,
                                          std::string_view lang);

// The language of this process, from its environment.
TPlatformLanguage PlatformLanguage();
