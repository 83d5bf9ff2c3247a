// The SRT file's bytes: a number line, a time line, the caption's lines; cues
// separated by one empty line and no line break after the last one. Every line
// break is CR LF. The bytes are encoded once, straight into a buffer that goes
// to the sink in large pieces.
#ifndef LUMENTRACE_CONVERT_SRT_OUTPUT_H_
#define LUMENTRACE_CONVERT_SRT_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "text/wide_string.h"

enum class SrtEncoding {
  kUtf16Le,  // UTF-16LE after the byte-order mark FF FE: the program's output
  kUtf8,     // UTF-8 without a byte-order mark
};

// Where the bytes go. `restart` drops everything written so far.
struct SrtSink {
  void* context = nullptr;
  void (*write)(void* context, const char* bytes, size_t size) = nullptr;
  void (*restart)(void* context) = nullptr;
};

// A sink appending to a string (which `restart` empties).
SrtSink StringSink(std::string& bytes);

struct SrtWriter {
  SrtEncoding encoding = SrtEncoding::kUtf16Le;
  SrtSink sink;
  std::unique_ptr<char[]> buffer;  // bytes not yet handed to the sink
  size_t capacity = 0;
  size_t used = 0;
  std::int32_t next = 1;  // the next cue's number; every file starts again at 1
  // The decimal text of `spelled` (as a rule `next`) in digits[0, digitCount):
  // counted up in place rather than formatted anew.
  std::int32_t spelled = 0;
  char digits[16] = {};
  std::uint8_t digitCount = 0;
  bool first = true;
};

// Starts a file: the byte-order mark for UTF-16LE.
void StartSrt(SrtWriter& writer, SrtSink sink, SrtEncoding encoding);
// Drops what was written and starts again from the first cue.
void RestartSrt(SrtWriter& writer);
// Writes one cue and counts it. Times are HH:MM:SS,mmm, hours growing past two
// digits as needed; a negative time is written as 00:00:00,000, since a time
// with a minus sign is malformed SRT that players reject. Line breaks in the
// caption become CR LF; NUL characters are written as they are.
void WriteCue(SrtWriter& writer, std::int32_t start, std::int32_t end, WideView caption);
// Hands the rest of the buffer to the sink.
void FinishSrt(SrtWriter& writer);

#endif  // LUMENTRACE_CONVERT_SRT_OUTPUT_H_
