// The web page's way into splitting a file by language: the list of a file's
// languages, then each language's .srt (convert/language_split.h). Exported
// with EMSCRIPTEN_KEEPALIVE, so that the build's export list need not name them.
#include <emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "convert/language_split.h"
#include "platform/code_page.h"
#include "text/char_decoding.h"

// The output-name suffixes of the file's languages, one per line ("ko\nen"),
// in the order lumentrace_convert_language numbers them from 0; an empty text
// when the file is not split (it then converts as one file). The text stays
// valid until the next call.
extern "C" EMSCRIPTEN_KEEPALIVE const char* lumentrace_languages(const unsigned char* sami,
                                                                 size_t size,
                                                                 const char* codePage) {
  ConnectTextToSystem();
  static std::string answer;
  answer.clear();
  const std::string input(reinterpret_cast<const char*>(sami), size);
  for (const SamiLanguage& language : FindLanguages(input, CodePageDecoderFor(codePage))) {
    if (!answer.empty()) answer += '\n';
    answer += language.suffix;
  }
  return answer.c_str();
}

// Converts language `index` of the list above, as lumentrace_convert converts
// a whole file: `utf8` 0 gives the program's own output (UTF-16LE with a
// byte-order mark), 1 gives UTF-8; the .srt bytes in a buffer from malloc,
// which the caller frees, their count in *srtSize and the number of cues in
// *cues. Null when the index names no language of the file or memory runs out.
extern "C" EMSCRIPTEN_KEEPALIVE unsigned char* lumentrace_convert_language(
    const unsigned char* sami, size_t size, const char* codePage, std::int32_t utf8, size_t index,
    size_t* srtSize, std::int32_t* cues) {
  ConnectTextToSystem();
  std::string srt;
  {
    const std::string input(reinterpret_cast<const char*>(sami), size);
    CodePageDecoder& decoder = CodePageDecoderFor(codePage);
    const std::vector<SamiLanguage> languages = FindLanguages(input, decoder);
    if (index >= languages.size()) return nullptr;
    srt = ConvertLanguage(input, decoder, languages[index].className, cues,
                          utf8 != 0 ? SrtEncoding::kUtf8 : SrtEncoding::kUtf16Le);
  }
  auto* out = static_cast<unsigned char*>(std::malloc(srt.empty() ? 1 : srt.size()));
  if (out == nullptr) return nullptr;
  std::memcpy(out, srt.data(), srt.size());
  *srtSize = srt.size();
  return out;
}
