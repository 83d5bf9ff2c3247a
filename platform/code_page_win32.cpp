// The code page that ANSI input is read in, and Windows' own decoding of it.
#include <windows.h>

#include <clocale>
#include <cstring>
#include <string>

#include "platform/code_page.h"
#include "platform/locale_text.h"
#include "text/char_decoding.h"
#include "text/code_page_names.h"
#include "text/utf16.h"

namespace {

// "CP949" -> 949, "UTF-8" -> 65001; 0 for anything else.
UINT CodePageNumber(const std::string& name) {
  if (name == "UTF-8") return CP_UTF8;
  if (name.size() < 3 || name.size() > 8 || name.compare(0, 2, "CP") != 0) return 0;
  UINT number = 0;
  for (size_t i = 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + static_cast<UINT>(name[i] - '0');
  }
  return number;
}

std::string CodePageName(UINT number) {
  if (number == CP_UTF8) return "UTF-8";
  return "CP" + std::to_string(number);
}

// One character out of MultiByteToWideChar's answer, or kInvalid when the
// bytes made none or more than one.
std::uint32_t OneCharacter(const wchar_t* units, int count) {
  if (count == 1 && !IsSurrogate(units[0])) return static_cast<std::uint32_t>(units[0]);
  if (count == 2 && IsLeadSurrogate(units[0]) && IsTrailSurrogate(units[1])) {
    return CombineSurrogates(units[0], units[1]);
  }
  return kInvalid;
}

// The code page of the C runtime's locale after setlocale(LC_ALL, ""): it is
// named "Language_Country.CodePage" (such as "Korean_Korea.949"). Where it
// names none, the system's ANSI code page.
std::string UserAnsiCodePage() {
  const char* locale = std::setlocale(LC_CTYPE, nullptr);
  const char* dot = locale != nullptr ? std::strrchr(locale, '.') : nullptr;
  if (dot != nullptr && dot[1] != '\0') {
    UINT number = 0;
    const char* digit = dot + 1;
    while (*digit >= '0' && *digit <= '9' && number < 100000) {
      number = number * 10 + static_cast<UINT>(*digit++ - '0');
    }
    if (*digit == '\0' && number != 0) return CodePageName(number);
  }
  const UINT runtime = ___lc_codepage_func();
  if (runtime != 0) return CodePageName(runtime);
  return CodePageName(GetACP());
}

}  // namespace

void SelectUserLocale() {
  ConnectTextToSystem();
  std::setlocale(LC_ALL, "");
  SetAnsiCodePageName(UserAnsiCodePage());
}

struct SystemConverter {
  UINT codePage;
};

SystemConverter* OpenSystemConverter(const std::string& codePage) {
  const UINT number = CodePageNumber(codePage);
  if (number == 0 || !IsValidCodePage(number)) return nullptr;
  return new SystemConverter{number};
}

void CloseSystemConverter(SystemConverter* converter) {
  delete converter;
}

std::uint32_t AskSystemConverter(SystemConverter* converter, const unsigned char* bytes,
                                 size_t size) {
  const UINT number = converter->codePage;
  if (size == 0 || size > 4) return kInvalid;
  // A lead byte on its own is the first half of a character: the decoder
  // asks again with the byte after it.
  if (size == 1 && number != CP_UTF8 && IsDBCSLeadByteEx(number, bytes[0])) return kIncomplete;
  const char* input = reinterpret_cast<const char*>(bytes);
  wchar_t units[4];
  int count =
      MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, input, static_cast<int>(size), units, 4);
  if (count > 0) return OneCharacter(units, count);
  if (GetLastError() != ERROR_NO_UNICODE_TRANSLATION || size != 1) return kInvalid;
  // A single byte Windows rejects as invalid still reads as its own table
  // says (CP949 0xFF gives U+F8F7), as a program reading the file through
  // the ANSI functions sees it. A lead byte with a bad trail byte is one
  // invalid character here, so that only the lead byte is lost.
  count = MultiByteToWideChar(number, 0, input, 1, units, 4);
  return count > 0 ? OneCharacter(units, count) : kInvalid;
}

void ConnectTextToSystem() {
  UseSystemConverter({OpenSystemConverter, AskSystemConverter, CloseSystemConverter});
  UseCharClasses({IsSpaceInLocale, LowerInLocale});
}
