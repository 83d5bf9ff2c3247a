// The console: standard output, where the banner and the result lines go.
#ifndef LUMENTRACE_PLATFORM_CONSOLE_H_
#define LUMENTRACE_PLATFORM_CONSOLE_H_

#include <string_view>

#include "text/wide_string.h"

// Writes text to standard output as the user's console shows it: in the
// locale's codeset on POSIX systems; on Windows as wide text on a console, or
// in the locale's code page with LF as CR LF when redirected; nowhere in the
// web page, which has no console.
void PrintToConsole(WideView text);

// Whether standard output is a terminal (a console window on Windows; never
// in the web page).
bool ConsoleIsTerminal();

// The wait at the end of a run in a console window of the program's own,
// such as the one Windows opens when the .exe is double-clicked in Explorer
// or files are dropped on it. That window closes as soon as the program
// ends, so without the wait the banner, the result lines and any error would
// vanish unread, and a failed run would look like a good one.

// An empty line, then the prompt; the cursor waits after it.
constexpr std::u16string_view kPausePrompt = u"\nPress any key to close this window.";

// Whether to prompt and wait for a key once the run is over: only when the
// console serves this process alone (consoleProcessCount is 1; 0 stands for
// no console or an unknown count), it has a window (consoleHasWindow), and
// both standard input and standard output are that console. A console shared
// with a shell, a script or any other program stays as it is, and so does a
// run whose input or output is redirected: nobody would see the prompt or
// could answer it. A console without a window is a terminal that some other
// program (Wine in a Unix terminal, say) shows and keeps open itself.
bool ShouldPauseBeforeExit(unsigned long consoleProcessCount, bool consoleHasWindow,
                           bool inputIsConsole, bool outputIsConsole);

// After the run, shows kPausePrompt and waits for a key press when
// ShouldPauseBeforeExit says so; otherwise does nothing. It never changes the
// exit status. Only Windows opens a console window for a program of its own;
// elsewhere this does nothing.
void PauseIfConsoleIsOwn();

#endif  // LUMENTRACE_PLATFORM_CONSOLE_H_
