// One SAMI file into one SRT file beside it.
#ifndef LUMENTRACE_DRIVER_FILE_CONVERSION_H_
#define LUMENTRACE_DRIVER_FILE_CONVERSION_H_

#include "convert/conversion.h"
#include "text/wide_string.h"

// The encoding of a file from its first byte. Only regular files (or links to
// them) are opened: a directory, FIFO, socket, device, a dangling link or a
// missing or unreadable file is EncodingUnreadable. A FIFO is never opened, so
// it cannot hold the run up.
SourceEncoding DetectEncoding(WideView path);

// Converts `path` into the same path with the extension ".srt" (replacing an
// existing one). Returns 0 when converted, and also, silently, when the path
// does not end in ".smi" (any ASCII case). Returns -1 on failure:
//   - the file cannot be opened: prints "[ERROR] The data file could not be opened";
//   - the input cannot be read or the output cannot be created: no message;
//   - the output cannot be written in full: prints
//     "[ERROR] The output file could not be written"; an earlier .srt stays as it was.
// On success prints "[SUCCESS] '<file name>' conversion is complete!!".
int ConvertFile(const WideString& path);

#endif  // LUMENTRACE_DRIVER_FILE_CONVERSION_H_
