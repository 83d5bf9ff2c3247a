#include "tests/support/reference_conversion.h"

#include <string>
#include <utility>

#include "convert/conversion.h"
#include "convert/sync_block.h"
#include "tests/support/string_source.h"
#include "text/char_decoding.h"

namespace {

// A block is read twice on purpose: its closing sync tag is the next block's
// opening tag. After a read the input goes back to the block's last '<', so the
// next read starts there; a block with no tag after its opening one has nothing
// to go back to, and is never read again.
void MoveBackToLastTag(TextStream& input, const SyncBlock& block) {
  if (block.lastTagAt != block.openingTagAt) MoveTo(input, block.lastTagAt);
}

struct ParsedBlock {
  SyncBlock block;
  CueTimes times;
  WideString caption;
  std::int64_t length = -1;  // seek-back length, -1 for an empty block
};

ParsedBlock ReadAndParse(TextStream& input) {
  ParsedBlock parsed;
  parsed.block = ReadSyncBlock(input);
  parsed.length = ParseSyncBlock(parsed.block.text, parsed.times, parsed.caption);
  return parsed;
}

void WriteCue(SrtWriter& output, const ParsedBlock& parsed) {
  WriteCue(output, parsed.times.start, parsed.times.end, parsed.caption);
}

// Reads on while blocks repeat the current caption, then writes one cue whose
// span runs from the current block up to its last '<' through the last repeat
// from its last '<'.
void WriteMergedRun(TextStream& input, SrtWriter& output, const ParsedBlock& current,
                    SyncBlock lastRepeat) {
  size_t endingReadFrom = 0;
  bool endedByBlock = false;
  for (;;) {
    const size_t readFrom = Position(input);
    ParsedBlock latest = ReadAndParse(input);
    if (latest.length == -1) break;
    MoveBackToLastTag(input, latest.block);
    if (Compare(latest.caption, current.caption) != 0) {
      endedByBlock = true;
      endingReadFrom = readFrom;
      break;
    }
    lastRepeat = std::move(latest.block);
  }
  const WideString& first = current.block.text;
  const WideString& last = lastRepeat.text;
  WideString span = Left(first, ReverseFind(first, u'<'));
  const std::int64_t lastOpen = ReverseFind(last, u'<');
  span.append(last, lastOpen < 0 ? 0 : static_cast<size_t>(lastOpen), WideString::npos);
  ParsedBlock merged;
  ParseSyncBlock(span, merged.times, merged.caption);
  WriteCue(output, merged);
  if (endedByBlock) MoveTo(input, endingReadFrom);
}

// Moves the input to the '<' of the first sync tag, or leaves it at the end.
void SkipHeader(TextStream& input) {
  WideString tag;
  for (;;) {
    const size_t at = Position(input);
    char16_t c = ReadCharInline(input);
    if (c == kEndOfInput) return;
    if (c != u'<') continue;
    tag.assign(1, u'<');
    do {
      c = ReadCharInline(input);
      if (c == kEndOfInput) return;  // a tag cut off by the end: no sync tag follows
      tag.push_back(ToLowerUnitInline(c));
    } while (c != u'>');
    if (IsSyncTag(tag)) {
      MoveTo(input, at);
      return;
    }
  }
}

SourceEncoding EncodingOfMode(StreamMode mode) {
  if (mode == StreamMode::Utf16Binary) return EncodingUnicode;
  return mode == StreamMode::Utf8Text ? EncodingUtf8 : EncodingAnsi;
}

}  // namespace

std::int32_t ConvertStreamReference(TextStream& input, SrtWriter& output, std::int64_t seekUnit) {
  SkipHeader(input);
  for (;;) {
    const ParsedBlock current = ReadAndParse(input);
    if (current.length == -1) break;
    MoveBackToLastTag(input, current.block);

    ParsedBlock next = ReadAndParse(input);
    if (next.length == -1) {
      MoveBy(input, seekUnit);
    } else {
      MoveBackToLastTag(input, next.block);
    }

    if (current.caption.empty()) {
      if (!next.caption.empty()) WriteCue(output, next);
    } else if (Compare(current.caption, next.caption) != 0) {
      WriteCue(output, current);
      if (!next.caption.empty()) WriteCue(output, next);
    } else {
      WriteMergedRun(input, output, current, std::move(next.block));
    }
    if (AtEndOfFile(input)) break;
  }
  return output.next - 1;
}

namespace oracle {

bool ConvertWith(const std::string& bytes, StreamMode mode, const std::string& codePage,
                 bool reference, std::string& srt) {
  CodePageDecoder& decoder = CodePageDecoderFor(codePage.empty() ? "CP1252" : codePage);
  srt.clear();
  if (!reference) {
    ConvertSami(bytes, EncodingOfMode(mode), decoder, StringSink(srt));
    return true;
  }
  TextStream input;
  OpenTextStreamOverBytes(input, bytes, mode, &decoder);
  SrtWriter output;
  StartSrt(output, StringSink(srt), SrtEncoding::kUtf16Le);
  ConvertStreamReference(input, output, mode == StreamMode::Utf16Binary ? 2 : 1);
  FinishSrt(output);
  return true;
}

std::string ConvertThroughWindow(const std::string& bytes, StreamMode mode,
                                 const std::string& codePage, size_t windowBytes) {
  CodePageDecoder& decoder = CodePageDecoderFor(codePage.empty() ? "CP1252" : codePage);
  StringSource file;
  file.bytes = bytes;
  std::string srt;
  ConvertSamiFrom(file.Source(), EncodingOfMode(mode), decoder, StringSink(srt), windowBytes);
  return srt;
}

std::string CompareWindowedReads(const std::string& bytes, StreamMode mode,
                                 const std::string& codePage, const std::string& srt) {
  // One small window, its size changing with the input's length, so that the
  // many inputs of a test are cut in many places (tests/input_window_test.cpp
  // tries every size on chosen inputs).
  const size_t window = kMaxCharBytes + bytes.size() % 13;
  if (ConvertThroughWindow(bytes, mode, codePage, window) != srt)
    return "differs when read through a window of " + std::to_string(window) + " bytes";
  return std::string();
}

std::string CompareWithReference(const std::string& bytes, StreamMode mode,
                                 const std::string& codePage, const std::string& srt) {
  std::string expected;
  if (!ConvertWith(bytes, mode, codePage, true, expected))
    return "the reference output could not be written";
  if (expected == srt) return std::string();
  size_t at = 0;
  while (at < srt.size() && at < expected.size() && srt[at] == expected[at]) ++at;
  return "differs from the reference conversion at output byte " + std::to_string(at);
}

}  // namespace oracle
