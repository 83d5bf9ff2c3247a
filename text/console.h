// The console: standard output, where the banner and the result lines go.
#ifndef LUMENTRACE_TEXT_CONSOLE_H_
#define LUMENTRACE_TEXT_CONSOLE_H_

#include "text/wide_string.h"

// Writes text to standard output as the user's console shows it: in the
// locale's codeset on POSIX systems; on Windows as wide text on a console, or
// in the locale's code page with LF as CR LF when redirected.
void PrintToConsole(WideView text);

// Whether standard output is a terminal (a console window on Windows).
bool ConsoleIsTerminal();

// A file name as the console should show it. On a terminal, control
// characters (C0, DEL, C1, the bidirectional controls, and bytes that did not
// decode and would be one) become '?', as ls shows them, so that no name can
// move the cursor, clear the screen, reorder its line or fake a line of its
// own; output to a file or pipe keeps every byte.
WideString ShownOnConsole(WideView name);

#endif  // LUMENTRACE_TEXT_CONSOLE_H_
