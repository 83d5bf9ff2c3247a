// A file written in full or not at all.
//
// The bytes go to a temporary file beside the target and replace the target
// only after every write and the close have succeeded, so a failed conversion
// leaves an earlier file as it was and no temporary file behind. The result
// looks as if the target had been opened for writing: a new file gets the
// permissions a newly created file gets, an existing one keeps its permission
// bits, and a symbolic link is written through to its target.
#ifndef LUMENTRACE_TEXT_OUTPUT_FILE_H_
#define LUMENTRACE_TEXT_OUTPUT_FILE_H_

#include <cstddef>
#include <string>

struct OutputFile {
  int descriptor = -1;
  std::string targetPath;  // the file that is replaced (a link's final target)
  std::string tempPath;
  std::string buffer;
  bool failed = false;  // a write has failed; later writes are dropped
};

// Creates the temporary file for `path` (narrow, as the file system names it).
// Returns false when it cannot be created, or when `path` is a directory.
bool CreateOutputFile(OutputFile& file, const std::string& path);

// Appends bytes; they reach the disk in large writes.
void WriteOutputBytes(OutputFile& file, const char* bytes, size_t size);

// Flushes, closes and renames the temporary file over the target. Returns
// false, with the temporary file removed, when any of it failed.
bool CommitOutputFile(OutputFile& file);

// Closes and removes the temporary file without touching the target.
void AbandonOutputFile(OutputFile& file);

#endif  // LUMENTRACE_TEXT_OUTPUT_FILE_H_
