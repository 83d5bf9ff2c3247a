// UTF-16LE test input and expected output built from 16-bit units, so that a
// test can hold any unit (a lone surrogate, U+FFFF) where UTF-8 text could not.
#ifndef LUMENTRACE_TESTS_SUPPORT_UTF16_BYTES_H_
#define LUMENTRACE_TESTS_SUPPORT_UTF16_BYTES_H_

#include <string>

// The UTF-16LE bytes of the units, with no byte-order mark.
inline std::string Utf16Bytes(const std::u16string& units) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

#endif  // LUMENTRACE_TESTS_SUPPORT_UTF16_BYTES_H_
