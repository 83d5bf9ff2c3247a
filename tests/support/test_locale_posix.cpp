#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <string>

#include "platform/code_page.h"
#include "tests/support/test_locale.h"
#include "tests/support/test_text.h"

namespace {

// The tests decode code pages and compare text as the program does, through
// the system's converters and the locale's character classes.
[[maybe_unused]] const bool connected = (ConnectTextToSystem(), true);

}  // namespace

bool SelectTestLocale(const char* name) {
  if (std::setlocale(LC_ALL, name) != nullptr) return true;
  // "tr_TR.UTF-8": the locale source "tr_TR" in the character map "UTF-8".
  const std::string full = name;
  const size_t dot = full.find('.');
  std::string locpath;
  const LocaleBuild build = dot == std::string::npos
                                ? LocaleBuild::Failed
                                : BuildLocale(full.substr(0, dot), full.substr(dot + 1), locpath);
  if (build != LocaleBuild::Built) {
    ADD_FAILURE() << "the locale " << name << " is not installed and could not be built"
                  << (build == LocaleBuild::NoLocaledef ? " (no localedef)" : "");
    return false;
  }
  // setlocale reads LOCPATH when it loads a locale; the loaded one stays
  // after LOCPATH is gone again, which keeps the other tests' view unchanged.
  const char* previous = std::getenv("LOCPATH");
  const std::string saved = previous != nullptr ? previous : "";
  setenv("LOCPATH", locpath.c_str(), 1);
  const bool selected = std::setlocale(LC_ALL, name) != nullptr;
  if (previous != nullptr) {
    setenv("LOCPATH", saved.c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  if (!selected) ADD_FAILURE() << "the locale " << name << " was built but does not load";
  return selected;
}
