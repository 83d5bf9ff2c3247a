// Text crossing between the program and the system: file names, arguments and
// console output, in the codeset of the locale selected at start-up.
//
// Bytes that do not decode in that codeset survive widening as escapes
// (U+DC00 plus the byte) and turn back into the same bytes when narrowed, so a
// file whose name is not valid in the locale is still opened and still named.
#ifndef LUMENTRACE_TEXT_LOCALE_TEXT_H_
#define LUMENTRACE_TEXT_LOCALE_TEXT_H_

#include <string>
#include <string_view>

#include "text/wide_string.h"

// Widens narrow text (an argument, a directory entry) from the locale's codeset.
WideString WidenFromLocale(std::string_view narrow);

// Narrows text into the locale's codeset; escapes become their bytes again and
// a character the codeset cannot hold becomes '?'.
std::string NarrowToLocale(WideView text);

// A file name as the console should show it. On a terminal, control
// characters (C0, DEL, C1, and bytes that did not decode and would be one)
// become '?', as ls shows them, so that no name can move the cursor, clear the
// screen or fake a line of its own; output to a file or pipe keeps every byte.
WideString ShownOnConsole(WideView name);

// Whether standard output is a terminal.
bool ConsoleIsTerminal();

// Writes text to standard output in the locale's codeset.
void PrintToConsole(WideView text);

#endif  // LUMENTRACE_TEXT_LOCALE_TEXT_H_
