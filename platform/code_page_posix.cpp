#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "platform/locale_text.h"
#include "text/char_decoding.h"
#include "text/code_page_names.h"

namespace {

// The locale name the user asked for: the first non-empty of LC_ALL,
// LC_CTYPE and LANG, or "C".
std::string RequestedLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

}  // namespace

void SelectUserLocale() {
  ConnectTextToSystem();
  // Of the locale's categories only the character type reaches what the
  // program does (the codeset of names, arguments and console output, case
  // mapping, white space): it formats its numbers itself and sorts, dates and
  // translates nothing. Loading the other eleven would cost more than
  // converting a small file.
  const bool installed = std::setlocale(LC_CTYPE, "") != nullptr;
  std::string codePage = AnsiCodePageForLocaleName(RequestedLocaleName());
  if (installed) {
    const std::string codeset = nl_langinfo(CODESET);
    if (!codeset.empty() &&
        !IsOneOfNames(codeset, {"UTF-8", "ANSI_X3.4-1968", "ASCII", "US-ASCII"})) {
      codePage = codeset;
    }
  }
  SetAnsiCodePageName(codePage);
}

struct SystemConverter {
  iconv_t iconv;
};

SystemConverter* OpenSystemConverter(const std::string& codePage) {
  const iconv_t converter = iconv_open("UTF-32LE", codePage.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return new SystemConverter{converter};
}

void CloseSystemConverter(SystemConverter* converter) {
  iconv_close(converter->iconv);
  delete converter;
}

std::uint32_t AskSystemConverter(SystemConverter* converter, const unsigned char* bytes,
                                 size_t size) {
  iconv_t cd = converter->iconv;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char input[8];
  for (size_t i = 0; i < size; ++i) input[i] = static_cast<char>(bytes[i]);
  unsigned char output[32];
  char* in = input;
  size_t inLeft = size;
  char* out = reinterpret_cast<char*>(output);
  size_t outLeft = sizeof output;
  if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) {
    return errno == EINVAL ? kIncomplete : kInvalid;
  }
  // Decoders that compose (CP1255, CP1258) hold a base letter back until they
  // see what follows; flushing gives it up as the character on its own.
  if (iconv(cd, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) return kInvalid;
  if (inLeft != 0 || sizeof output - outLeft != 4) return kInvalid;
  return static_cast<std::uint32_t>(output[0]) | static_cast<std::uint32_t>(output[1]) << 8 |
         static_cast<std::uint32_t>(output[2]) << 16 | static_cast<std::uint32_t>(output[3]) << 24;
}

void ConnectTextToSystem() {
  UseSystemConverter({OpenSystemConverter, AskSystemConverter, CloseSystemConverter});
  UseCharClasses({IsSpaceInLocale, LowerInLocale});
}
