#include <unistd.h>

#include "text/locale_text.h"

bool ConsoleIsTerminal() {
  static const bool terminal = isatty(STDOUT_FILENO) == 1;
  return terminal;
}
