// One SAMI file into one SRT file beside it.
#ifndef LUMENTRACE_CONVERT_FILE_CONVERSION_H_
#define LUMENTRACE_CONVERT_FILE_CONVERSION_H_

#include <cstdint>
#include <string>

#include "text/char_decoding.h"
#include "text/text_stream.h"
#include "text/wide_string.h"

// Converts `path` into the same path with the extension ".srt" (replacing an
// existing one). Returns 0 when converted, and also, silently, when the path
// does not end in ".smi" (any ASCII case). Returns -1 on failure:
//   - the file cannot be opened: prints "[ERROR] The data file could not be opened";
//   - the input cannot be read or the output cannot be created: no message;
//   - the output cannot be written in full: prints
//     "[ERROR] The output file could not be written"; an earlier .srt stays as it was.
// On success prints "[SUCCESS] '<file name>' conversion is complete!!".
int ConvertFile(const WideString& path);

// Converts the bytes of a SAMI file as ConvertFile converts the file: the
// first byte chooses the reading, and `codePage` decodes ANSI input. Returns
// the bytes of the .srt file; `cues`, when given, receives the number of cues.
std::string ConvertBytes(const std::string& sami, CodePageDecoder& codePage,
                         std::int32_t* cues = nullptr);

// Converts an open input into an open output: skips the header, then writes
// the cues. `seekUnit` is 2 for UTF-16 input and 1 otherwise. Each input
// byte is decoded about once and each block scanned once (fast_conversion.cpp).
// Returns the number of cues written.
std::int32_t ConvertStream(TextStream& input, TextStream& output, std::int64_t seekUnit);

// The same conversion the plain way: each block read into text with its tags
// lowercased, then parsed and cleaned in separate steps. Slower; kept as the
// reference that tests and fuzzing hold ConvertStream to, byte for byte.
std::int32_t ConvertStreamReference(TextStream& input, TextStream& output, std::int64_t seekUnit);

// Moves the input to the '<' of the first sync tag, or leaves it at the end.
void SkipHeader(TextStream& input);

#endif  // LUMENTRACE_CONVERT_FILE_CONVERSION_H_
