// The web page's way into the conversion: the bytes of one SAMI file in, the
// bytes of its .srt out, exactly as the command-line program converts the file
// (ConvertBytes). Code pages are defined by the page beforehand
// (lumentrace_define_code_page in platform/code_page_web.cpp).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/file_conversion.h"
#include "text/char_decoding.h"
#include "text/code_page_names.h"
#include "web/utf8_srt.h"

std::string Utf8SrtFromProgramSrt(const std::string& utf16) {
  std::string out;
  out.reserve(utf16.size());
  const size_t units = utf16.size() / 2;
  auto unitAt = [&utf16](size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(utf16[2 * i])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(utf16[2 * i + 1])) << 8;
  };
  size_t i = units > 0 && unitAt(0) == 0xFEFF ? 1 : 0;
  while (i < units) {
    std::uint32_t c = unitAt(i++);
    if (c >= 0xD800 && c <= 0xDBFF && i < units && unitAt(i) >= 0xDC00 && unitAt(i) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unitAt(i++) - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Converts `size` bytes at `sami`, reading ANSI input in `codePage` ("CP949").
// `utf8` 0 gives the program's own output (UTF-16LE with a byte-order mark),
// 1 gives UTF-8. Returns the .srt bytes in a buffer from malloc, which the
// caller frees, with their count in *srtSize and the number of cues in *cues;
// null when memory runs out.
extern "C" unsigned char* lumentrace_convert(const unsigned char* sami, size_t size,
                                             const char* codePage, std::int32_t utf8,
                                             size_t* srtSize, std::int32_t* cues) {
  std::string srt;
  {
    const std::string input(reinterpret_cast<const char*>(sami), size);
    srt = ConvertBytes(input, CodePageDecoderFor(codePage), cues);
  }
  if (utf8 != 0) srt = Utf8SrtFromProgramSrt(srt);
  auto* out = static_cast<unsigned char*>(std::malloc(srt.empty() ? 1 : srt.size()));
  if (out == nullptr) return nullptr;
  std::memcpy(out, srt.data(), srt.size());
  *srtSize = srt.size();
  return out;
}

// The code page ANSI input is read in under a locale such as "ko_KR", with the
// same table as the Linux program's; the page presets its choice with it.
extern "C" const char* lumentrace_code_page_for_locale(const char* localeName) {
  static std::string answer;
  answer = AnsiCodePageForLocaleName(localeName);
  return answer.c_str();
}
