// The web page has no console: what the program would print goes nowhere.
#include "platform/console.h"

void PrintToConsole(WideView) {}

bool ConsoleIsTerminal() {
  return false;
}
