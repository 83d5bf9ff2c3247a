// Telling an input's encoding from its first byte.
#ifndef LUMENTRACE_CONVERT_ENCODING_PROBE_H_
#define LUMENTRACE_CONVERT_ENCODING_PROBE_H_

#include <cstdint>

#include "text/text_stream.h"
#include "text/wide_string.h"

enum SourceEncoding {
  EncodingUnicode = 0,  // UTF-16 little-endian
  EncodingAnsi = 1,     // the user's ANSI code page (or UTF-8 without a byte-order mark)
  EncodingUtf8 = 2,
  EncodingUnreadable = 3,  // the file could not be opened
};

// 0xEF is UTF-8, 0xFE or 0xFF is UTF-16LE, anything else (an empty file too) is
// ANSI. Only regular files (or links to them) are opened: a directory, FIFO,
// socket, device, a dangling link or a missing or unreadable file is
// EncodingUnreadable. A FIFO is never opened, so it cannot hold the run up.
SourceEncoding DetectEncoding(WideView path);

// The same decision from a first byte already read (0 for an empty input).
SourceEncoding EncodingOfFirstByte(int firstByte);

// The input stream's mode for an encoding.
StreamMode InputModeFor(SourceEncoding encoding);

// Bytes per character in the input's moves: 2 for UTF-16, 1 otherwise.
std::int64_t SeekUnitFor(SourceEncoding encoding);

#endif  // LUMENTRACE_CONVERT_ENCODING_PROBE_H_
