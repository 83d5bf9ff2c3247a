// A file written in full or not at all.
//
// The bytes go to a temporary file in the folder of the file they replace and
// take its place only after every write and the close have succeeded, so a
// failed conversion leaves an earlier file as it was and nothing behind. The
// output goes exactly where opening the path for writing would put it, and
// nowhere else:
//   - every link on the way is followed as the system would follow it, except
//     a link in a shared sticky folder planted by another user, which is
//     refused wherever it is met;
//   - only a regular file is replaced: a directory, FIFO, socket or device
//     (or a link to one), or a file of a pseudo file system such as /proc,
//     is never opened as output and is left untouched, even if swapped in
//     while the output is opened;
//   - an existing file the user may not write is refused;
//   - where the folder may not be changed but the file may be written, the
//     output is made in full elsewhere first and then copied over the file
//     (only a failure of that last copy can leave the file part old, part
//     new).
// A replaced file keeps its permission bits, access list and other extended
// attributes (and its owner where the system allows); a new one gets the
// permissions any new file gets there. Nobody else can read the temporary
// file while it is written.
//
// Output may also go to bytes in memory, for tests and in-process callers.
#ifndef LUMENTRACE_PLATFORM_OUTPUT_FILE_H_
#define LUMENTRACE_PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <memory>
#include <string>

#include "text/wide_string.h"

// The platform's side of an open output file.
struct NativeOutput;
struct NativeOutputDeleter {
  void operator()(NativeOutput* native) const;
};

struct OutputFile {
  std::unique_ptr<NativeOutput, NativeOutputDeleter> native;
  std::string* memory = nullptr;  // in-memory output: the bytes are appended here
  std::string buffer;
  bool failed = false;  // a write has failed; later writes are dropped
};

// Opens the output for `path`. Returns false, with nothing created or
// changed, when it cannot be opened for writing.
bool CreateOutputFile(OutputFile& file, WideView path);

// Directs the output to `bytes`, which it empties first.
void CreateOutputInMemory(OutputFile& file, std::string& bytes);

// Appends bytes; they reach the disk in large writes.
void WriteOutputBytes(OutputFile& file, const char* bytes, size_t size);

// Drops everything written so far, as if the output had just been opened;
// false when the file could not be emptied (later writes are then dropped too).
bool RestartOutput(OutputFile& file);

// Flushes, closes and puts the file in place. Returns false, with nothing left
// behind and an earlier file unchanged, when any of it failed.
bool CommitOutputFile(OutputFile& file);

// Closes and removes what was written without touching the target.
void AbandonOutputFile(OutputFile& file);

// Makes later outputs use a named temporary file, as on a file system that
// has no unnamed ones (so that tests can reach that way too).
void UseNamedTemporaryFiles(bool named);

// The platform side, used by the functions above.
bool CreateNativeOutput(OutputFile& file, WideView path);
bool WriteNativeOutput(NativeOutput& native, const char* bytes, size_t size);
bool RewindNativeOutput(NativeOutput& native);  // empties it and writes from its start again
bool CommitNativeOutput(NativeOutput& native);
void AbandonNativeOutput(NativeOutput& native);

#endif  // LUMENTRACE_PLATFORM_OUTPUT_FILE_H_
