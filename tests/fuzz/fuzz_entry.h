// One arbitrary input through the whole conversion, with checks on what comes
// out. Shared by the libFuzzer targets and by the replay test of the normal
// test run, so that a saved input fails both in the same way.
//
// The input is converted in each input mode (UTF-16LE binary, ANSI text, UTF-8
// text), the ANSI mode once in each code page asked for, through the ordinary
// output stream into bytes in memory. Each conversion must end, close
// its output successfully and leave an SRT file whose shape holds whatever
// the input was, and be byte for byte what the reference conversion
// (ConvertStreamReference, tests/support/reference_conversion.h) writes, and
// what the same conversion writes reading the input through a small window. Inputs that several
// modes must read alike are also compared across modes: a valid UTF-8 input reads the same in the
// ANSI mode (which takes valid UTF-8 as UTF-8), in the UTF-8 mode, and, transcoded, in the UTF-16
// mode; a byte-order mark in front changes nothing. Each vector implementation of the
// scanner's loops (convert/scan_kernels.h) must answer as the portable one does,
// on the input itself and in whole conversions, and so must the SRT writer's
// (convert/srt_kernels.h), with the input taken as UTF-16 units.
#ifndef LUMENTRACE_TESTS_FUZZ_FUZZ_ENTRY_H_
#define LUMENTRACE_TESTS_FUZZ_FUZZ_ENTRY_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/scan_kernels.h"
#include "convert/srt_kernels.h"
#include "tests/support/reference_conversion.h"
#include "text/char_decoding.h"
#include "text/text_stream.h"
#include "text/utf16.h"

namespace fuzzing {

// Code pages worth reading the ANSI mode in besides the locale's own: the
// double-byte ones, the ones whose iconv decoders compose characters unless
// told not to, and a plain single-byte one.
inline const std::vector<std::string>& InterestingCodePages() {
  static const std::vector<std::string> pages = {"CP949",  "CP932",  "CP936", "CP950",
                                                 "CP1258", "CP1255", "CP874", "CP1252"};
  return pages;
}

struct Conversion {
  std::string srt;      // the output file's bytes
  std::string failure;  // empty when every check held
};

// Every LF in the output is written as CR LF. (A lone CR can reach a caption:
// an "&n" skip runs through the next ';' even when that lies inside a tag,
// whose line breaks are kept, so the tag's rest becomes caption text.)
inline std::string CheckSrtShape(const std::string& srt, size_t inputSize) {
  if (srt.size() < 2 || srt[0] != '\xFF' || srt[1] != '\xFE')
    return "output does not begin with the byte-order mark";
  if (srt.size() % 2 != 0) return "output has an odd number of bytes";
  for (size_t i = 2; i < srt.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(srt[i]) |
                                            static_cast<unsigned char>(srt[i + 1]) << 8);
    const bool crBefore = i >= 4 && srt[i - 2] == '\r' && srt[i - 1] == '\0';
    if (unit == u'\n' && !crBefore) return "LF without CR at byte " + std::to_string(i);
  }
  // Each block is written in at most two cues and a cue's number and time line
  // cost under 140 bytes, while a block takes at least 13 input bytes: the
  // output grows linearly with the input, never faster.
  if (srt.size() > 2 + 32 * (inputSize + 8))
    return "output of " + std::to_string(srt.size()) + " bytes from an input of " +
           std::to_string(inputSize);
  if (srt.size() > 2 && srt.compare(2, 6, std::string("1\0\r\0\n\0", 6)) != 0)
    return "the first cue is not numbered 1";
  return std::string();
}

using oracle::CompareWithReference;
using oracle::ConvertWith;

// Converts `bytes` read in `mode`. For the ANSI mode, `codePage` (CP1252
// when empty) decodes what is not valid UTF-8. The output must be what the
// reference conversion writes.
inline Conversion ConvertInMode(const std::string& bytes, StreamMode mode,
                                const std::string& codePage) {
  Conversion result;
  if (!ConvertWith(bytes, mode, codePage, false, result.srt)) {
    result.failure = "the output could not be written";
    return result;
  }
  result.failure = CheckSrtShape(result.srt, bytes.size());
  if (result.failure.empty())
    result.failure = CompareWithReference(bytes, mode, codePage, result.srt);
  if (result.failure.empty())
    result.failure = oracle::CompareWindowedReads(bytes, mode, codePage, result.srt);
  return result;
}

