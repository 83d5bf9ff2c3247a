// The differential oracle: the conversion as first written, block by block
// through ReadSyncBlock and ParseSyncBlock, each block read into text with its
// tags lowercased and then parsed and cleaned in separate steps. Slower than
// the program's one-pass conversion; the tests and the fuzzers hold that one
// to this, byte for byte.
#ifndef LUMENTRACE_TESTS_SUPPORT_REFERENCE_CONVERSION_H_
#define LUMENTRACE_TESTS_SUPPORT_REFERENCE_CONVERSION_H_

#include <cstdint>
#include <string>

#include "convert/srt_output.h"
#include "text/text_stream.h"

// Converts an open input into `output`: skips the header, then writes the
// cues. `seekUnit` is 2 for UTF-16 input and 1 otherwise. Returns the number
// of cues written.
std::int32_t ConvertStreamReference(TextStream& input, SrtWriter& output, std::int64_t seekUnit);

namespace oracle {

// The bytes of the .srt that `bytes` read in `mode` converts to, by the
// program's conversion or by the reference one. For the ANSI mode,
// `codePage` (CP1252 when empty) decodes what is not valid UTF-8.
bool ConvertWith(const std::string& bytes, StreamMode mode, const std::string& codePage,
                 bool reference, std::string& srt);

// The program's conversion of `bytes` read as a file is, at byte offsets
// through a window of `windowBytes` (convert/conversion.h ConvertSamiFrom).
std::string ConvertThroughWindow(const std::string& bytes, StreamMode mode,
                                 const std::string& codePage, size_t windowBytes);

// Empty when reading `bytes` through a small window gives `srt`, what the
// conversion of the whole bytes in memory gives; otherwise the window's size.
std::string CompareWindowedReads(const std::string& bytes, StreamMode mode,
                                 const std::string& codePage, const std::string& srt);

// Empty when the program's conversion writes what the reference writes;
// otherwise where the two differ.
std::string CompareWithReference(const std::string& bytes, StreamMode mode,
                                 const std::string& codePage, const std::string& srt);

}  // namespace oracle

#endif  // LUMENTRACE_TESTS_SUPPORT_REFERENCE_CONVERSION_H_
