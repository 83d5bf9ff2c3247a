// SAMI read as a character stream, one sync block at a time.
//
// A tag runs from '<' to the next '>' and is lowercased on reading; a sync tag
// is one whose lowercased form begins "<sync start="; a block runs from one
// sync tag through the next (its closing tag), which the next block opens
// with again. The input is not parsed as markup.
#ifndef LUMENTRACE_CONVERT_SYNC_BLOCK_H_
#define LUMENTRACE_CONVERT_SYNC_BLOCK_H_

#include <climits>
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

// What every sync tag begins with, once lowercased.
constexpr WideView kSyncTagStart = u"<sync start=";

// True when the tag (already lowercased) is a sync tag.
inline bool IsSyncTag(WideView tag) {
  return tag.substr(0, kSyncTagStart.size()) == kSyncTagStart;
}

// Reads from the current position: everything before the first sync tag is
// dropped, then the block is collected through the next sync tag's '>' (or to
// the end of the input, which leaves the last block open). A tag cut off by
// the end of the input is dropped.
SyncBlock ReadSyncBlock(TextStream& input);

// The time of a sync tag of `length` characters whose k-th (lowercased)
// character is `at(k)`, and which begins with kSyncTagStart: optional white
// space, an optional quote (' or "), an optional sign and digits. Values beyond
// the 32-bit range saturate. False when the text does not scan.
template <typename CharAt>
bool ScanSyncTimeAt(CharAt at, size_t length, std::int32_t& ms) {
  size_t i = kSyncTagStart.size();
  while (i < length && IsWideSpace(at(i))) ++i;
  if (i < length && (at(i) == u'"' || at(i) == u'\'')) ++i;
  bool negative = false;
  if (i < length && (at(i) == u'+' || at(i) == u'-')) {
    negative = at(i) == u'-';
    ++i;
  }
  const size_t digitsStart = i;
  // The magnitude stops growing just past the 32-bit range, so that any
  // number of digits saturates without overflow.
  constexpr std::int64_t kCap = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  for (unsigned digit; i < length && (digit = static_cast<unsigned>(at(i)) - u'0') <= 9; ++i) {
    if (magnitude < kCap) magnitude = magnitude * 10 + digit;
  }
  if (i == digitsStart) return false;
  const std::int64_t value = negative ? -magnitude : magnitude;
  ms = static_cast<std::int32_t>(value > INT32_MAX   ? INT32_MAX
                                 : value < INT32_MIN ? INT32_MIN
                                                     : value);
  return true;
}

// The same over text that may not be a sync tag at all.
inline bool ScanSyncTime(WideView text, std::int32_t& ms) {
  return IsSyncTag(text) && ScanSyncTimeAt([text](size_t k) { return text[k]; }, text.size(), ms);
}

// A cue's start and end, in milliseconds.
struct CueTimes {
  std::int32_t start = 0;
  std::int32_t end = 0;
};

// Turns a block into its times and its caption text, and returns the seek-back
// length (the characters from its last '<' to its end), or -1 for an empty
// block, leaving the outputs untouched. A start that does not scan is 0; an end
// that does not scan (a block ending in caption text or a non-sync tag) equals
// the start.
std::int64_t ParseSyncBlock(WideView block, CueTimes& times, WideString& caption);

#endif  // LUMENTRACE_CONVERT_SYNC_BLOCK_H_