// UTF-16LE for well-formed UTF-8; false for anything else (overlong forms,
// surrogates, values past U+10FFFF, cut-off sequences).
inline bool TranscodeUtf8ToUtf16(const std::string& utf8, std::string& utf16) {
  utf16.clear();
  const auto put = [&utf16](std::uint32_t unit) {
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  };
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = 1;
    std::uint32_t cp = lead;
    std::uint32_t minimum = 0;
    if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, cp = lead & 0x07u, minimum = 0x10000;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, cp = lead & 0x0Fu, minimum = 0x800;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, cp = lead & 0x1Fu, minimum = 0x80;
    } else if (lead >= 0x80) {
      return false;
    }
    if (utf8.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto trail = static_cast<unsigned char>(utf8[i + k]);
      if ((trail & 0xC0) != 0x80) return false;
      cp = cp << 6 | (trail & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || IsSurrogate(cp)) return false;
    if (cp >= 0x10000) {
      put(LeadSurrogateOf(cp));
      put(TrailSurrogateOf(cp));
    } else {
      put(cp);
    }
    i += length;
  }
  return true;
}

// Each vector implementation of the scanner's loops against the portable one,
// over the input from each of its first 32 bytes (so that every byte falls at
// every place of a vector), with room for all of the output and for a little
// (one vector's worth and about it, and one unit).
inline std::string CompareScanKernels(const std::string& bytes) {
  constexpr char16_t kUntouched = 0xFDFD;
  const ScanKernels& portable = PortableScanKernels();
  const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::vector<char16_t> want(bytes.size() + 32);
  std::vector<char16_t> got(bytes.size() + 32);
  for (const ScanKernels* const* kernels = VectorScanKernels(); *kernels != nullptr; ++kernels) {
    const ScanKernels& vector = **kernels;
    const std::string name = vector.name;
    for (size_t from = 0; from < bytes.size() && from < 32; ++from) {
      const unsigned char* const in = data + from;
      const size_t size = bytes.size() - from;
      const std::string where = " differs from byte " + std::to_string(from);
      for (const bool utf8 : {false, true}) {
        for (const size_t room :
             {size, size_t{33}, size_t{17}, size_t{16}, size_t{15}, size_t{1}}) {
          size_t wantUnits = 0;
          size_t gotUnits = 0;
          unsigned wantMarks = 0;
          unsigned gotMarks = 0;
          const size_t wantTaken =
              portable.byteText(in, size, utf8, want.data(), room, wantUnits, wantMarks);
          // Nothing may be written past the room.
          std::fill(got.begin(), got.end(), kUntouched);
          const size_t gotTaken =
              vector.byteText(in, size, utf8, got.data(), room, gotUnits, gotMarks);
          if (wantTaken != gotTaken || wantUnits != gotUnits || wantMarks != gotMarks ||
              !std::equal(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(wantUnits),
                          got.begin()) ||
              std::find_if(got.begin() + static_cast<std::ptrdiff_t>(room), got.end(),
                           [](char16_t u) { return u != kUntouched; }) != got.end())
            return name + " byteText" + where + (utf8 ? " (UTF-8)" : "") + " with room " +
                   std::to_string(room);
        }
      }
      const size_t units = size / 2;
      const size_t wantCopied = portable.utf16Text(in, units, want.data());
      if (vector.utf16Text(in, units, got.data()) != wantCopied ||
          !std::equal(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(wantCopied),
                      got.begin()))
        return name + " utf16Text" + where;
      if (vector.tagStop(in, size) != portable.tagStop(in, size)) return name + " tagStop" + where;
      if (vector.utf16TagStop(in, units) != portable.utf16TagStop(in, units))
        return name + " utf16TagStop" + where;
    }
  }
  return std::string();
}

