// Converting every SAMI file in and below the current directory.
#ifndef LUMENTRACE_DRIVER_DIRECTORY_MODE_H_
#define LUMENTRACE_DRIVER_DIRECTORY_MODE_H_

#include <vector>

#include "text/wide_string.h"

// Finds every .smi file below the current directory, breadth-first, then
// converts them in that order, stopping at the first failure. Returns 0 or -1;
// 0 too when there is nothing to convert.
int RunDirectoryMode();

// The current working directory, widened from the locale's codeset. When it
// cannot be obtained (removed while the program stands in it, or longer than
// PATH_MAX) the result is ".", which still names it for every later call.
WideString CurrentDirectoryOrDot();

// Appends to `results` the path of every entry below the directory `pattern`
// whose name ends in ".smi" (any ASCII case) and that is not a directory, in
// breadth-first order: the directory's own entries first, then each level of
// subdirectories. Within a directory, entries go in byte order of their names.
// Paths are `pattern` joined with the names by the platform's separator. Symbolic links to
// directories are followed, and each directory is searched once however many
// paths lead to it, so a cycle of links ends. A directory that cannot be
// listed is passed over silently and the search goes on with the rest.
void CollectSmiFiles(const WideString& pattern, std::vector<WideString>& results);

#endif  // LUMENTRACE_DRIVER_DIRECTORY_MODE_H_
