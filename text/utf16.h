// UTF-16 surrogates, the one place their arithmetic is written, and the UTF-8
// form of a code point.
#ifndef LUMENTRACE_TEXT_UTF16_H_
#define LUMENTRACE_TEXT_UTF16_H_

#include <cstdint>
#include <string>
#include <string_view>

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

// Writes the UTF-8 form of a code point (not a surrogate, at most U+10FFFF)
// at `out` (room for four bytes); returns its end.
inline char* PutUtf8(char* out, char32_t c) {
  if (c < 0x80) {
    *out = static_cast<char>(c);
    return out + 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | c >> 6);
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return out + 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return out + 3;
  }
  out[0] = static_cast<char>(0xF0 | c >> 18);
  out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return out + 4;
}

// Writes units[i] as UTF-8 at `out` (room for four bytes) and moves `i` past
// it: a surrogate pair as one character, and a surrogate without its other
// half, which has no UTF-8 form, as U+FFFD. Returns the end.
inline char* PutUtf8Unit(char* out, const char16_t* units, size_t size, size_t& i) {
  char32_t c = units[i++];
  if (IsSurrogate(c)) {
    if (IsLeadSurrogate(c) && i < size && IsTrailSurrogate(units[i])) {
      c = CombineSurrogates(c, units[i++]);
    } else {
      c = 0xFFFD;
    }
  }
  return PutUtf8(out, c);
}

// Appends units as UTF-8, as PutUtf8Unit writes them.
inline void AppendUtf8(std::string& out, std::u16string_view units) {
  char bytes[4];
  for (size_t i = 0; i < units.size();) {
    out.append(bytes,
               static_cast<size_t>(PutUtf8Unit(bytes, units.data(), units.size(), i) - bytes));
  }
}

#endif  // LUMENTRACE_TEXT_UTF16_H_