// The SRT writer's loops over the input taken as UTF-16 units (from its first
// and from its second byte): the portable ones against the plain encoding of
// the units, and each vector implementation against the portable one.
inline std::string CompareSrtKernels(const std::string& bytes) {
  const SrtKernels& portable = PortableSrtKernels();
  for (size_t from = 0; from < 2 && from < bytes.size(); ++from) {
    std::u16string units((bytes.size() - from) / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[from + 2 * i]) |
                                       static_cast<unsigned char>(bytes[from + 2 * i + 1]) << 8);
    }
    std::string plain16;
    std::string plain8;
    size_t line = 0;
    for (size_t i = 0; i <= units.size(); ++i) {
      if (i < units.size() && units[i] != u'\n') continue;
      AppendUtf8(plain8, std::u16string_view(units).substr(line, i - line));
      if (i < units.size()) plain8 += "\r\n";
      line = i + 1;
    }
    for (char16_t u : units) {
      if (u == u'\n') plain16 += std::string("\r\0", 2);
      plain16 += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    }
    const auto write = [&](const SrtKernels& kernels, bool utf8) {
      std::string out(utf8 ? SrtUtf8Room(units.size()) : SrtUtf16Room(units.size()), '\0');
      char* const end =
          (utf8 ? kernels.utf8Out : kernels.utf16Out)(units.data(), units.size(), &out[0]);
      out.resize(static_cast<size_t>(end - out.data()));
      return out;
    };
    const std::string where = " from byte " + std::to_string(from);
    if (write(portable, false) != plain16) return "portable utf16Out differs" + where;
    if (write(portable, true) != plain8) return "portable utf8Out differs" + where;
    for (const SrtKernels* const* kernels = VectorSrtKernels(); *kernels != nullptr; ++kernels) {
      const std::string name = (*kernels)->name;
      if (write(**kernels, false) != plain16) return name + " utf16Out differs" + where;
      if (write(**kernels, true) != plain8) return name + " utf8Out differs" + where;
    }
  }
  return std::string();
}

// Runs every check on one input. Returns a description of the first
// failure, or an empty string.
inline std::string CheckOneInput(const std::uint8_t* data, size_t size,
                                 const std::vector<std::string>& codePages) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto run = [&](const std::string& in, StreamMode mode, const std::string& page,
                       const char* label, std::string& srt) {
    Conversion c = ConvertInMode(in, mode, page);
    srt = std::move(c.srt);
    return c.failure.empty() ? std::string() : std::string(label) + " " + page + ": " + c.failure;
  };
  std::string srtUtf16, srtUtf8, srtAnsi, scratch, failure;
  if (!(failure = run(bytes, StreamMode::Utf16Binary, "", "UTF-16", srtUtf16)).empty())
    return failure;
  if (!(failure = run(bytes, StreamMode::Utf8Text, "", "UTF-8", srtUtf8)).empty()) return failure;
  for (const std::string& page : codePages) {
    if (!(failure = run(bytes, StreamMode::AnsiText, page, "ANSI", srtAnsi)).empty())
      return failure;
  }

  const bool startsWithUtf8Bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  std::string utf16;
  if (!startsWithUtf8Bom && TranscodeUtf8ToUtf16(bytes, utf16)) {
    if (srtAnsi != srtUtf8) return "valid UTF-8 reads differently in the ANSI and UTF-8 modes";
    if (!(failure = run(utf16, StreamMode::Utf16Binary, "", "UTF-16 transcoded", scratch)).empty())
      return failure;
    if (scratch != srtUtf8) return "valid UTF-8 reads differently once transcoded to UTF-16";
    if (!(failure = run("\xFF\xFE" + utf16, StreamMode::Utf16Binary, "", "UTF-16 BOM", scratch))
             .empty())
      return failure;
    if (scratch != srtUtf8) return "a UTF-16 byte-order mark changes the output";
  }
  if (!startsWithUtf8Bom) {
    if (!(failure = run("\xEF\xBB\xBF" + bytes, StreamMode::Utf8Text, "", "UTF-8 BOM", scratch))
             .empty())
      return failure;
    if (scratch != srtUtf8) return "a UTF-8 byte-order mark changes the output";
  }

  if (!(failure = CompareScanKernels(bytes)).empty()) return failure;
  if (!(failure = CompareSrtKernels(bytes)).empty()) return failure;
  // The same conversions through the portable loops (those above ran through
  // the fastest, and matched the reference), which are chosen back on return.
  struct ChoiceKept {
    const ScanKernels& fastest = ChosenScanKernels();
    ~ChoiceKept() { ChooseScanKernels(fastest); }
  } kept;
  ChooseScanKernels(PortableScanKernels());
  if (!ConvertWith(bytes, StreamMode::Utf16Binary, "", false, scratch) || scratch != srtUtf16)
    return "the portable loops read UTF-16 differently";
  if (!ConvertWith(bytes, StreamMode::Utf8Text, "", false, scratch) || scratch != srtUtf8)
    return "the portable loops read UTF-8 differently";
  if (!ConvertWith(bytes, StreamMode::AnsiText, codePages.back(), false, scratch) ||
      scratch != srtAnsi)
    return "the portable loops read ANSI differently";
  return std::string();
}

}  // namespace fuzzing

#endif  // LUMENTRACE_TESTS_FUZZ_FUZZ_ENTRY_H_
