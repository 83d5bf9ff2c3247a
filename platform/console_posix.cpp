// The console on POSIX systems: standard output, in the locale's codeset.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/locale_text.h"

void PrintToConsole(WideView text) {
  const std::string narrow = NarrowToLocale(text);
  std::fwrite(narrow.data(), 1, narrow.size(), stdout);
}

bool ConsoleIsTerminal() {
  static const bool terminal = isatty(STDOUT_FILENO) == 1;
  return terminal;
}

// No console window here belongs to the program alone: a terminal stays
// open after the run by itself.
void PauseIfConsoleIsOwn() {}
