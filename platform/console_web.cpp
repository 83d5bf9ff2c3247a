// The web page has no console: what the program would print goes nowhere.
#include "platform/console.h"

void PrintToConsole(WideView) {}

bool ConsoleIsTerminal() {
  return false;
}

// No console window here belongs to the program alone: a terminal stays
// open after the run by itself.
void PauseIfConsoleIsOwn() {}
