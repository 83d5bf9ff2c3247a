#include "convert/file_conversion.h"

#include <cstdint>

#include "convert/encoding_probe.h"
#include "convert/srt_writer.h"
#include "convert/sync_block.h"
#include "driver/console_name.h"
#include "driver/path_names.h"
#include "platform/console.h"
#include "text/char_decoding.h"
#include "text/code_page_names.h"

// The conversion as first written, block by block through ReadSyncBlock and
// ParseSyncBlock: the reference the one-pass conversion (fast_conversion.cpp)
// is tested against.

namespace {

// A block is read twice on purpose: its closing sync tag is the next block's
// opening tag. After a read the input goes back to the block's last '<' (its
// closing tag's, as a rule), so the next read starts there. A block with no tag
// after its opening one (the last block of a file without closing tags) has
// nothing to go back to; the input stays where the read left it, so that block
// is never read again.
void MoveBackToLastTag(TextStream& input, const SyncBlock& block) {
  if (block.lastTagAt != block.openingTagAt) MoveTo(input, block.lastTagAt);
}

struct ParsedBlock {
  SyncBlock block;
  WideString timeLine;
  WideString caption;
  std::int64_t length = -1;  // seek-back length, -1 for an empty block
};

ParsedBlock ReadAndParse(TextStream& input) {
  ParsedBlock parsed;
  parsed.block = ReadSyncBlock(input);
  parsed.length = ParseSyncBlock(parsed.block.text, parsed.timeLine, parsed.caption);
  return parsed;
}

// The current block's caption repeats in the lookahead: read on while blocks
// repeat it, then write one cue spanning the run. The span is the current block
// up to its last '<' followed by the last repeating block from its last '<', so
// it runs from the current block's start to the start of the block that ended
// the run (or, when the input ends, to whatever the final tag says).
void WriteMergedRun(TextStream& input, TextStream& output, CueCounter& counter,
                    const ParsedBlock& current, SyncBlock lastRepeat) {
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
  // Built once, after the run: only the last repeat decides it.
  const WideString& first = current.block.text;
  const WideString& last = lastRepeat.text;
  WideString span = Left(first, ReverseFind(first, u'<'));
  const std::int64_t lastOpen = ReverseFind(last, u'<');
  span.append(last, lastOpen < 0 ? 0 : static_cast<size_t>(lastOpen), WideString::npos);
  WideString timeLine;
  WideString caption;
  ParseSyncBlock(span, timeLine, caption);
  WriteCue(output, counter, timeLine, caption);
  // The block that ended the run has not been written: the next pass starts with it.
  if (endedByBlock) MoveTo(input, endingReadFrom);
}

}  // namespace

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

std::int32_t ConvertStreamReference(TextStream& input, TextStream& output, std::int64_t seekUnit) {
  SkipHeader(input);
  CueCounter counter;
  // Each pass reads the current block and the one after it. Nothing but the
  // input's position and the counter carries over from one pass to the next.
  for (;;) {
    const ParsedBlock current = ReadAndParse(input);
    if (current.length == -1) break;
    MoveBackToLastTag(input, current.block);

    ParsedBlock next = ReadAndParse(input);
    if (next.length == -1) {
      // An empty lookahead moves the input one unit forward, past the end.
      MoveBy(input, seekUnit);
    } else {
      MoveBackToLastTag(input, next.block);
    }

    if (current.caption.empty()) {
      // A clearing block: it only serves as the end time of the block before it.
      if (!next.caption.empty()) WriteCue(output, counter, next.timeLine, next.caption);
    } else if (Compare(current.caption, next.caption) != 0) {
      WriteCue(output, counter, current.timeLine, current.caption);
      if (!next.caption.empty()) WriteCue(output, counter, next.timeLine, next.caption);
    } else {
      // A repeat is merged only when it begins at the current block of a pass;
      // a lookahead repeated by the block after it becomes a cue of its own.
      WriteMergedRun(input, output, counter, current, std::move(next.block));
    }
    if (AtEndOfFile(input)) break;
  }
  return counter.next - 1;
}

int ConvertFile(const WideString& path) {
  if (!HasSamiExtension(path)) return 0;
  const SourceEncoding encoding = DetectEncoding(path);
  if (encoding == EncodingUnreadable) {
    PrintToConsole(u"[ERROR] The data file could not be opened\n");
    return -1;
  }
  TextStream input;
  if (!OpenTextStream(input, path, InputModeFor(encoding), &CodePageDecoderFor(AnsiCodePageName())))
    return -1;
  TextStream output;
  if (!OpenOutputStream(output, OutputPathFor(path))) return -1;

  ConvertStream(input, output, SeekUnitFor(encoding));

  const bool written = CloseTextStream(output);
  CloseTextStream(input);
  if (!written) {
    PrintToConsole(u"[ERROR] The output file could not be written\n");
    return -1;
  }
  WideString message = u"[SUCCESS] '";
  message += ShownOnConsole(FindFileName(path));
  message += u"' conversion is complete!!\n";
  PrintToConsole(message);
  return 0;
}

std::string ConvertBytes(const std::string& sami, CodePageDecoder& codePage, std::int32_t* cues) {
  const SourceEncoding encoding =
      EncodingOfFirstByte(sami.empty() ? 0 : static_cast<unsigned char>(sami[0]));
  TextStream input;
  OpenTextStreamOverBytes(input, sami, InputModeFor(encoding), &codePage);
  std::string srt;
  TextStream output;
  OpenOutputStreamInMemory(output, srt);
  const std::int32_t written = ConvertStream(input, output, SeekUnitFor(encoding));
  if (cues != nullptr) *cues = written;
  CloseTextStream(output);
  CloseTextStream(input);
  return srt;
}
