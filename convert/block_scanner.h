// Reading sync blocks in one pass over the input's bytes.
//
// A block is never read into text to be parsed later: the scan takes the sync
// times from the tags as they are read and builds the caption as it goes, the
// way the three cleaning steps (caption_cleanup.h) would have left it.
// Positions are byte offsets into the input, as the stream's are, so every move
// lands where ReadSyncBlock's would.
//
// Where the scan cannot see the cleaned result (an "&n" whose ';' lies past a
// tag), the block is read again by ReadSyncBlock and ParseSyncBlock, the
// scalar routine the scan falls back on.
//
// ANSI input is decoded as UTF-8 while it stays valid, and checked as it is
// decoded; the first invalid sequence marks the input, and the caller starts
// over in the code page.
#ifndef LUMENTRACE_CONVERT_BLOCK_SCANNER_H_
#define LUMENTRACE_CONVERT_BLOCK_SCANNER_H_

#include <cstddef>
#include <cstdint>

#include "convert/scan_kernels.h"
#include "convert/sync_block.h"
#include "text/char_decoding.h"
#include "text/text_stream.h"
#include "text/wide_buffer.h"
#include "text/wide_string.h"

// The bytes a scan reads: those the input's window holds (text/input_window.h),
// `size` bytes at `data` standing for input bytes [base, base + size). Inside
// a scan, positions count from `data`; everything a scan hands out or keeps
// for later (BlockScan, OpeningHint, validUpTo) counts from the input's start.
struct ScanInput {
  const unsigned char* data = nullptr;
  size_t size = 0;
  size_t base = 0;
  bool utf16 = false;
  CodePageDecoder* codePage = nullptr;  // null: UTF-8
  PlainCodePageUnits* plain = nullptr;  // the code page's, when there is one
  // ANSI input read as UTF-8 until proven otherwise: [0, validUpTo) is known
  // to be valid UTF-8 ending at a character boundary; `invalid` is set once an
  // invalid sequence is met at or after it.
  bool checking = false;
  size_t validUpTo = 0;
  bool invalid = false;
  char16_t lower[128] = {};   // the locale's lower case of each ASCII character
  char16_t folded[128] = {};  // that lowered again, as the case-blind comparisons see it
  bool plainLower = false;    // lower: A-Z to a-z, everything else to itself
  const ScanKernels* kernels = &ChosenScanKernels();
};

// What a read from one position gives: the block's positions, its times and
// its caption, and where the read left the input.
struct BlockScan {
  bool empty = true;
  size_t from = 0;
  size_t openingTagAt = 0;
  size_t lastTagAt = 0;
  size_t end = 0;
  bool hitEnd = false;  // the read met the end of the input (the stream's end indicator)
  // The block ends with a sync tag that holds no other '<': the tag at
  // lastTagAt is all that follows the block's caption, and whether its time
  // scanned (when not, the block's end is its start).
  bool closedBySyncTag = false;
  bool endScanned = false;
  // An "&n" was left without its ';' before the closing tag: a ';' in
  // whatever tag follows the caption would decide what the caption keeps.
  bool openEntity = false;
  CueTimes times;
  WideBuffer caption;
};

// The opening sync tag of a block that starts where the last block's closing
// tag began: the scan that read it need not read it again.
struct OpeningHint {
  bool valid = false;
  size_t at = 0;
  size_t after = 0;
  bool scanned = false;
  std::int32_t time = 0;
};

// The locale's answers to whether a unit is white space (IsWideSpace), kept
// for the units a conversion has asked about: the locale stays the same
// through one, and the units at the ends of caption lines repeat. A slot
// holds the last unit asked about of those that share it; the empty slots
// hold U+0000, which is not white space.
struct SpaceCache {
  char16_t unit[256] = {};
  bool space[256] = {};
};

struct BlockScanner {
  ScanInput in;  // kept pointing at what the stream's window holds after every call
  SpaceCache spaces;
  TextStream* stream = nullptr;  // the same bytes, for the fallback reads
  WideBuffer tag;                // the tag being read, lowercased
  OpeningHint hint;
};

// Prepares a scanner over the stream's bytes, in the stream's reading.
void StartScanner(BlockScanner& scanner, TextStream& stream);

// Reads the block at `from` as ReadSyncBlock and ParseSyncBlock would. A read
// is all or nothing: one that reaches the end of the window before the end of
// the input (where a character or the block may go on) is undone and made
// again over a window that holds more.
void ScanBlock(BlockScanner& scanner, size_t from, BlockScan& block);

// Moves `position` to the '<' of the first sync tag, or to where the input (or
// a U+FFFF) stopped the search, setting `atEnd` at the end of the input.
void SkipHeader(BlockScanner& scanner, size_t& position, bool& atEnd);

// The block at `from` as ReadSyncBlock reads it.
WideString ReadBlockText(BlockScanner& scanner, size_t from);

// Checks ANSI input read as UTF-8 from where the scans have checked it to its
// end; sets in.invalid when it is not valid.
void CheckRestOfInput(BlockScanner& scanner);

#endif  // LUMENTRACE_CONVERT_BLOCK_SCANNER_H_
