// SAMI read as a character stream, one sync block at a time.
//
// A tag runs from '<' to the next '>' and is lowercased on reading; a sync tag
// is one whose lowercased form begins "<sync start="; a block runs from one
// sync tag through the next (its closing tag), which the next block opens
// with again. The input is not parsed as markup.
#ifndef LUMENTRACE_CONVERT_SYNC_BLOCK_H_
#define LUMENTRACE_CONVERT_SYNC_BLOCK_H_

#include <cstddef>
#include <cstdint>

#include "text/text_stream.h"
#include "text/wide_string.h"

struct SyncBlock {
  // The block as read: tags lowercased, CR and LF outside tags dropped, white
  // space trimmed at both ends. Empty when no sync tag came before the end.
  WideString text;
  // Byte positions in the input of the opening tag's '<' and of the block's
  // last '<' (the one the seek-back length counts from), so that the input can
  // be moved back to exactly where the next block begins.
  size_t openingTagAt = 0;
  size_t lastTagAt = 0;
};

// True when the tag (already lowercased) is a sync tag.
bool IsSyncTag(WideView tag);

// Reads from the current position: everything before the first sync tag is
// dropped, then the block is collected through the next sync tag's '>' (or to
// the end of the input, which leaves the last block open). A tag cut off by
// the end of the input is dropped.
SyncBlock ReadSyncBlock(TextStream& input);

// Reads the number of a sync tag: the exact text "<sync start=", optional
// white space, an optional quote (' or "), an optional sign and digits. Values
// beyond the 32-bit range saturate. False when the text does not scan.
bool ScanSyncTime(WideView text, std::int32_t& ms);

// How a sync time's digits accumulate: a magnitude capped just past the
// 32-bit range, so that any number of digits saturates without overflow.
constexpr std::int64_t kSyncDigitsCap = std::int64_t{1} << 32;
inline std::int64_t AddSyncDigit(std::int64_t magnitude, char16_t digit) {
  return magnitude < kSyncDigitsCap ? magnitude * 10 + (digit - u'0') : magnitude;
}
// The time the digits give, with their sign, saturated to 32 bits.
std::int32_t SaturatedSyncTime(bool negative, std::int64_t magnitude);

// Turns a block into its time line ("start --> end") and its caption text, and
// returns the seek-back length (the characters from its last '<' to its end),
// or -1 for an empty block, leaving the outputs untouched. A start that does
// not scan is 0; an end that does not scan (a block ending in caption text or a
// non-sync tag) equals the start.
std::int64_t ParseSyncBlock(WideView block, WideString& timeLine, WideString& caption);

#endif  // LUMENTRACE_CONVERT_SYNC_BLOCK_H_
