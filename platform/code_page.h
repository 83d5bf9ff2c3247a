// The user's locale, and the system's own decoding of code pages: iconv on
// POSIX systems, MultiByteToWideChar on Windows, the browser's TextDecoder
// (through tables the page hands in) in the web page.
#ifndef LUMENTRACE_PLATFORM_CODE_PAGE_H_
#define LUMENTRACE_PLATFORM_CODE_PAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/char_decoding.h"

// Selects the user's default locale (on POSIX systems its character type, the
// one category the program's behaviour depends on) and works out the ANSI
// code page from it (SetAnsiCodePageName in text/code_page_names.h). Call
// once, first thing. The web page has no user locale: it names the code page
// of each conversion itself, so there this only keeps the default.
void SelectUserLocale();

// Hands the portable text code this platform's code page converter and the
// locale's character classes (UseSystemConverter, UseCharClasses). Every
// program calls it once before it decodes or compares text; SelectUserLocale
// does so itself.
void ConnectTextToSystem();

// Opens the decoder for a code page named like "CP949"; null when the system
// does not know it.
SystemConverter* OpenSystemConverter(const std::string& codePage);
void CloseSystemConverter(SystemConverter* converter);

// What the `size` bytes (1 to 4) form on their own, from a fresh state: a
// code point, kInvalid, or kIncomplete when they only begin a character.
std::uint32_t AskSystemConverter(SystemConverter* converter, const unsigned char* bytes,
                                 size_t size);

#endif  // LUMENTRACE_PLATFORM_CODE_PAGE_H_
