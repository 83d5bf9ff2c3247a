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

struct DecodedChar {
  char32_t codePoint;
  std::uint32_t length;  // bytes consumed, at least 1
};

// Decodes the UTF-8 character at `p` (`available` > 0 bytes).
DecodedChar DecodeUtf8(const unsigned char* p, size_t available);

// True when the bytes are well-formed UTF-8 from start to end (pure ASCII is).
bool IsValidUtf8(const unsigned char* p, size_t size);

// The system's own decoder for a code page (platform/code_page.h), opaque
// here. Its answer for a byte sequence is a code point or one of these
// markers, which both lie beyond U+10FFFF.
struct SystemConverter;
constexpr std::uint32_t kInvalid = 0xFFFFFFFFu;     // the bytes form no character
constexpr std::uint32_t kIncomplete = 0xFFFFFFFEu;  // the bytes only begin one

// A code page decoder: the system answers for each byte sequence once, and
// the answers are kept in tables, so that decoding is a lookup. Each
// character is decoded on its own, with no composition across characters.
struct CodePageDecoder {
  CodePageDecoder() = default;
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;
  ~CodePageDecoder();  // closes the converter

  SystemConverter* converter = nullptr;
  bool utf8 = false;  // the code page is UTF-8 itself (65001 on Windows): read as UTF-8
  std::array<std::uint32_t, 256> single{};
  std::array<std::unique_ptr<std::array<std::uint32_t, 256>>, 256> pairs;
};

// The decoder for a code page name, made on first use and kept for the life
// of the process. Falls back to CP1252 when the system does not know the name.
CodePageDecoder& CodePageDecoderFor(const std::string& codePage);

// Decodes the character at `p` (`available` > 0 bytes) in the decoder's code page.
DecodedChar DecodeCodePage(CodePageDecoder& decoder, const unsigned char* p, size_t available);

#endif  // LUMENTRACE_TEXT_CHAR_DECODING_H_
