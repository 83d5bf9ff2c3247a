// The program's entry logic.
#ifndef LUMENTRACE_DRIVER_BATCH_H_
#define LUMENTRACE_DRIVER_BATCH_H_

#include "platform/native_path.h"

// Selects the user's locale, prints the banner and converts every path on the
// command line in order (argv[1] on), stopping at the first that fails. With
// no path at all (argc == 1) it converts every SAMI file in and below the
// current directory instead. Returns 0, or -1 after the first failed file;
// the result is the exit status.
// Arguments come as the system hands them over: the locale's bytes on POSIX
// systems, UTF-16 on Windows.
int RunBatch(int argc, NativeChar** argv);

#endif  // LUMENTRACE_DRIVER_BATCH_H_
