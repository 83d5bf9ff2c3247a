// The conversion: the bytes of a SAMI file in, the bytes of its SRT file out.
// It touches no file, locale or console; its callers (the program's file
// conversion, the web page, the tests) bring the bytes and take the output.
#ifndef LUMENTRACE_CONVERT_CONVERSION_H_
#define LUMENTRACE_CONVERT_CONVERSION_H_

#include <cstdint>
#include <string>

#include "convert/srt_output.h"
#include "text/char_decoding.h"
#include "text/text_stream.h"

// How an input is read, told from its first byte.
enum SourceEncoding {
  EncodingUnicode = 0,  // UTF-16 little-endian
  EncodingAnsi = 1,     // the user's ANSI code page (or UTF-8 without a byte-order mark)
  EncodingUtf8 = 2,
  EncodingUnreadable = 3,  // the file could not be opened (driver/file_conversion.h)
};

// 0xEF is UTF-8, 0xFE or 0xFF is UTF-16LE, anything else (0 for an empty
// input) is ANSI.
inline SourceEncoding EncodingOfFirstByte(int firstByte) {
  if (firstByte == 0xEF) return EncodingUtf8;
  return firstByte == 0xFE || firstByte == 0xFF ? EncodingUnicode : EncodingAnsi;
}

// How ANSI input is read: as UTF-8 when it is valid UTF-8 throughout and in
// the code page otherwise (what the program does), or in the code page
// whatever it holds (for a part of a file whose whole was read that way).
enum class AnsiReading { kUtf8WhenValid, kCodePage };

// The reading of an input of that encoding.
inline StreamMode StreamModeFor(SourceEncoding encoding) {
  return encoding == EncodingUnicode ? StreamMode::Utf16Binary
         : encoding == EncodingUtf8  ? StreamMode::Utf8Text
                                     : StreamMode::AnsiText;
}

// Converts `sami`, read as `encoding` says (`codePage` decodes ANSI input
// read in the code page), writing the SRT file to `sink`: skips the header,
// then writes the cues. Each input byte is decoded about once and each block
// scanned once. Returns the number of cues written.
std::int32_t ConvertSami(std::string sami, SourceEncoding encoding, CodePageDecoder& codePage,
                         SrtSink sink, SrtEncoding output = SrtEncoding::kUtf16Le,
                         AnsiReading ansi = AnsiReading::kUtf8WhenValid);

// The same for an input read from `source` (a file, most often) through a
// window of `windowBytes` that is reused as the conversion moves on, so that
// the memory it takes does not grow with the input. The input ends where a
// read first finds nothing, as a file that gets shorter while it is read does.
// Returns the number of cues written, or -1 when a read failed (what was
// written is then incomplete).
std::int32_t ConvertSamiFrom(ByteSource source, SourceEncoding encoding, CodePageDecoder& codePage,
                             SrtSink sink, size_t windowBytes = kWindowBytes);

// Converts the bytes of a SAMI file as the program converts the file: the
// first byte chooses the reading. Returns the bytes of the .srt file; `cues`,
// when given, receives the number of cues.
std::string ConvertBytes(const std::string& sami, CodePageDecoder& codePage,
                         std::int32_t* cues = nullptr, SrtEncoding output = SrtEncoding::kUtf16Le);

#endif  // LUMENTRACE_CONVERT_CONVERSION_H_
