#include "text/wide_string.h"

#include <cstdint>

#include "text/utf16.h"

namespace {

std::int64_t Clamp(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value < low ? low : (value > high ? high : value);
}

std::int64_t Length(WideView text) {
  return static_cast<std::int64_t>(text.size());
}

}  // namespace

std::int64_t Find(WideView text, WideView needle, std::int64_t start) {
  if (start < 0 || start > Length(text)) return -1;
  const size_t at = text.find(needle, static_cast<size_t>(start));
  return at == WideView::npos ? -1 : static_cast<std::int64_t>(at);
}

std::int64_t FindOneOf(WideView text, WideView set, std::int64_t start) {
  if (start < 0 || start > Length(text)) return -1;
  const size_t at = text.find_first_of(set, static_cast<size_t>(start));
  return at == WideView::npos ? -1 : static_cast<std::int64_t>(at);
}

std::int64_t ReverseFind(WideView text, char16_t c) {
  const size_t at = text.rfind(c);
  return at == WideView::npos ? -1 : static_cast<std::int64_t>(at);
}

WideString Left(WideView text, std::int64_t count) {
  return WideString(text.substr(0, static_cast<size_t>(Clamp(count, 0, Length(text)))));
}

WideString Right(WideView text, std::int64_t count) {
  const std::int64_t n = Clamp(count, 0, Length(text));
  return WideString(text.substr(static_cast<size_t>(Length(text) - n)));
}

WideString Mid(WideView text, std::int64_t first, std::int64_t count) {
  const std::int64_t begin = Clamp(first, 0, Length(text));
  const std::int64_t n = Clamp(count, 0, Length(text) - begin);
  return WideString(text.substr(static_cast<size_t>(begin), static_cast<size_t>(n)));
}

namespace {
CharClasses classes;
}  // namespace

void UseCharClasses(const CharClasses& given) {
  classes = given;
}

bool IsWideSpaceBeyondAscii(char16_t c) {
  if (IsSurrogate(c) || classes.isSpace == nullptr) return false;
  return classes.isSpace(c);
}

char16_t ToLowerUnit(char16_t c) {
  // Every tag character is lowercased, and most are ASCII that is not an
  // upper-case letter, which every locale maps to itself. Upper-case letters
  // still ask the locale: in Turkish, 'I' lowercases to U+0131.
  if (c < 0x80 && !(c >= u'A' && c <= u'Z')) return c;
  if (IsSurrogate(c)) return c;
  if (classes.toLower == nullptr) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
  const std::uint32_t lower = classes.toLower(c);
  // A mapping outside the 16-bit range cannot be stored in one unit; keep the original.
  return lower > 0xFFFF ? c : static_cast<char16_t>(lower);
}

void Trim(WideString& text) {
  size_t end = text.size();
  while (end > 0 && IsWideSpace(text[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && IsWideSpace(text[begin])) ++begin;
  if (end < text.size()) text.erase(end);
  if (begin > 0) text.erase(0, begin);
}

void MakeLower(WideString& text) {
  for (char16_t& c : text) c = ToLowerUnit(c);
}

int Compare(WideView a, WideView b) {
  const int r = a.compare(b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CompareNoCase(WideView a, WideView b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const char16_t x = ToLowerUnitInline(a[i]);
    const char16_t y = ToLowerUnitInline(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

WideString FormatZeroPadded(std::int64_t value, int width) {
  const bool negative = value < 0;
  // Work on the magnitude as unsigned so that the most negative value has one too.
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char16_t digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  WideString out;
  if (negative) out.push_back(u'-');
  // As with printf, the sign counts towards the width.
  for (int pad = n + (negative ? 1 : 0); pad < width; ++pad) out.push_back(u'0');
  while (n > 0) out.push_back(digits[--n]);
  return out;
}

WideString FormatDecimal(std::int64_t value) {
  return FormatZeroPadded(value, 1);
}

WideString FromAscii(std::string_view ascii) {
  return WideString(ascii.begin(), ascii.end());
}
