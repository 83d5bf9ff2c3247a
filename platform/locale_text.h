// Text in the locale selected at start-up (SelectUserLocale in code_page.h).
//
// On POSIX systems, text crossing between the program and the system (file
// names, arguments and console output) is in the codeset of that locale.
// Bytes that do not decode in that codeset survive widening as escapes
// (U+DC00 plus the byte) and turn back into the same bytes when narrowed, so a
// file whose name is not valid in the locale is still opened and still named.
// Windows takes names as UTF-16 (native_path.h); its narrow text is the C
// runtime locale's code page. The web page hands no text to a system.
#ifndef LUMENTRACE_PLATFORM_LOCALE_TEXT_H_
#define LUMENTRACE_PLATFORM_LOCALE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "text/wide_string.h"

// Widens narrow text (an argument, a directory entry) from the locale's codeset.
WideString WidenFromLocale(std::string_view narrow);

// Narrows text into the locale's codeset; escapes become their bytes again and
// a character the codeset cannot hold becomes '?'.
std::string NarrowToLocale(WideView text);

// Character classes of the selected locale, for the string operations in
// wide_string.h, which answer ASCII themselves: whether a character (not a
// surrogate) is white space, and its lower-case form (possibly beyond U+FFFF).
bool IsSpaceInLocale(char16_t c);
std::uint32_t LowerInLocale(char16_t c);

#endif  // LUMENTRACE_PLATFORM_LOCALE_TEXT_H_
