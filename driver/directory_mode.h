// Converting every SAMI file in and below the current directory.
#ifndef LUMENTRACE_DRIVER_DIRECTORY_MODE_H_
#define LUMENTRACE_DRIVER_DIRECTORY_MODE_H_

// Finds every .smi file below the current directory, breadth-first, then
// converts them in that order, stopping at the first failure. Returns 0 or -1.
int RunDirectoryMode();

#endif  // LUMENTRACE_DRIVER_DIRECTORY_MODE_H_
