// File names in the lines the program prints.
#ifndef LUMENTRACE_DRIVER_CONSOLE_NAME_H_
#define LUMENTRACE_DRIVER_CONSOLE_NAME_H_

#include "text/wide_string.h"

// A file name as the console should show it. On a terminal, control
// characters (C0, DEL, C1, the bidirectional controls, and bytes that did not
// decode and would be one) become '?', as ls shows them, so that no name can
// move the cursor, clear the screen, reorder its line or fake a line of its
// own; output to a file or pipe keeps every byte.
WideString ShownOnConsole(WideView name);

#endif  // LUMENTRACE_DRIVER_CONSOLE_NAME_H_
