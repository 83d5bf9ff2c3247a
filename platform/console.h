// The console: standard output, where the banner and the result lines go.
#ifndef LUMENTRACE_PLATFORM_CONSOLE_H_
#define LUMENTRACE_PLATFORM_CONSOLE_H_

#include "text/wide_string.h"

// Writes text to standard output as the user's console shows it: in the
// locale's codeset on POSIX systems; on Windows as wide text on a console, or
// in the locale's code page with LF as CR LF when redirected; nowhere in the
// web page, which has no console.
void PrintToConsole(WideView text);

// Whether standard output is a terminal (a console window on Windows; never
// in the web page).
bool ConsoleIsTerminal();

#endif  // LUMENTRACE_PLATFORM_CONSOLE_H_
