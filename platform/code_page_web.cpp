// Code pages in the web page come from the browser's own TextDecoder: the page
// asks it about every byte and every two-byte sequence once per code page and
// hands the answers in (lumentrace_define_code_page), already in the shape of
// AskSystemConverter's answers. The conversion then reads them through the
// same CodePageDecoder tables as on every other platform.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/locale_text.h"
#include "text/char_decoding.h"

struct SystemConverter {
  std::uint32_t single[256];
  // The 256 answers for each lead byte (a byte whose single answer is
  // kIncomplete), in lead order; lead[b] is the row's index, or -1.
  std::vector<std::uint32_t> pairs;
  int lead[256];
};

void SelectUserLocale() {
  ConnectTextToSystem();
  // The page chooses the code page for each conversion (lumentrace_convert);
  // the C library's locale stays "C", and the character classes come from
  // locale_text_web.cpp whatever it is.
}

namespace {

std::map<std::string, std::unique_ptr<SystemConverter>>& Defined() {
  static std::map<std::string, std::unique_ptr<SystemConverter>> pages;
  return pages;
}

}  // namespace

// `single` holds 256 answers; `pairs` holds 256 answers for each byte whose
// single answer is kIncomplete, in byte order. The page defines each code page
// before the first conversion in it; a code page is defined once.
extern "C" int lumentrace_define_code_page(const char* name, const std::uint32_t* single,
                                           const std::uint32_t* pairs) {
  auto page = std::make_unique<SystemConverter>();
  size_t rows = 0;
  for (int b = 0; b < 256; ++b) {
    page->single[b] = single[b];
    page->lead[b] = single[b] == kIncomplete ? static_cast<int>(rows++) : -1;
  }
  page->pairs.assign(pairs, pairs + rows * 256);
  auto& slot = Defined()[name];
  if (slot) return 0;
  slot = std::move(page);
  return 1;
}

SystemConverter* OpenSystemConverter(const std::string& codePage) {
  const auto found = Defined().find(codePage);
  if (found == Defined().end()) return nullptr;
  return new SystemConverter(*found->second);
}

void CloseSystemConverter(SystemConverter* converter) {
  delete converter;
}

std::uint32_t AskSystemConverter(SystemConverter* converter, const unsigned char* bytes,
                                 size_t size) {
  if (converter == nullptr) return kInvalid;
  const std::uint32_t first = converter->single[bytes[0]];
  if (size == 1) return first;
  // Two bytes that do not begin with a lead byte are two characters, or an
  // invalid one: either way not one character. No code page the page offers
  // has characters of three or four bytes.
  if (size != 2 || first != kIncomplete) return kInvalid;
  const auto row = static_cast<size_t>(converter->lead[bytes[0]]);
  return converter->pairs[row * 256 + bytes[1]];
}

void ConnectTextToSystem() {
  UseSystemConverter({OpenSystemConverter, AskSystemConverter, CloseSystemConverter});
  UseCharClasses({IsSpaceInLocale, LowerInLocale});
}
