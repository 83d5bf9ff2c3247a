// Whether to wait for a key at the end of a run (console.h).
#include "platform/console.h"

bool ShouldPauseBeforeExit(unsigned long consoleProcessCount, bool consoleHasWindow,
                           bool inputIsConsole, bool outputIsConsole) {
  return consoleProcessCount == 1 && consoleHasWindow && inputIsConsole && outputIsConsole;
}
