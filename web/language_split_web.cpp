// The web page's way into splitting a file by language: the list of a file's
// languages, then each language's .srt (convert/language_split.h), both of the
// input the page wrote (lumentrace_input), which stays for every call.
#include <emscripten.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert/language_split.h"
#include "platform/code_page.h"
#include "text/char_decoding.h"
#include "web/web_input.h"

// The output-name suffixes of the file's languages, one per line ("ko\nen"),
// in the order lumentrace_convert_language numbers them from 0; an empty text
// when the file is not split (it then converts as one file). The text stays
// valid until the next call.
extern "C" EMSCRIPTEN_KEEPALIVE const char* lumentrace_languages(const char* codePage) {
  ConnectTextToSystem();
  static std::string answer;
  answer.clear();
  for (const SamiLanguage& language : FindLanguages(WebInput(), CodePageDecoderFor(codePage))) {
    if (!answer.empty()) answer += '\n';
    answer += language.suffix;
  }
  return answer.c_str();
}

// Converts language `index` of the list above, as lumentrace_convert converts
// a whole file: `utf8` 0 gives the program's own output (UTF-16LE with a
// byte-order mark), 1 gives UTF-8. The .srt goes to the page whole; returns
// its number of cues, or -1 when the index names no language of the file.
extern "C" EMSCRIPTEN_KEEPALIVE std::int32_t lumentrace_convert_language(const char* codePage,
                                                                         std::int32_t utf8,
                                                                         size_t index) {
  ConnectTextToSystem();
  const std::string& input = WebInput();
  CodePageDecoder& decoder = CodePageDecoderFor(codePage);
  const std::vector<SamiLanguage> languages = FindLanguages(input, decoder);
  if (index >= languages.size()) return -1;
  std::int32_t cues = 0;
  HandOverSrt(ConvertLanguage(input, decoder, languages[index].className, &cues,
                              utf8 != 0 ? SrtEncoding::kUtf8 : SrtEncoding::kUtf16Le));
  return cues;
}
