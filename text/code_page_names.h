// The names of the code page that ANSI input files are read in.
//
// Linux has no ANSI code page, so the program picks the one Windows would use
// for the locale's language and territory. An installed locale whose own
// codeset is a legacy one (ko_KR.EUC-KR, en_US.ISO-8859-15) is read in that
// codeset instead (SelectUserLocale in platform/code_page.h decides).
#ifndef LUMENTRACE_TEXT_CODE_PAGE_NAMES_H_
#define LUMENTRACE_TEXT_CODE_PAGE_NAMES_H_

#include <initializer_list>
#include <string>
#include <string_view>

// The name of the code page ANSI input is read in, such as "CP949" ("CP1252"
// until SelectUserLocale has run), and the setter SelectUserLocale uses.
const std::string& AnsiCodePageName();
void SetAnsiCodePageName(const std::string& codePage);

// True when `value` is one of `names`.
bool IsOneOfNames(std::string_view value, std::initializer_list<std::string_view> names);

// The Windows ANSI code page for a locale name such as "ko_KR.UTF-8",
// "sr_RS@latin" or "C"; CP1252 for every language without one of its own.
std::string AnsiCodePageForLocaleName(std::string_view localeName);

#endif  // LUMENTRACE_TEXT_CODE_PAGE_NAMES_H_
