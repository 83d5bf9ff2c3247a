#include "driver/console_pause.h"

bool ShouldPauseBeforeExit(unsigned long consoleProcessCount, bool consoleHasWindow,
                           bool inputIsConsole, bool outputIsConsole) {
  return consoleProcessCount == 1 && consoleHasWindow && inputIsConsole && outputIsConsole;
}
