// Text in the C runtime's locale on Windows. The system itself takes UTF-16
// (see native_path_win32.cpp); narrow text is what console output redirected
// to a file or pipe becomes, in the locale's code page.
#include <windows.h>

#include <cwctype>
#include <string>

#include "platform/locale_text.h"

// The bytes msvcrt's wprintf would produce for `text` in the current locale,
// except that it stops at the first character the code page lacks, where
// this writes '?' and goes on.
std::string NarrowToLocale(WideView text) {
  std::string bytes;
  UINT codePage = ___lc_codepage_func();
  if (codePage == 0) {
    // The "C" locale passes characters up to U+00FF through as single bytes.
    for (char16_t c : text) bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return bytes;
  }
  std::wstring wide(text.begin(), text.end());
  if (wide.empty()) return bytes;
  // UTF-8 and a few other code pages refuse a default character.
  bool takesDefault = codePage != CP_UTF8 && codePage != CP_UTF7 && codePage < 50000;
  const char* fallback = takesDefault ? "?" : nullptr;
  int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, fallback, nullptr);
  if (length <= 0) return bytes;
  bytes.resize(static_cast<size_t>(length));
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), length,
                      fallback, nullptr);
  return bytes;
}

// The reverse of NarrowToLocale: the locale's code page (Latin-1 in the "C"
// locale) widened by the system; a byte that does not decode becomes U+FFFD.
WideString WidenFromLocale(std::string_view narrow) {
  WideString wide;
  const UINT codePage = ___lc_codepage_func();
  if (codePage == 0) {
    for (char c : narrow) wide.push_back(static_cast<unsigned char>(c));
    return wide;
  }
  if (narrow.empty() || narrow.size() > 0x7FFFFFFF) return wide;
  const int size = static_cast<int>(narrow.size());
  const int length = MultiByteToWideChar(codePage, 0, narrow.data(), size, nullptr, 0);
  if (length <= 0) return wide;
  std::wstring units(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, narrow.data(), size, units.data(), length);
  for (wchar_t unit : units) wide.push_back(static_cast<char16_t>(unit));
  return wide;
}

bool IsSpaceInLocale(char16_t c) {
  return std::iswspace(static_cast<wint_t>(c)) != 0;
}

std::uint32_t LowerInLocale(char16_t c) {
  // wint_t is 16 bits wide on Windows and 32 on Linux.
  return static_cast<std::uint32_t>(std::towlower(static_cast<wint_t>(c)));
}
