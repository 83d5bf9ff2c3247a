#include "driver/console_name.h"

#include "platform/console.h"

namespace {

// U+DC00 plus a byte stands for a byte of a name that did not decode (see
// locale_text.h); what matters is what that byte would do on the terminal.
bool IsControl(char16_t unit) {
  if (unit >= 0xDC00 && unit <= 0xDCFF) unit = static_cast<char16_t>(unit - 0xDC00);
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
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
