// The conversion: the bytes of a SAMI file in, the bytes of its SRT file out.
// It touches no file, locale or console; its callers (the program's file
// conversion, the web page, the tests) bring the bytes and take the output.
#ifndef LUMENTRACE_CONVERT_CONVERSION_H_
#define LUMENTRACE_CONVERT_CONVERSION_H_

#include <cstdint>
#include <string>

#include "convert/encoding_probe.h"
#include "convert/srt_output.h"
#include "text/char_decoding.h"

// Converts `sami`, read as `encoding` says (`codePage` decodes ANSI input that
// is not valid UTF-8), writing the SRT file to `sink`: skips the header, then
// writes the cues. Each input byte is decoded about once and each block
// scanned once. Returns the number of cues written.
std::int32_t ConvertSami(std::string sami, SourceEncoding encoding, CodePageDecoder& codePage,
                         SrtSink sink, SrtEncoding output = SrtEncoding::kUtf16Le);

// Converts the bytes of a SAMI file as the program converts the file: the
// first byte chooses the reading. Returns the bytes of the .srt file; `cues`,
// when given, receives the number of cues.
std::string ConvertBytes(const std::string& sami, CodePageDecoder& codePage,
                         std::int32_t* cues = nullptr, SrtEncoding output = SrtEncoding::kUtf16Le);

#endif  // LUMENTRACE_CONVERT_CONVERSION_H_
