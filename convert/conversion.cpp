// The pass loop over the block scanner (block_scanner.h).
//
// A block is read twice on purpose: its closing sync tag is the next block's
// opening tag. After a read the input goes back to the block's last '<' (its
// closing tag's, as a rule), so the next read starts there. Each pass reads
// the current block and the one after it; nothing but the input's position,
// its end indicator and the cue count carries over from one pass to the next.
//
// The input may be a file read through a window (text/input_window.h): each
// read makes the window hold what it reads, so that a move back to bytes the
// window has already let go of reads them from the file again.
#include "convert/conversion.h"

#include <cstring>
#include <utility>

#include "convert/block_scanner.h"
#include "convert/sync_block.h"
#include "text/text_stream.h"

namespace {

struct Converter {
  BlockScanner scanner;
  BlockScan memo;  // the block that ended a merged run, read again next pass
  bool memoValid = false;
  SrtWriter* writer = nullptr;
};

// The input's position and end indicator.
struct Place {
  size_t at = 0;
  bool atEnd = false;
};

void Read(Converter& conv, Place& place, BlockScan& block) {
  if (conv.memoValid && conv.memo.from == place.at) {
    std::swap(block, conv.memo);
    conv.memoValid = false;
  } else {
    ScanBlock(conv.scanner, place.at, block);
  }
  place.at = block.end;
  if (block.hitEnd) place.atEnd = true;
}

// A block with no tag after its opening one (the last block of a file without
// closing tags) has nothing to go back to: the input stays where the read left
// it, so that block is never read again.
void MoveBackToLastTag(Place& place, const BlockScan& block) {
  if (block.lastTagAt != block.openingTagAt) {
    place.at = block.lastTagAt;
    place.atEnd = false;
  }
}

// Equal units, compared as bytes.
bool SameCaption(const BlockScan& a, const BlockScan& b) {
  return a.caption.size == b.caption.size &&
         (a.caption.size == 0 || std::memcmp(a.caption.buffer.get(), b.caption.buffer.get(),
                                             a.caption.size * sizeof(char16_t)) == 0);
}

void WriteCue(Converter& conv, const BlockScan& block) {
  WriteCue(*conv.writer, block.times.start, block.times.end, block.caption.View());
}

// The current block's caption repeats in the lookahead: read on while blocks
// repeat it, then write one cue spanning the run. The span is the current block
// up to its last '<' followed by the last repeating block from its last '<', so
// it runs from the current block's start to the start of the block that ended
// the run (or, when the input ends, to whatever the final tag says).
//
// As a rule the span is the current block with its closing sync tag swapped
// for the last repeat's: the same caption (a sync tag is dropped whole), the
// same start, and the end the last repeat's closing tag gives. The scans
// already hold all of that. The span is read again and parsed only where the
// swap could change more than the end:
//  - the current block or the last repeat does not end with a sync tag free of
//    other '<' (the run goes on to the end of the input, whose last block ends
//    in closing tags or text; a closing tag holds a '<', so its last '<' lies
//    inside it): the span is then cut elsewhere than at a whole tag;
//  - the current block leaves an "&n" open before its closing tag: a ';' in
//    either closing tag would end that entity inside the tag, so the caption
//    could differ from the current one.
void WriteMergedRun(Converter& conv, Place& place, const BlockScan& current, BlockScan& latest) {
  size_t lastRepeatFrom = latest.from;
  bool lastRepeatClosed = latest.closedBySyncTag;
  bool lastRepeatEndScanned = latest.endScanned;
  std::int32_t lastRepeatEnd = latest.times.end;
  size_t endingReadFrom = 0;
  bool endedByBlock = false;
  for (;;) {
    const size_t readFrom = place.at;
    Read(conv, place, latest);
    if (latest.empty) break;
    MoveBackToLastTag(place, latest);
    if (!SameCaption(latest, current)) {
      endedByBlock = true;
      endingReadFrom = readFrom;
      break;
    }
    lastRepeatFrom = readFrom;
    lastRepeatClosed = latest.closedBySyncTag;
    lastRepeatEndScanned = latest.endScanned;
    lastRepeatEnd = latest.times.end;
  }
  if (conv.scanner.in.invalid) return;
  if (current.closedBySyncTag && lastRepeatClosed && !current.openEntity) {
    const std::int32_t end = lastRepeatEndScanned ? lastRepeatEnd : current.times.start;
    WriteCue(*conv.writer, current.times.start, end, current.caption.View());
  } else {
    const WideString first = ReadBlockText(conv.scanner, current.from);
    const WideString last = ReadBlockText(conv.scanner, lastRepeatFrom);
    WideString span = Left(first, ReverseFind(first, u'<'));
    const std::int64_t lastOpen = ReverseFind(last, u'<');
    span.append(last, lastOpen < 0 ? 0 : static_cast<size_t>(lastOpen), WideString::npos);
    CueTimes times;
    WideString caption;
    ParseSyncBlock(span, times, caption);
    WriteCue(*conv.writer, times.start, times.end, caption);
  }
  // The block that ended the run has not been written: the next pass starts with it.
  if (endedByBlock) {
    std::swap(conv.memo, latest);
    conv.memoValid = true;
    place.at = endingReadFrom;
    place.atEnd = false;
  }
}

// One attempt at the whole conversion; false when ANSI input turned out not to
// be valid UTF-8 (nothing it wrote is to be kept).
bool Run(Converter& conv, size_t startAt, std::int64_t seekUnit) {
  Place place;
  place.at = startAt;
  InputWindow& window = conv.scanner.stream->input;
  window.keepFrom = startAt;
  SkipHeader(conv.scanner, place.at, place.atEnd);
  BlockScan current;
  BlockScan next;
  constexpr size_t kTypicalCaption = 256;
  current.caption.Reserve(kTypicalCaption);
  next.caption.Reserve(kTypicalCaption);
  const bool& invalid = conv.scanner.in.invalid;
  for (;;) {
    if (invalid) return false;
    // The window keeps the pass from its start while it can, so that the
    // merged run's first block is there to be read again.
    window.keepFrom = place.at;
    Read(conv, place, current);
    if (current.empty) break;
    MoveBackToLastTag(place, current);

    Read(conv, place, next);
    if (next.empty) {
      // An empty block's seek-back length is -1: moving back by it moves the
      // input one unit forward, past the end, which clears the end indicator.
      place.at += static_cast<size_t>(seekUnit);
      place.atEnd = false;
    } else {
      MoveBackToLastTag(place, next);
    }
    if (invalid) return false;

    if (current.caption.size == 0) {
      // A clearing block: it only serves as the end time of the block before it.
      if (next.caption.size != 0) WriteCue(conv, next);
    } else if (!SameCaption(current, next)) {
      WriteCue(conv, current);
      if (next.caption.size != 0) WriteCue(conv, next);
    } else {
      // A repeat is merged only when it begins at the current block of a pass;
      // a lookahead repeated by the block after it becomes a cue of its own.
      WriteMergedRun(conv, place, current, next);
    }
    if (place.atEnd) break;
  }
  CheckRestOfInput(conv.scanner);
  return !invalid;
}

// Converts the input of `input`, a stream just opened.
std::int32_t ConvertStream(TextStream& input, SourceEncoding encoding, SrtSink sink,
                           SrtEncoding output, AnsiReading ansi) {
  if (input.mode == StreamMode::AnsiText && ansi == AnsiReading::kCodePage) {
    input.readingChosen = true;
    ReadAnsiInCodePage(input);
  }
  // Bytes per character in the input's moves.
  const std::int64_t seekUnit = encoding == EncodingUnicode ? 2 : 1;
  const size_t startAt = Position(input);
  SrtWriter writer;
  StartSrt(writer, sink, output);
  Converter conv;
  conv.writer = &writer;
  StartScanner(conv.scanner, input);
  if (!Run(conv, startAt, seekUnit)) {
    // Not valid UTF-8: everything again in the code page, from the input's
    // first byte on (read again when it is no longer held).
    RestartSrt(writer);
    ReadAnsiInCodePage(input);
    Converter again;
    again.writer = &writer;
    StartScanner(again.scanner, input);
    Run(again, startAt, seekUnit);
  }
  FinishSrt(writer);
  return writer.next - 1;
}

}  // namespace

