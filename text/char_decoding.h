// Decoding one character at a byte offset, for the input streams.
//
// Invalid input never stops decoding: UTF-8 gives one U+FFFD per maximal
// invalid subpart (the Unicode practice), a code page gives one U+FFFD per
// byte that does not start a valid character.
#ifndef LUMENTRACE_TEXT_CHAR_DECODING_H_
#define LUMENTRACE_TEXT_CHAR_DECODING_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr char32_t kReplacementChar = 0xFFFD;
// U+FFFF, which the readers return like the end of input (WEOF as a 16-bit
// character), though the input goes on after it.
constexpr char16_t kEndOfInput = 0xFFFF;

struct DecodedChar {
  char32_t codePoint;
  std::uint32_t length;  // bytes consumed, at least 1
};

// Decodes the UTF-8 character at `p` (`available` > 0 bytes).
DecodedChar DecodeUtf8(const unsigned char* p, size_t available);

// True when DecodeUtf8's answer at `p` is an error: a U+FFFD that was not
// written out in full (EF BF BD).
inline bool IsUtf8Error(const unsigned char* p, const DecodedChar& c) {
  return c.codePoint == kReplacementChar && !(c.length == 3 && p[0] == 0xEF);
}

// Checks the `size` bytes at `p` as UTF-8 from `from` until at least `to`
// (runs of ASCII eight bytes a step). Returns where the check stopped, the end
// of the character `to` lies in, or kInvalidUtf8 at the first invalid sequence.
constexpr size_t kInvalidUtf8 = ~size_t{0};
size_t CheckUtf8(const unsigned char* p, size_t size, size_t from, size_t to);

// True when the bytes are well-formed UTF-8 from start to end (pure ASCII is).
inline bool IsValidUtf8(const unsigned char* p, size_t size) {
  return CheckUtf8(p, size, 0, size) != kInvalidUtf8;
}

// The commonest characters beyond ASCII, read inline by the bulk readers: the
// length of a two- or three-byte UTF-8 character as DecodeUtf8 takes it (no
// overlong forms, no surrogates) other than U+FFFF, which ends a read, with
// its unit in `unit`; 0 for anything else, left to DecodeUtf8.
inline size_t PlainUtf8Length(const unsigned char* p, size_t available, char16_t& unit) {
  const unsigned char b0 = p[0];
  if (b0 >= 0xE0 && b0 <= 0xEF) {  // most of CJK, Hangul among it
    if (available < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return 0;
    const unsigned value = (b0 & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    // Overlong forms decode below U+0800, and surrogates (which only ED
    // reaches) to U+D800-U+DFFF: both are errors, as U+FFFF ends a read.
    if (value < 0x800 || value - 0xD800u < 0x800 || value == kEndOfInput) return 0;
    unit = static_cast<char16_t>(value);
    return 3;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (available < 2 || (p[1] & 0xC0) != 0x80) return 0;
    unit = static_cast<char16_t>((b0 & 0x1Fu) << 6 | (p[1] & 0x3Fu));
    return 2;
  }
  return 0;
}

// The system's own decoder for a code page (platform/code_page.h), opaque
// here. Its answer for a byte sequence is a code point or one of these
// markers, which both lie beyond U+10FFFF.
struct SystemConverter;
constexpr std::uint32_t kInvalid = 0xFFFFFFFFu;     // the bytes form no character
constexpr std::uint32_t kIncomplete = 0xFFFFFFFEu;  // the bytes only begin one

// How the system decodes code pages, handed in by the platform layer
// (ConnectTextToSystem in platform/code_page.h) before the first decoder is
// made: open a converter for a code page name (null when unknown), ask it
// what 1 to 4 bytes form on their own (a code point, kInvalid or
// kIncomplete), close it. Unconnected, every code page decodes as CP1252's
// ASCII half, with every other byte invalid.
struct SystemConverterCalls {
  SystemConverter* (*open)(const std::string& codePage) = nullptr;
  std::uint32_t (*ask)(SystemConverter* converter, const unsigned char* bytes,
                       size_t size) = nullptr;
  void (*close)(SystemConverter* converter) = nullptr;
};
void UseSystemConverter(const SystemConverterCalls& calls);

// Marks the single-byte table of a decoder whose converter is not open yet.
constexpr std::uint32_t kNotAsked = 0xFFFFFFFDu;

struct PlainCodePageUnits;

// A code page decoder: the system answers for each byte sequence once, and
// the answers are kept in tables, so that decoding is a lookup. Each
// character is decoded on its own, with no composition across characters.
// Nothing is asked of the system before the first character is decoded: most
// files are UTF-8 or UTF-16 and never need the code page, and opening a
// converter and filling its table costs more than converting a small file.
// The table of two-byte characters is filled one lead byte at a time, as the
// lead bytes turn up.
struct CodePageDecoder {
  CodePageDecoder() { single.fill(kNotAsked); }
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;
  ~CodePageDecoder();  // closes the converter

  std::string codePage;  // the name the converter is opened with
  SystemConverter* converter = nullptr;
  bool utf8 = false;  // the code page is UTF-8 itself (65001 on Windows): read as UTF-8
  std::array<std::uint32_t, 256> single;
  std::array<std::unique_ptr<std::array<std::uint32_t, 256>>, 256> pairs;
  std::unique_ptr<PlainCodePageUnits> plain;  // made when a bulk reader first asks
};

// The decoder for a code page name, made on first use and kept for the life
// of the process. Falls back to CP1252 when the system does not know the name
// (found out when the first character is decoded).
CodePageDecoder& CodePageDecoderFor(const std::string& codePage);

// Decodes the character at `p` (`available` > 0 bytes) in the decoder's code page.
DecodedChar DecodeCodePage(CodePageDecoder& decoder, const unsigned char* p, size_t available);

// The characters of a code page that the bulk readers take inline, as the
// units DecodeCodePage gives them: those of one or two bytes that decode to a
// unit beyond ASCII other than U+FFFF. Anything else is 0 here (ASCII, an
// invalid or incomplete sequence, a character beyond U+FFFF) and left to
// DecodeCodePage. The two-byte characters are filled from the decoder's
// tables one lead byte at a time, as the lead bytes turn up.
struct PlainCodePageUnits {
  std::array<char16_t, 256> single;
  std::array<bool, 256> rowFilled;    // pairs[lead * 256 + ...] holds the lead byte's characters
  std::array<char16_t, 65536> pairs;  // by lead * 256 + trail
};

// The decoder's plain units, made (and the converter opened) on first use.
PlainCodePageUnits& PlainUnitsOf(CodePageDecoder& decoder);
void FillPlainRow(CodePageDecoder& decoder, unsigned char lead);

// The length of the plain character at `p` (`available` > 0 bytes, the first
// beyond ASCII), with its unit in `unit`; 0 when it is not one.
inline size_t PlainCodePageLength(CodePageDecoder& decoder, PlainCodePageUnits& plain,
                                  const unsigned char* p, size_t available, char16_t& unit) {
  const unsigned char lead = p[0];
  const char16_t one = plain.single[lead];
  if (one != 0) {
    unit = one;
    return 1;
  }
  if (available < 2) return 0;
  char16_t two = plain.pairs[size_t{lead} << 8 | p[1]];
  if (two == 0) {
    if (plain.rowFilled[lead]) return 0;
    FillPlainRow(decoder, lead);
    two = plain.pairs[size_t{lead} << 8 | p[1]];
    if (two == 0) return 0;
  }
  unit = two;
  return 2;
}

#endif  // LUMENTRACE_TEXT_CHAR_DECODING_H_
