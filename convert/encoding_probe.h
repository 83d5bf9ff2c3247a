// Telling an input's encoding from its first byte.
#ifndef LUMENTRACE_CONVERT_ENCODING_PROBE_H_
#define LUMENTRACE_CONVERT_ENCODING_PROBE_H_

#include <cstdint>

#include "text/text_stream.h"

enum SourceEncoding {
  EncodingUnicode = 0,  // UTF-16 little-endian
  EncodingAnsi = 1,     // the user's ANSI code page (or UTF-8 without a byte-order mark)
  EncodingUtf8 = 2,
  EncodingUnreadable = 3,  // the file could not be opened (driver/file_conversion.h)
};

// 0xEF is UTF-8, 0xFE or 0xFF is UTF-16LE, anything else (0 for an empty
// input) is ANSI.
SourceEncoding EncodingOfFirstByte(int firstByte);

// The input stream's mode for an encoding.
StreamMode InputModeFor(SourceEncoding encoding);

// Bytes per character in the input's moves: 2 for UTF-16, 1 otherwise.
std::int64_t SeekUnitFor(SourceEncoding encoding);

#endif  // LUMENTRACE_CONVERT_ENCODING_PROBE_H_
