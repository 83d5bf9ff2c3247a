// UTF-16 surrogates: the one place their arithmetic is written.
#ifndef LUMENTRACE_TEXT_UTF16_H_
#define LUMENTRACE_TEXT_UTF16_H_

#include <cstdint>

inline bool IsSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDFFF;
}
inline bool IsLeadSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool IsTrailSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}
// The two halves of a code point beyond U+FFFF.
inline char16_t LeadSurrogateOf(char32_t codePoint) {
  return static_cast<char16_t>(0xD7C0 + (codePoint >> 10));  // 0xD800 - (0x10000 >> 10)
}
inline char16_t TrailSurrogateOf(char32_t codePoint) {
  return static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
}
// The code point a lead and a trail surrogate stand for.
inline char32_t CombineSurrogates(char32_t lead, char32_t trail) {
  return 0x10000 + ((lead - 0xD800) << 10) + (trail - 0xDC00);
}

#endif  // LUMENTRACE_TEXT_UTF16_H_
