// The web page's way into the conversion: the bytes of one SAMI file in, the
// bytes of its .srt out, exactly as the command-line program converts the file
// (ConvertBytes). Code pages are defined by the page beforehand
// (lumentrace_define_code_page in platform/code_page_web.cpp).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/conversion.h"
#include "platform/code_page.h"
#include "text/char_decoding.h"
#include "text/code_page_names.h"

// Converts `size` bytes at `sami`, reading ANSI input in `codePage` ("CP949").
// `utf8` 0 gives the program's own output (UTF-16LE with a byte-order mark),
// 1 gives UTF-8. Returns the .srt bytes in a buffer from malloc, which the
// caller frees, with their count in *srtSize and the number of cues in *cues;
// null when memory runs out.
extern "C" unsigned char* lumentrace_convert(const unsigned char* sami, size_t size,
                                             const char* codePage, std::int32_t utf8,
                                             size_t* srtSize, std::int32_t* cues) {
  ConnectTextToSystem();
  std::string srt;
  {
    const std::string input(reinterpret_cast<const char*>(sami), size);
    srt = ConvertBytes(input, CodePageDecoderFor(codePage), cues,
                       utf8 != 0 ? SrtEncoding::kUtf8 : SrtEncoding::kUtf16Le);
  }
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
