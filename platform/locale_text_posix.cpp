#include <climits>
#include <cwchar>
#include <cwctype>

#include "platform/locale_text.h"
#include "text/utf16.h"

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // U+DC00 + byte: a byte that did not decode

bool IsEscape(char16_t unit) {
  return unit >= kEscapeBase && unit <= kEscapeBase + 0xFF;
}

void AppendCodePoint(WideString& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    out.push_back(LeadSurrogateOf(c));
    out.push_back(TrailSurrogateOf(c));
  }
}

// True when the codeset writes `c` as exactly `bytes`.
bool NarrowsBackTo(char32_t c, std::string_view bytes) {
  if (bytes.size() == 1 && static_cast<unsigned char>(bytes[0]) < 0x80 &&
      c == static_cast<unsigned char>(bytes[0])) {
    return true;
  }
  char back[MB_LEN_MAX];
  std::mbstate_t state{};
  const size_t n = std::wcrtomb(back, static_cast<wchar_t>(c), &state);
  return n == bytes.size() && std::string_view(back, n) == bytes;
}

}  // namespace

WideString WidenFromLocale(std::string_view narrow) {
  WideString out;
  out.reserve(narrow.size());
  std::mbstate_t state{};
  size_t i = 0;
  while (i < narrow.size()) {
    wchar_t wide = 0;
    const size_t n = std::mbrtowc(&wide, narrow.data() + i, narrow.size() - i, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || wide < 0 ||
        static_cast<unsigned long>(wide) > 0x10FFFF || IsSurrogate(static_cast<char32_t>(wide))) {
      out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(narrow[i])));
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    const size_t length = n == 0 ? 1 : n;  // n is 0 for an embedded NUL
    if (!NarrowsBackTo(static_cast<char32_t>(wide), narrow.substr(i, length))) {
      // A codeset may give several byte sequences one character (WINDOWS-31J
      // does): only the one it writes back is taken as that character, so that
      // a name always opens the very file it was read from.
      out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(narrow[i])));
      ++i;
      continue;
    }
    AppendCodePoint(out, static_cast<char32_t>(wide));
    i += length;
  }
  return out;
}

std::string NarrowToLocale(WideView text) {
  // ASCII is the same byte in every codeset a locale may have: a path's
  // ASCII start (most often all of it) is copied as it is.
  size_t ascii = 0;
  while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
  std::string out(ascii, '\0');
  for (size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(text[i]);
  if (ascii == text.size()) return out;
  out.reserve(text.size());
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (size_t i = ascii; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
      continue;
    }
    if (IsEscape(unit)) {
      out.push_back(static_cast<char>(unit - kEscapeBase));
      continue;
    }
    char32_t c = unit;
    if (IsLeadSurrogate(unit) && i + 1 < text.size() && IsTrailSurrogate(text[i + 1])) {
      c = CombineSurrogates(unit, text[i + 1]);
      ++i;
    }
    const size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(c), &state);
    if (n == static_cast<size_t>(-1)) {
      out.push_back('?');
      state = std::mbstate_t{};
    } else {
      out.append(bytes, n);
    }
  }
  return out;
}

bool IsSpaceInLocale(char16_t c) {
  return std::iswspace(static_cast<wint_t>(c)) != 0;
}

std::uint32_t LowerInLocale(char16_t c) {
  // wint_t is 16 bits wide on Windows and 32 on Linux.
  return static_cast<std::uint32_t>(std::towlower(static_cast<wint_t>(c)));
}