std::int32_t ConvertSami(std::string sami, SourceEncoding encoding, CodePageDecoder& codePage,
                         SrtSink sink, SrtEncoding output, AnsiReading ansi) {
  TextStream input;
  OpenTextStreamOverBytes(input, std::move(sami), StreamModeFor(encoding), &codePage);
  return ConvertStream(input, encoding, sink, output, ansi);
}

std::int32_t ConvertSamiFrom(ByteSource source, SourceEncoding encoding, CodePageDecoder& codePage,
                             SrtSink sink, size_t windowBytes) {
  TextStream input;
  OpenTextStreamOverSource(input, source, StreamModeFor(encoding), &codePage, windowBytes);
  const std::int32_t cues =
      ConvertStream(input, encoding, sink, SrtEncoding::kUtf16Le, AnsiReading::kUtf8WhenValid);
  return input.input.failed ? -1 : cues;
}

std::string ConvertBytes(const std::string& sami, CodePageDecoder& codePage, std::int32_t* cues,
                         SrtEncoding output) {
  const SourceEncoding encoding =
      EncodingOfFirstByte(sami.empty() ? 0 : static_cast<unsigned char>(sami[0]));
  std::string srt;
  const std::int32_t written = ConvertSami(sami, encoding, codePage, StringSink(srt), output);
  if (cues != nullptr) *cues = written;
  return srt;
}
