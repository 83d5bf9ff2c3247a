#include "driver/console_name.h"

#include "platform/console.h"

namespace {

// U+DC00 plus a byte stands for a byte of a name that did not decode (see
// locale_text.h); what matters is what that byte would do on the terminal.
// The bidirectional controls (U+200E, U+200F, U+202A to U+202E, U+2066 to
// U+2069) count too: they reorder what follows them on the line, so a name
// could show the user another name than its own.
bool IsControl(char16_t unit) {
  if (unit >= 0xDC00 && unit <= 0xDCFF) unit = static_cast<char16_t>(unit - 0xDC00);
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x200E || unit == 0x200F ||
         (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

}  // namespace

WideString ShownOnConsole(WideView name) {
  WideString shown(name);
  if (!ConsoleIsTerminal()) return shown;
  for (char16_t& unit : shown) {
    if (IsControl(unit)) unit = u'?';
  }
  return shown;
}
