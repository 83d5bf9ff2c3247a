// libFuzzer target: arbitrary bytes through the whole conversion of one file,
// in every input mode, under the locale named by LUMENTRACE_FUZZ_LOCALE (set
// per target at build time). The ANSI mode is read in the locale's own code
// page and in one more, picked from the input's size so that a saved input
// replays the same way.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/code_page.h"
#include "tests/fuzz/fuzz_entry.h"
#include "text/code_page_names.h"

#ifndef LUMENTRACE_FUZZ_LOCALE
#error "LUMENTRACE_FUZZ_LOCALE names the locale the target runs under"
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", LUMENTRACE_FUZZ_LOCALE, 1);
  SelectUserLocale();
  std::fprintf(stderr, "lumentrace fuzz: locale %s, ANSI code page %s\n", LUMENTRACE_FUZZ_LOCALE,
               AnsiCodePageName().c_str());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const auto& pages = fuzzing::InterestingCodePages();
  const std::vector<std::string> codePages = {AnsiCodePageName(), pages[size % pages.size()]};
  const std::string failure = fuzzing::CheckOneInput(data, size, codePages);
  if (!failure.empty()) {
    std::fprintf(stderr, "lumentrace fuzz: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
