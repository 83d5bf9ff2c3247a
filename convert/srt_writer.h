// Writing cues in SRT form: a number line, a time line, the caption's lines;
// cues separated by one empty line and no line break after the last one.
#ifndef LUMENTRACE_CONVERT_SRT_WRITER_H_
#define LUMENTRACE_CONVERT_SRT_WRITER_H_

#include <cstdint>

#include "text/text_stream.h"
#include "text/wide_string.h"

// Numbering of one output file; every file starts again at 1.
struct CueCounter {
  std::int32_t next = 1;
  bool first = true;
};

// Writes one cue and counts it. Line breaks in the caption become line breaks
// of the file; NUL characters are written as they are.
void WriteCue(TextStream& output, CueCounter& counter, WideView timeLine, WideView caption);

#endif  // LUMENTRACE_CONVERT_SRT_WRITER_H_
