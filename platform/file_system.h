// Reading files and asking where the program stands. Each platform provides
// these over its own calls; nothing else in the program opens an input.
#ifndef LUMENTRACE_PLATFORM_FILE_SYSTEM_H_
#define LUMENTRACE_PLATFORM_FILE_SYSTEM_H_

#include <string>

#include "text/wide_string.h"

// The first byte of a regular file (0 for an empty one), or -1 when it cannot
// be opened: missing, unreadable, a directory, FIFO, socket or device (none of
// which is opened, so a FIFO cannot hold the run up), or, on Windows, held
// open by another program (the file is opened without sharing).
int ReadFirstByte(WideView path);

// Reads the whole of a regular file into `bytes`; false when it cannot be
// opened or read, or is not a regular file.
bool ReadWholeFile(WideView path, std::string& bytes);

// The current directory, or an empty string when it cannot be obtained
// (removed while the program stands in it, or too long to name).
WideString CurrentDirectory();

#endif  // LUMENTRACE_PLATFORM_FILE_SYSTEM_H_
