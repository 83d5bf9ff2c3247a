// The web page's way into the conversion: the bytes of one SAMI file in, the
// bytes of its .srt out, exactly as the command-line program converts the file.
// Code pages are defined by the page beforehand (lumentrace_define_code_page in
// platform/code_page_web.cpp).
//
// The page writes a file straight into the buffer lumentrace_input gives
// (no copy of it is made here), asks what the bytes are (lumentrace_inspect),
// then converts them; the .srt leaves through lumentrace_take_srt as the
// writer hands it over (1 MiB at a time for a large one), so that the .srt is
// never whole in this memory and a film as large as the memory holds converts.
#include <emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "convert/conversion.h"
#include "platform/code_page.h"
#include "text/char_decoding.h"
#include "text/code_page_names.h"
#include "web/web_input.h"

// Hands `size` bytes of .srt at `bytes` to the page, which copies them out
// before the call returns.
EM_JS(void, lumentrace_take_srt, (const char* bytes, size_t size),
      { Module["takeSrt"](bytes >>> 0, size >>> 0); });
// Drops what was handed over for this .srt: the writer starts it again.
EM_JS(void, lumentrace_drop_srt, (), { Module["dropSrt"](); });

namespace {

SrtSink PageSink() {
  SrtSink sink;
  sink.write = [](void*, const char* bytes, size_t size) { lumentrace_take_srt(bytes, size); };
  sink.restart = [](void*) { lumentrace_drop_srt(); };
  return sink;
}

}  // namespace

std::string& WebInput() {
  static std::string input;
  return input;
}

void HandOverSrt(const std::string& srt) {
  lumentrace_take_srt(srt.data(), srt.size());
}

bool HasSyncTag(const unsigned char* bytes, size_t size) {
  static const char kWord[] = "<sync";
  for (size_t step = 1; step <= 2; ++step) {
    if (size <= 4 * step) continue;
    const unsigned char* end = bytes + size - 4 * step;
    for (const unsigned char* p = bytes;; ++p) {
      p = static_cast<const unsigned char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
      if (p == nullptr) break;
      size_t k = 1;
      while (k < 5 && (p[k * step] | 0x20) == kWord[k]) ++k;
      if (k == 5) return true;
    }
  }
  return false;
}

// Room for the next file's `size` bytes, which the page writes in place. Null
// when the memory cannot hold them (asked first, since a failed allocation
// would stop the whole instance).
extern "C" EMSCRIPTEN_KEEPALIVE unsigned char* lumentrace_input(size_t size) {
  std::string& input = WebInput();
  input = std::string();
  void* room = std::malloc(size + (1 << 20));
  if (room == nullptr) return nullptr;
  std::free(room);
  input.resize(size);
  return reinterpret_cast<unsigned char*>(input.data());
}

// What the page tells the user about the input: kReadInCodePage when its
// first byte makes it ANSI and it is not valid UTF-8 (it is then read in the
// code page), kHasSyncTag when it holds a "<sync" in any case, in one byte or
// in two a letter (a file without one is no SAMI file).
extern "C" EMSCRIPTEN_KEEPALIVE std::int32_t lumentrace_inspect() {
  const std::string& input = WebInput();
  const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
  std::int32_t found = 0;
  if (EncodingOfFirstByte(input.empty() ? 0 : bytes[0]) == EncodingAnsi &&
      !IsValidUtf8(bytes, input.size())) {
    found |= kReadInCodePage;
  }
  if (HasSyncTag(bytes, input.size())) found |= kHasSyncTag;
  return found;
}

// Converts the input (which it uses up), reading ANSI input in `codePage`
// ("CP949"). `utf8` 0 gives the program's own output (UTF-16LE with a
// byte-order mark), 1 gives UTF-8. Returns the number of cues.
extern "C" EMSCRIPTEN_KEEPALIVE std::int32_t lumentrace_convert(const char* codePage,
                                                                std::int32_t utf8) {
  ConnectTextToSystem();
  std::string& input = WebInput();
  const SourceEncoding encoding =
      EncodingOfFirstByte(input.empty() ? 0 : static_cast<unsigned char>(input[0]));
  std::string sami = std::move(input);
  input = std::string();
  return ConvertSami(std::move(sami), encoding, CodePageDecoderFor(codePage), PageSink(),
                     utf8 != 0 ? SrtEncoding::kUtf8 : SrtEncoding::kUtf16Le);
}

// The code page ANSI input is read in under a locale such as "ko_KR", with the
// same table as the Linux program's; the page presets its choice with it.
extern "C" EMSCRIPTEN_KEEPALIVE const char* lumentrace_code_page_for_locale(
    const char* localeName) {
  static std::string answer;
  answer = AnsiCodePageForLocaleName(localeName);
  return answer.c_str();
}
