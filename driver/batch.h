// The program's entry logic.
#ifndef LUMENTRACE_DRIVER_BATCH_H_
#define LUMENTRACE_DRIVER_BATCH_H_

// Selects the user's locale, prints the banner and converts every path on the
// command line in order (argv[1] on), stopping at the first that fails. With
// no path at all (argc == 1) it converts every SAMI file in and below the
// current directory instead. Returns 0, or -1 after the first failed file;
// the result is the exit status.
int RunBatch(int argc, char** argv);

#endif  // LUMENTRACE_DRIVER_BATCH_H_
