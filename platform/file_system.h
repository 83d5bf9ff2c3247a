// Reading files and asking where the program stands. Each platform provides
// these over its own calls; nothing else in the program opens an input.
#ifndef LUMENTRACE_PLATFORM_FILE_SYSTEM_H_
#define LUMENTRACE_PLATFORM_FILE_SYSTEM_H_

#include <memory>

#include "text/input_window.h"
#include "text/wide_string.h"

// The first byte of a regular file (0 for an empty one), or -1 when it cannot
// be opened: missing, unreadable, a directory, FIFO, socket or device (none of
// which is opened, so a FIFO cannot hold the run up), or, on Windows, held
// open by another program (the file is opened without sharing).
int ReadFirstByte(WideView path);

// A regular file open for reading at byte offsets.
struct NativeInput;
struct NativeInputDeleter {
  void operator()(NativeInput* native) const;
};
struct InputFile {
  std::unique_ptr<NativeInput, NativeInputDeleter> native;
};

// Opens a regular file for reading; false when it cannot be opened or is not a
// regular file. Other programs may read and write it meanwhile (see below).
bool OpenInputFile(InputFile& file, WideView path);

// Opens `path` as OpenInputFile does and reads its first byte, as
// ReadFirstByte does: the first byte (0 for an empty file) with `file` open,
// -1 when ReadFirstByte would give -1 (nothing is left open), or -2 when the
// first byte could be read but the file not opened for reading. On POSIX
// systems one open serves both, so the byte read is the first byte of the
// very file then read; on Windows the file is first opened without sharing
// (see ReadFirstByte), closed, and then opened for reading.
int OpenInputWithFirstByte(InputFile& file, WideView path);

// The open file as a source of bytes (text/input_window.h). Its input is the
// file's bytes up to the size the file had when it was opened: a file that
// grows meanwhile is read as it was; one that shrinks ends where a read finds
// its end. A read that fails gives -1.
ByteSource InputFileSource(InputFile& file);

// The current directory, or an empty string when it cannot be obtained
// (removed while the program stands in it, or too long to name).
WideString CurrentDirectory();

#endif  // LUMENTRACE_PLATFORM_FILE_SYSTEM_H_
