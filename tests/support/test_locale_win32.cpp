#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "platform/code_page.h"
#include "tests/support/test_locale.h"

namespace {

// The tests decode code pages and compare text as the program does, through
// the system's converters and the locale's character classes.
[[maybe_unused]] const bool connected = (ConnectTextToSystem(), true);

}  // namespace

bool SelectTestLocale(const char* name) {
  // The C runtime names locales by language, country and code page. What the
  // tests need of "C.UTF-8" is Unicode's case mapping and white space, which
  // every named locale has and "C" does not.
  const char* windowsName = name;
  if (std::strcmp(name, "tr_TR.UTF-8") == 0) windowsName = "Turkish_Turkey.1254";
  if (std::strcmp(name, "C.UTF-8") == 0) windowsName = "English_United States.1252";
  if (std::setlocale(LC_ALL, windowsName) != nullptr) return true;
  ADD_FAILURE() << "the locale " << windowsName << " (for " << name << ") is not available";
  return false;
}
