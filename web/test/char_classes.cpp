// Prints every non-ASCII code unit that is white space or has a lower case of
// its own, as the platform's locale file answers. The browser test compares
// the web build's answers with the native build's under a UTF-8 locale.
#include <clocale>
#include <cstdint>
#include <cstdio>

#include "platform/locale_text.h"

int main() {
  std::setlocale(LC_ALL, "");
  for (std::uint32_t c = 0x80; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const auto unit = static_cast<char16_t>(c);
    const bool space = IsSpaceInLocale(unit);
    const std::uint32_t lower = LowerInLocale(unit);
    if (space || lower != c) std::printf("%04X %d %04X\n", c, space ? 1 : 0, lower);
  }
  return 0;
}
