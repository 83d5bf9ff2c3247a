// WideString: the program's string of UTF-16 code units, and the operations the
// converter needs on it. A "character" is one code unit throughout; lengths and
// indices count code units. Case mapping and white space follow the locale
// selected at start-up (IsSpaceInLocale and LowerInLocale in locale_text.h).
#ifndef LUMENTRACE_TEXT_WIDE_STRING_H_
#define LUMENTRACE_TEXT_WIDE_STRING_H_

#include <cstdint>
#include <string>
#include <string_view>

using WideString = std::u16string;
using WideView = std::u16string_view;

// Index of the first occurrence of `needle` at or after `start`, or -1.
std::int64_t Find(WideView text, WideView needle, std::int64_t start = 0);
// Index of the first character at or after `start` that is in `set`, or -1.
std::int64_t FindOneOf(WideView text, WideView set, std::int64_t start = 0);
// Index of the last occurrence of `c`, or -1.
std::int64_t ReverseFind(WideView text, char16_t c);

// Substrings, clamped to the text: a negative count gives an empty string, a
// count past the end gives everything that is there.
WideString Left(WideView text, std::int64_t count);
WideString Right(WideView text, std::int64_t count);
WideString Mid(WideView text, std::int64_t first, std::int64_t count);

// The character classes of the selected locale beyond ASCII, handed in by
// the platform layer (ConnectTextToSystem in platform/code_page.h): whether a
// character (not a surrogate) is white space, and its lower-case form
// (possibly beyond U+FFFF). Unconnected, only ASCII is known, as in the "C"
// locale.
struct CharClasses {
  bool (*isSpace)(char16_t c) = nullptr;
  std::uint32_t (*toLower)(char16_t c) = nullptr;
};
void UseCharClasses(const CharClasses& classes);

// IsWideSpace for a character beyond ASCII.
bool IsWideSpaceBeyondAscii(char16_t c);
// True for the characters the locale classifies as white space. ASCII is
// answered inline, without asking the locale: it is most of what a trim sees.
inline bool IsWideSpace(char16_t c) {
  if (c < 0x80) return c == u' ' || (c >= u'\t' && c <= u'\r');
  return IsWideSpaceBeyondAscii(c);
}
// The locale's lower-case form of one code unit (surrogates map to themselves).
char16_t ToLowerUnit(char16_t c);
// The same, with ASCII that is not an upper-case letter answered inline (every
// locale maps it to itself): this runs once per character of every tag.
inline char16_t ToLowerUnitInline(char16_t c) {
  if (c < 0x80 && !(c >= u'A' && c <= u'Z')) return c;
  return ToLowerUnit(c);
}

// Removes leading and trailing white space in place.
void Trim(WideString& text);
// Lowercases every character in place.
void MakeLower(WideString& text);
// Exact comparison; 0 when equal, otherwise the sign of the first difference.
int Compare(WideView a, WideView b);
// Comparison with both sides lowercased unit by unit; 0 when equal.
int CompareNoCase(WideView a, WideView b);

// Decimal form of a number, with '-' for negatives ("%d").
WideString FormatDecimal(std::int64_t value);
// Decimal form padded with leading zeros to at least `width` digits ("%02d",
// "%03d"); as with printf, a sign counts towards the width.
WideString FormatZeroPadded(std::int64_t value, int width);

// Widens plain ASCII text, for literals built into the program.
WideString FromAscii(std::string_view ascii);

#endif  // LUMENTRACE_TEXT_WIDE_STRING_H_
