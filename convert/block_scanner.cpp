#include "convert/block_scanner.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "convert/caption_cleanup.h"

namespace {

// The next character as the stream's ReadChar returns it, or kNoMoreInput; U+FFFF
// comes back as itself, which ends a read like the end does. Invalid UTF-8
// from `checkedFrom` on marks the input.
inline std::int32_t Next(ScanInput& in, ReadPosition& cur, size_t checkedFrom) {
  const size_t at = cur.at;
  bool utf8Error = false;
  const std::int32_t c = ReadUnitAt(in.data, in.size, in.utf16, in.codePage, cur, utf8Error);
  if (utf8Error && in.checking && at >= checkedFrom) in.invalid = true;
  return c;
}

// A sequential read from `from` runs through validUpTo at a character
// boundary; what it decodes from there on has been checked as it went.
void CheckedThrough(ScanInput& in, size_t end) {
  if (in.base + end > in.validUpTo) in.validUpTo = in.base + end;
}

// Checks ANSI input read as UTF-8 through `to` (in the window); sets
// in.invalid when it is not.
void CheckUtf8UpTo(ScanInput& in, size_t to) {
  if (!in.checking || in.invalid || in.base + to <= in.validUpTo) return;
  const size_t from = in.validUpTo > in.base ? in.validUpTo - in.base : 0;
  const size_t reached = CheckUtf8(in.data, in.size, from, to);
  if (reached == kInvalidUtf8) {
    in.invalid = true;
  } else if (in.base + reached > in.validUpTo) {
    in.validUpTo = in.base + reached;
  }
}

enum class TagKind { kOther, kSync, kBreak };

// Finds the '>' of a plain tag from `at`, in characters of kStep bytes (1:
// bytes of ASCII-compatible input; 2: UTF-16LE units). False at the end of
// the input or at the first character that is not ASCII, is '<' or is CR.
template <size_t kStep>
bool FindPlainTagEnd(const ScanInput& in, size_t& at) {
  const size_t size = in.size;
  if (at >= size) return false;
  at += kStep == 1 ? in.kernels->tagStop(in.data + at, size - at)
                   : 2 * in.kernels->utf16TagStop(in.data + at, (size - at) / 2);
  return size - at >= kStep && in.data[at] == '>' && (kStep == 1 || in.data[at + 1] == 0);
}

// A plain tag read: what it is, and for a sync tag its time as ScanSyncTime
// gives it (`scanned` false and `time` 0 when it does not scan).
struct PlainTag {
  TagKind kind = TagKind::kOther;
  bool scanned = false;
  std::int32_t time = 0;
};

template <size_t kStep>
bool ReadPlainTagIn(const ScanInput& in, ReadPosition& cur, PlainTag& tag) {
  const unsigned char* const data = in.data;
  const size_t first = cur.at - kStep;  // the '<'
  size_t at = cur.at;
  if (!FindPlainTagEnd<kStep>(in, at)) return false;
  cur.at = at + kStep;
  const size_t length = (cur.at - first) / kStep;
  tag.kind = TagKind::kOther;
  if (length >= kSyncTagStart.size()) {
    for (size_t k = 1; k < kSyncTagStart.size(); ++k)
      if (in.lower[data[first + k * kStep]] != kSyncTagStart[k]) return true;
    tag.kind = TagKind::kSync;
    std::int32_t ms = 0;
    const auto charAt = [&in, data, first](size_t k) { return in.lower[data[first + k * kStep]]; };
    tag.scanned = ScanSyncTimeAt(charAt, length, ms);
    tag.time = tag.scanned ? ms : 0;
  } else if (length == 4 || length == 5) {
    // IsBreakTag on the lowered tag, which lowers it again to compare.
    for (const WideView breakTag : kBreakTags) {
      if (breakTag.size() != length) continue;
      size_t k = 0;
      while (k < length && in.folded[data[first + k * kStep]] == breakTag[k]) ++k;
      if (k == length) {
        tag.kind = TagKind::kBreak;
        break;
      }
    }
  }
  return true;
}

// Whether `b` lowercases to the ASCII letter `letter` where the table
// lowercases ASCII the plain way.
inline bool IsLetter(unsigned char b, char letter) {
  return (b | 0x20) == letter;
}

// "<sync start=" in characters of kStep bytes, and the bits that take a
// letter's case away.
template <size_t kStep>
struct SyncStartPattern {
  unsigned char cased[12 * kStep] = {};
  unsigned char wanted[12 * kStep] = {};
};

template <size_t kStep>
constexpr SyncStartPattern<kStep> MakeSyncStartPattern() {
  SyncStartPattern<kStep> made;
  const char letters[] = "<sync start=";
  for (size_t k = 0; k < 12; ++k) {
    const char c = letters[k];
    made.wanted[k * kStep] = static_cast<unsigned char>(c);
    made.cased[k * kStep] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? 0x20 : 0);
  }
  return made;
}

// Whether the plain tag at `p`, of at least twelve characters of kStep bytes,
// starts "<sync start=" whatever the case of its letters (and only they).
// Every character of a plain tag is ASCII, so a UTF-16LE unit's high byte is
// zero, as it is in the pattern.
template <size_t kStep>
inline bool StartsSyncTag(const unsigned char* p) {
  static constexpr SyncStartPattern<kStep> kPattern = MakeSyncStartPattern<kStep>();
  if constexpr (kStep == 1) {
    std::uint64_t head, headCase, headWanted;
    std::uint32_t rest, restCase, restWanted;
    std::memcpy(&head, p, sizeof head);
    std::memcpy(&rest, p + 8, sizeof rest);
    std::memcpy(&headCase, kPattern.cased, sizeof headCase);
    std::memcpy(&restCase, kPattern.cased + 8, sizeof restCase);
    std::memcpy(&headWanted, kPattern.wanted, sizeof headWanted);
    std::memcpy(&restWanted, kPattern.wanted + 8, sizeof restWanted);
    return (head | headCase) == headWanted && (rest | restCase) == restWanted;
  } else {
    std::uint64_t differ = 0;
    for (size_t k = 0; k < 12 * kStep; k += 8) {
      std::uint64_t word, cased, wanted;
      std::memcpy(&word, p + k, sizeof word);
      std::memcpy(&cased, kPattern.cased + k, sizeof cased);
      std::memcpy(&wanted, kPattern.wanted + k, sizeof wanted);
      differ |= (word | cased) ^ wanted;
    }
    return differ == 0;
  }
}

// The eight characters of kStep bytes at `p` as eight bytes, the first in the
// low bits. A UTF-16LE unit gives its low byte alone, which tells a digit
// within a plain tag (all ASCII) through its '>'; past that, anything goes.
template <size_t kStep>
inline std::uint64_t EightCharacters(const unsigned char* p) {
  if constexpr (kStep == 1) {
    return LoadLittle64(p);
  } else {
    const auto pack = [](std::uint64_t units) {
      std::uint64_t low = units & 0x00FF00FF00FF00FFull;
      low = (low | low >> 8) & 0x0000FFFF0000FFFFull;
      return (low | low >> 16) & 0xFFFFFFFFull;
    };
    return pack(LoadLittle64(p)) | pack(LoadLittle64(p + 8)) << 32;
  }
}

// How many of the bytes of `word` (the first in the low bits) are decimal
// digits before the first that is not, and (when any are) their value.
inline size_t LeadingDigits(std::uint64_t word, std::uint32_t& value) {
  constexpr std::uint64_t kBytes = 0x0101010101010101ull;
  const std::uint64_t low = word & 0x0F * kBytes;
  // Non-zero in each byte that is not '0' to '9'.
  const std::uint64_t other =
      ((word & 0xF0 * kBytes) ^ 0x30 * kBytes) | ((low + 6 * kBytes) & 0x10 * kBytes);
  const std::uint64_t stops = (((other & 0x7F * kBytes) + 0x7F * kBytes) | other) & 0x80 * kBytes;
  const size_t count = stops == 0 ? 8 : static_cast<size_t>(__builtin_ctzll(stops)) / 8;
  if (count == 0) return 0;
  // Leading zeros in front, then pairs, fours and eights of digits combined.
  std::uint64_t d = low << (8 * (8 - count));
  d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFull;
  d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFull;
  d = (d * 10000 + (d >> 32)) & 0xFFFFFFFFull;
  value = static_cast<std::uint32_t>(d);
  return count;
}

// ReadPlainTagIn<kStep> where the table lowercases ASCII the plain way (A-Z
// to a-z, everything else to itself): the tag is told by its characters' low
// bytes (a plain tag's characters are all ASCII), a sync tag's start by a few
// loads.
template <size_t kStep>
__attribute__((always_inline)) inline bool ReadPlainAsciiTag(const ScanInput& in, ReadPosition& cur,
                                                             PlainTag& tag) {
  const size_t first = cur.at - kStep;
  const unsigned char* const p = in.data + first;  // the '<'
  size_t at = cur.at;
  if (!FindPlainTagEnd<kStep>(in, at)) return false;
  const size_t length = (at + kStep - first) / kStep;
  cur.at = at + kStep;
  tag.kind = TagKind::kOther;
  const auto c = [p](size_t k) { return p[k * kStep]; };
  if (length >= kSyncTagStart.size()) {
    if (!StartsSyncTag<kStep>(p)) return true;
    tag.kind = TagKind::kSync;
    // The common time: up to nine digits straight after the '=', which
    // cannot go past the 32-bit range. The tag's '>' ends the digits.
    const size_t digitsAt = kSyncTagStart.size() * kStep;
    if (in.size - first >= digitsAt + 8 * kStep) {
      std::uint32_t value = 0;
      const size_t count = LeadingDigits(EightCharacters<kStep>(p + digitsAt), value);
      if (count != 0 && count < 8) {
        tag.scanned = true;
        tag.time = static_cast<std::int32_t>(value);
        return true;
      }
      if (count == 8) {  // the '>' lies further on, inside the tag
        const unsigned ninth = c(kSyncTagStart.size() + 8) - 0x30u;
        if (ninth >= 10 || c(kSyncTagStart.size() + 9) - 0x30u >= 10) {
          tag.scanned = true;
          tag.time = static_cast<std::int32_t>(ninth >= 10 ? value : value * 10 + ninth);
          return true;
        }
      }
    } else {
      size_t i = kSyncTagStart.size();
      const size_t digitsEnd = std::min(length, i + 9);
      std::int32_t value = 0;
      for (unsigned digit; i < digitsEnd && (digit = c(i) - 0x30u) < 10; ++i)
        value = value * 10 + static_cast<std::int32_t>(digit);
      if (i > kSyncTagStart.size() && (i == length || c(i) - 0x30u >= 10)) {
        tag.scanned = true;
        tag.time = value;
        return true;
      }
    }
    std::int32_t ms = 0;
    // What the time is read from (spaces, quotes, signs, digits) lowercases to itself.
    tag.scanned =
        ScanSyncTimeAt([&c](size_t k) { return static_cast<char16_t>(c(k)); }, length, ms);
    tag.time = tag.scanned ? ms : 0;
  } else if (length == 4) {
    if (IsLetter(c(1), 'b') && IsLetter(c(2), 'r')) tag.kind = TagKind::kBreak;  // "<br>"
  } else if (length == 5) {
    if ((c(1) == '/' && IsLetter(c(2), 'b') && IsLetter(c(3), 'r')) ||  // "</br>"
        (IsLetter(c(1), 'b') && IsLetter(c(2), 'r') && c(3) == '/'))    // "<br/>"
      tag.kind = TagKind::kBreak;
  }
  return true;
}

// Reads the common tag whose '<' has just been read without collecting it:
// ASCII characters other than CR and '<' through its '>', all in the input.
// A sync tag and a break tag are told from the rest by their lowercase
// through the table, and `cur` is left past the '>'. Any other tag (one that
// runs on to the end, or holds a '<', a CR or a character beyond ASCII) is
// left to ReadTag: false, and `cur` is not moved.
__attribute__((always_inline)) inline bool ReadPlainTag(const ScanInput& in, ReadPosition& cur,
                                                        PlainTag& tag) {
  if (in.utf16)
    return in.plainLower ? ReadPlainAsciiTag<2>(in, cur, tag) : ReadPlainTagIn<2>(in, cur, tag);
  return in.plainLower ? ReadPlainAsciiTag<1>(in, cur, tag) : ReadPlainTagIn<1>(in, cur, tag);
}

// Whether the plain tag [from, to) holds a ';' once lowercased.
bool PlainTagHasSemicolon(const ScanInput& in, size_t from, size_t to) {
  for (size_t i = from; i < to; i += in.utf16 ? 2 : 1)
    if (in.lower[in.data[i]] == u';') return true;
  return false;
}

// Drops "&n" through the next ';' from the run units[runStart, size): an
// entity such as "&nbsp;" leaves nothing, not even a space. An "&n" with no
// ';' after it in the run stays (and `unterminated` is set): whether it goes
// depends on what follows the run.
void StripEntities(WideBuffer& units, size_t runStart, bool& unterminated) {
  char16_t* u = units.data();
  size_t out = runStart;
  size_t i = runStart;
  const size_t size = units.size;
  while (i < size) {
    if (u[i] == u'&' && i + 1 < size && u[i + 1] == u'n') {
      size_t semicolon = i + 2;
      while (semicolon < size && u[semicolon] != u';') ++semicolon;
      if (semicolon < size) {
        i = semicolon + 1;
        continue;
      }
      unterminated = true;
      while (i < size) u[out++] = u[i++];
      break;
    }
    u[out++] = u[i++];
  }
  units.size = out;
}

inline bool IsSpace(SpaceCache& cache, char16_t c) {
  if (c < 0x80) return IsWideSpace(c);  // answered inline, without the locale
  const size_t slot = (c ^ c >> 8) & 0xFF;
  if (cache.unit[slot] != c) {
    cache.unit[slot] = c;
    cache.space[slot] = IsWideSpace(c);
  }
  return cache.space[slot];
}

void TrimLineEnds(SpaceCache& spaces, WideBuffer& units, size_t lineStart) {
  char16_t* u = units.data();
  size_t begin = lineStart;
  size_t end = units.size;
  TrimRangeWith(u, begin, end, [&spaces](char16_t c) { return IsSpace(spaces, c); });
  if (begin != lineStart) std::char_traits<char16_t>::move(u + lineStart, u + begin, end - begin);
  units.size = lineStart + (end - begin);
}

// Trims the line from `lineStart` to the end of `units`. A line that neither
// starts nor ends with white space (most do not) is left as it is without a
// call.
inline void TrimLine(SpaceCache& spaces, WideBuffer& units, size_t lineStart) {
  if (units.size == lineStart) return;
  if (!IsSpace(spaces, units.data()[lineStart]) && !IsSpace(spaces, units.data()[units.size - 1]))
    return;
  TrimLineEnds(spaces, units, lineStart);
}

// Trims a caption whose lines are each trimmed already: only the breaks of
// empty lines at its ends are left to go.
void DropEndBreaks(WideBuffer& caption) {
  char16_t* u = caption.data();
  size_t begin = 0;
  size_t end = caption.size;
  while (end > 0 && u[end - 1] == u'\n') --end;
  while (begin < end && u[begin] == u'\n') ++begin;
  if (begin != 0) std::char_traits<char16_t>::move(u, u + begin, end - begin);
  caption.size = end - begin;
}

// A break tag: the line so far is trimmed, and the next one begins.
void BreakLine(SpaceCache& spaces, WideBuffer& caption, size_t& lineStart) {
  TrimLine(spaces, caption, lineStart);
  caption.Reserve(1);
  caption.data()[caption.size++] = u'\n';
  lineStart = caption.size;
}

// How a tag read by ReadTag ended, and where its last '<' stands, in the
// input and in the tag.
struct TagRead {
  bool closed = false;      // false: the input (or a U+FFFF) came before its '>'
  bool endOfInput = false;  // the input itself ended
  size_t lastLess = 0;
  size_t lastLessIndex = 0;
};

// ASCII other than CR, '<' and '>' (in UTF-16, units of it) into the tag in bulk,
// lowercased through the table; true when the tag's room ran out before the
// run did.
bool CopyTagRun(const ScanInput& in, ReadPosition& cur, WideBuffer& tag) {
  size_t at = cur.at;
  tag.Reserve(64);
  char16_t* u = tag.data();
  size_t n = tag.size;
  const size_t room = tag.capacity;
  if (in.utf16) {
    while (n < room && in.size - at >= 2) {
      const unsigned char b = in.data[at];
      if (in.data[at + 1] != 0 || b >= 0x80 || b == '\r' || b == '<' || b == '>') break;
      u[n++] = in.lower[b];
      at += 2;
    }
  } else {
    while (n < room && at < in.size) {
      const unsigned char b = in.data[at];
      if (b >= 0x80 || b == '\r' || b == '<' || b == '>') break;
      u[n++] = in.lower[b];
      ++at;
    }
  }
  tag.size = n;
  cur.at = at;
  return n == room;
}

// Reads a tag whose '<' has just been read (at byte `at`) into scanner.tag,
// lowercased.
TagRead ReadTag(BlockScanner& scanner, ReadPosition& cur, size_t at, size_t checkedFrom) {
  ScanInput& in = scanner.in;
  WideBuffer& tag = scanner.tag;
  TagRead read;
  read.lastLess = at;
  tag.size = 0;
  tag.Reserve(64);
  tag.data()[tag.size++] = u'<';
  for (;;) {
    if (cur.pendingLow == 0 && CopyTagRun(in, cur, tag)) continue;
    const size_t here = cur.at;
    const std::int32_t c = Next(in, cur, checkedFrom);
    if (c == kNoMoreInput || c == kEndOfInput) {
      read.endOfInput = c == kNoMoreInput;
      return read;
    }
    tag.Reserve(1);
    if (c == u'<') {
      read.lastLess = here;
      read.lastLessIndex = tag.size;
    }
    tag.data()[tag.size++] = c < 0x80 ? in.lower[c] : ToLowerUnit(static_cast<char16_t>(c));
    if (c == u'>') {
      read.closed = true;
      return read;
    }
  }
}

// The time of a block's last tag, which is the block's end when it scans.
struct Tail {
  bool scanned = false;
  std::int32_t time = 0;
};

// The tail of a tag holding '<' inside: what follows its last '<'.
Tail TailOf(const WideBuffer& tag, size_t lastLessIndex) {
  Tail tail;
  if (lastLessIndex + 1 >= tag.size || tag.buffer.get()[lastLessIndex + 1] != u's') return tail;
  tail.scanned = ScanSyncTime(tag.View().substr(lastLessIndex), tail.time);  // 0 when not
  return tail;
}

// One read through the input.
struct ReadState {
  ReadPosition cur;
  size_t checkedFrom = 0;  // decoding checks UTF-8 from here on
  bool endOfInput = false;
  Tail tail;
  size_t lineStart = 0;       // the caption's current line
  bool unterminated = false;  // an "&n" still waits for a ';'
  bool needsFallback = false;
};

ReadState StartRead(ScanInput& in, size_t from) {
  CheckUtf8UpTo(in, from);
  ReadState read;
  read.checkedFrom = in.validUpTo > in.base ? in.validUpTo - in.base : 0;
  read.cur.at = from;
  return read;
}

struct OpeningTag {
  size_t at = 0;
  size_t lastLess = 0;
  std::int32_t start = 0;
  Tail tail;
};

// Reads on through the next sync tag; false when the input (or a U+FFFF) ends
// first. Everything before it is dropped.
bool FindSyncTag(BlockScanner& scanner, ReadState& read, OpeningTag& found) {
  for (;;) {
    const size_t at = read.cur.at;
    const std::int32_t c = Next(scanner.in, read.cur, read.checkedFrom);
    if (c == kNoMoreInput || c == kEndOfInput) {
      read.endOfInput = c == kNoMoreInput;
      return false;
    }
    if (c != u'<') continue;
    PlainTag plain;
    if (ReadPlainTag(scanner.in, read.cur, plain)) {
      if (plain.kind != TagKind::kSync) continue;
      found = {at, at, plain.time, {plain.scanned, plain.time}};
      return true;
    }
    const TagRead tag = ReadTag(scanner, read.cur, at, read.checkedFrom);
    if (!tag.closed) {
      read.endOfInput = tag.endOfInput;
      return false;
    }
    const WideView text = scanner.tag.View();
    if (IsSyncTag(text)) {
      std::int32_t start = 0;  // a start that does not scan is 0
      ScanSyncTime(text, start);
      found = {at, tag.lastLess, start, TailOf(scanner.tag, tag.lastLessIndex)};
      return true;
    }
  }
}

// What a run of caption text held, for the entity step.
struct RunMarks {
  bool ampersand = false;
  bool semicolon = false;
};

// The characters below '@' that end a run of caption text or need more than
// copying: '<', CR, LF, '&' and ';' (U+FFFF as well, beyond them).
constexpr std::uint64_t kTextStops = std::uint64_t{1} << '<' | std::uint64_t{1} << '\r' |
                                     std::uint64_t{1} << '\n' | std::uint64_t{1} << '&' |
                                     std::uint64_t{1} << ';';

inline bool IsTextStop(unsigned c) {
  return c < 64 && (kTextStops >> c & 1) != 0;
}

// ReadCaptionRun for UTF-16LE input, the caption's end kept in locals: the
// kernel copies the text between the units that stop it, which are looked at
// here one by one.
std::int32_t ReadUtf16CaptionRun(const ScanInput& in, ReadPosition& cur, WideBuffer& caption,
                                 RunMarks& marks, size_t& tagAt) {
  const unsigned char* const data = in.data;
  const size_t size = in.size;
  size_t at = cur.at;
  size_t n = caption.size;
  bool ampersand = false;
  bool semicolon = false;
  std::int32_t stop = kNoMoreInput;
  while (size - at >= 2) {
    const auto unit = static_cast<char16_t>(data[at] | data[at + 1] << 8);
    if (unit == u'<') {  // the commonest stop, after text and between tags
      tagAt = at;
      at += 2;
      stop = u'<';
      break;
    }
    if (IsTextStop(unit)) {
      // A line's end, CR LF, goes in one step.
      if (unit == u'\r' && size - at >= 4 && data[at + 2] == '\n' && data[at + 3] == 0) {
        at += 4;
        continue;
      }
      at += 2;
      if (unit == u'\r' || unit == u'\n') continue;
      ampersand |= unit == u'&';
      semicolon |= unit == u';';
      if (n == caption.capacity) {
        caption.size = n;
        caption.Reserve(1);
      }
      caption.data()[n++] = unit;
      continue;
    }
    if (unit == kEndOfInput) {
      at += 2;
      stop = kEndOfInput;
      break;
    }
    // Text the kernel copies, at least this unit, as far as the room goes.
    const size_t units = (size - at) / 2;
    if (caption.capacity - n < 256 && caption.capacity - n < units) {
      caption.size = n;
      caption.Reserve(units < 256 ? units : 256);
    }
    const size_t room = caption.capacity - n;
    const size_t plain =
        in.kernels->utf16Text(data + at, units < room ? units : room, caption.data() + n);
    n += plain;
    at += 2 * plain;
  }
  marks.ampersand |= ampersand;
  marks.semicolon |= semicolon;
  caption.size = n;
  cur.at = at;
  return stop;
}

// The same for UTF-8 input: ASCII and the two- and three-byte characters,
// which are valid and so need no check.
bool CopyByteRun(const ScanInput& in, ReadPosition& cur, WideBuffer& caption, RunMarks& marks) {
  const size_t size = in.size;
  size_t at = cur.at;
  if (at < size && in.data[at] == '<') return false;  // a tag straight after a tag
  if (size - at >= 3 && in.data[at] == '\r' && in.data[at + 1] == '\n' && in.data[at + 2] == '<') {
    cur.at = at + 2;  // a line's end between two tags, which leaves nothing
    return false;
  }
  caption.Reserve(size - at < 256 ? size - at + 1 : 256);
  char16_t* const u = caption.data();
  size_t n = caption.size;
  const size_t room = caption.capacity;
  unsigned seen = 0;
  size_t produced = 0;
  at += in.kernels->byteText(in.data + at, size - at, true, u + n, room - n, produced, seen);
  n += produced;
  marks.ampersand |= (seen & kAmpersandMark) != 0;
  marks.semicolon |= (seen & kSemicolonMark) != 0;
  caption.size = n;
  cur.at = at;
  return n == room;
}

// The same for input in a code page: ASCII, and the characters of one and two
// bytes that the code page's plain units hold (text/char_decoding.h).
bool CopyAnsiRun(const ScanInput& in, ReadPosition& cur, WideBuffer& caption, RunMarks& marks) {
  const unsigned char* const data = in.data;
  const size_t size = in.size;
  size_t at = cur.at;
  caption.Reserve(size - at < 256 ? size - at + 1 : 256);
  char16_t* u = caption.data();
  size_t n = caption.size;
  const size_t room = caption.capacity;
  bool ampersand = false;  // kept in registers, not written through `marks`
  bool semicolon = false;
  CodePageDecoder& decoder = *in.codePage;
  PlainCodePageUnits& plain = *in.plain;
  // Each unit takes a byte or more: the room lasts at least this far.
  const size_t limit = size - at < room - n ? size : at + (room - n);
  while (at < limit) {
    const unsigned char b = data[at];
    if (b >= 0x80) {
      const size_t length = PlainCodePageLength(decoder, plain, data + at, size - at, u[n]);
      if (length == 0) break;  // left to the character reader
      ++n;
      at += length;
      continue;
    }
    if (IsTextStop(b)) {
      if (b == '<') break;
      ++at;
      if (b == '\r' || b == '\n') continue;
      ampersand |= b == '&';
      semicolon |= b == ';';
      u[n++] = b;
      continue;
    }
    // Between the characters of a language written in the code page ASCII
    // comes a few bytes at a time (spaces, short words, "nbsp"): copied here,
    // up to 16 bytes; the kernel takes a run that goes on.
    const size_t shortEnd = limit - at < 16 ? limit : at + 16;
    u[n++] = b;
    ++at;
    while (at < shortEnd && data[at] < 0x80 && !IsTextStop(data[at])) u[n++] = data[at++];
    if (at != shortEnd || at == limit) continue;
    size_t produced = 0;
    unsigned seen = 0;
    at += in.kernels->byteText(data + at, limit - at, false, u + n, room - n, produced, seen);
    n += produced;
    ampersand |= (seen & kAmpersandMark) != 0;
    semicolon |= (seen & kSemicolonMark) != 0;
  }
  marks.ampersand |= ampersand;
  marks.semicolon |= semicolon;
  caption.size = n;
  cur.at = at;
  return at >= limit && at < size;  // the room ran out, or may have
}

// Reads caption text up to the next tag: CR and LF dropped, the rest kept as
// it is. Returns what stopped it: '<' (at byte `tagAt`), U+FFFF or kNoMoreInput.
std::int32_t ReadCaptionRun(ScanInput& in, ReadState& read, WideBuffer& caption, RunMarks& marks,
                            size_t& tagAt) {
  if (in.utf16) return ReadUtf16CaptionRun(in, read.cur, caption, marks, tagAt);
  for (;;) {
    if (read.cur.pendingLow == 0) {
      const bool full = in.codePage != nullptr ? CopyAnsiRun(in, read.cur, caption, marks)
                                               : CopyByteRun(in, read.cur, caption, marks);
      if (full) continue;
      if (read.cur.at < in.size && in.data[read.cur.at] == '<') {  // the common stop
        tagAt = read.cur.at++;
        return u'<';
      }
    }
    tagAt = read.cur.at;
    const std::int32_t c = Next(in, read.cur, read.checkedFrom);
    if (c == kNoMoreInput || c == kEndOfInput || c == u'<') return c;
    if (c == u'\r' || c == u'\n') continue;
    marks.ampersand |= c == u'&';
    marks.semicolon |= c == u';';
    caption.Reserve(1);
    caption.data()[caption.size++] = static_cast<char16_t>(c);
  }
}

// Reads the tag whose '<' stands at byte `at` inside the block: a break tag
// breaks the line, a sync tag closes the block and is remembered as the next
// block's opening tag. False when the block ends with it (a sync tag, or the
// input cutting the tag off).
bool ReadCaptionTag(BlockScanner& scanner, ReadState& read, size_t at, BlockScan& block) {
  PlainTag plain;
  if (ReadPlainTag(scanner.in, read.cur, plain)) {
    if (read.unterminated && PlainTagHasSemicolon(scanner.in, at, read.cur.at))
      read.needsFallback = true;
    block.lastTagAt = at;
    read.tail = {plain.scanned, plain.time};
    if (plain.kind == TagKind::kSync) {
      scanner.hint = {true, scanner.in.base + at, scanner.in.base + read.cur.at, plain.scanned,
                      plain.time};
      block.closedBySyncTag = true;
      return false;
    }
    if (plain.kind == TagKind::kBreak) BreakLine(scanner.spaces, block.caption, read.lineStart);
    return true;
  }
  const TagRead tag = ReadTag(scanner, read.cur, at, read.checkedFrom);
  if (!tag.closed) {
    read.endOfInput = tag.endOfInput;
    return false;
  }
  const WideView text = scanner.tag.View();
  if (read.unterminated && text.find(u';') != WideView::npos) read.needsFallback = true;
  block.lastTagAt = tag.lastLess;
  read.tail = TailOf(scanner.tag, tag.lastLessIndex);
  if (IsSyncTag(text)) {
    // With a '<' inside, the next block opens at that '<', not at this tag.
    if (tag.lastLessIndex == 0) {
      scanner.hint = {true, scanner.in.base + at, scanner.in.base + read.cur.at, read.tail.scanned,
                      read.tail.time};
      block.closedBySyncTag = true;
    }
    return false;
  }
  if (IsBreakTag(text)) BreakLine(scanner.spaces, block.caption, read.lineStart);
  return true;
}

// The caption from the opening tag on, cleaned as it is read.
void ReadCaption(BlockScanner& scanner, ReadState& read, BlockScan& block) {
  for (;;) {
    const size_t runStart = block.caption.size;
    RunMarks marks;
    size_t tagAt = 0;
    const std::int32_t c = ReadCaptionRun(scanner.in, read, block.caption, marks, tagAt);
    // The cleaning drops an "&n" through the next ';' even past tags, which
    // the scan has already dropped: a ';' after an open "&n" in an earlier
    // run leaves the block to the fallback.
    if (marks.semicolon && read.unterminated) read.needsFallback = true;
    if (marks.ampersand) StripEntities(block.caption, runStart, read.unterminated);
    if (c != u'<') {
      read.endOfInput = c == kNoMoreInput;
      return;
    }
    if (!ReadCaptionTag(scanner, read, tagAt, block)) return;
  }
}

// The block's caption as the fallback reads it.
void FallBack(BlockScanner& scanner, BlockScan& block) {
  CueTimes times;
  WideString caption;
  ParseSyncBlock(ReadBlockText(scanner, block.from), times, caption);
  block.caption.Assign(caption);
}

// Points the scan at the bytes the window holds.
void ViewWindow(BlockScanner& scanner) {
  const InputWindow& window = scanner.stream->input;
  scanner.in.data = HeldBytes(window);
  scanner.in.size = window.size;
  scanner.in.base = window.base;
}

// Checks ANSI input read as UTF-8 through input byte `to`, reading on
// through the window where the scans have not been.
void CheckThrough(BlockScanner& scanner, size_t to) {
  ScanInput& in = scanner.in;
  if (!in.checking || in.invalid || in.validUpTo >= to) return;
  const size_t reached = CheckInputUtf8(scanner.stream->input, in.validUpTo, to);
  if (reached == kInvalidUtf8) {
    in.invalid = true;
  } else if (reached > in.validUpTo) {
    in.validUpTo = reached;
  }
  ViewWindow(scanner);
}

// How far past a read's start the window should reach before the read
// begins, so that most blocks are read in one go: 64 KiB of a 1 MiB window.
size_t Lookahead(const BlockScanner& scanner) {
  return std::max(scanner.stream->input.smallest / 16, kMaxCharBytes);
}

// Makes the window hold input bytes [from, to), the bytes before `from` being
// checked first where the window would let them go unchecked.
void HoldFrom(BlockScanner& scanner, size_t from, size_t to) {
  CheckThrough(scanner, from);
  InputWindow& window = scanner.stream->input;
  if (!HoldsAlready(window, from, to)) HoldInput(window, from, to);
  ViewWindow(scanner);
}

// HoldFrom for a read from `from`, through the lookahead. The scan's view
// mirrors the window between calls, so a window that already holds the bytes,
// checked up to `from`, needs nothing done (as it is for most blocks, and for
// every block of a file the window holds whole: the lookahead stops at the
// input's end, as HoldsAlready's does).
void HoldForRead(BlockScanner& scanner, size_t from) {
  const ScanInput& in = scanner.in;
  const size_t to = std::max(from, std::min(from + Lookahead(scanner), scanner.stream->input.end));
  if (from >= in.base && to <= in.base + in.size &&
      (!in.checking || in.invalid || in.validUpTo >= from))
    return;
  HoldFrom(scanner, from, to);
}

// What a read may change besides its block, to be put back when it is undone.
struct ScanUndo {
  OpeningHint hint;
  size_t validUpTo = 0;
  bool invalid = false;
};

ScanUndo SaveForUndo(const BlockScanner& scanner) {
  return {scanner.hint, scanner.in.validUpTo, scanner.in.invalid};
}

// Whether the held bytes from input byte `at` on show what may open a sync
// tag: "<sync" in any case (in units of the read that started at `from`), with
// room for the rest of the tag after it. It only tells how much the window
// should hold before a cut read is made again, so a wrong answer costs time,
// never a different result.
bool MayHoldSyncTag(const ScanInput& in, size_t from, size_t at) {
  const size_t step = in.utf16 ? 2 : 1;
  const size_t room = 64 * step;
  size_t i = at > in.base ? at - in.base : 0;
  while (in.size >= room && i <= in.size - room) {
    const void* less = std::memchr(in.data + i, '<', in.size - room + 1 - i);
    if (less == nullptr) return false;
    i = static_cast<size_t>(static_cast<const unsigned char*>(less) - in.data);
    bool match = !in.utf16 || (in.base + i - from) % 2 == 0;
    for (size_t k = 0; match && k < 5; ++k) {
      match = (in.data[i + k * step] | 0x20) == "<sync"[k] &&
              (!in.utf16 || in.data[i + k * step + 1] == 0);
    }
    if (match) return true;
    ++i;
  }
  return false;
}

// A read that stopped within a character's length of the window's end may have
// been cut there (the end of the input, a character cut in two taken for an
// invalid one): unless the window holds the input's end, it is undone, and the
// window slides past it (or grows, when it holds nothing before `from`), on
// until it holds what may be the tag that ends the read, so that a block
// longer than the window is read again once or twice, not once per growth.
bool UndoIfCut(BlockScanner& scanner, size_t from, size_t stop, const ScanUndo& undo) {
  ScanInput& in = scanner.in;
  if (stop + kMaxCharBytes <= in.size || HoldsInputEnd(scanner.stream->input)) return false;
  scanner.hint = undo.hint;
  in.validUpTo = undo.validUpTo;
  in.invalid = undo.invalid;
  for (;;) {
    const size_t heldEnd = in.base + in.size;
    HoldFrom(scanner, from, heldEnd + kMaxCharBytes);
    const size_t lookBack = 64 * (in.utf16 ? 2 : 1);  // a tag the old end cut in two
    if (HoldsInputEnd(scanner.stream->input) ||
        MayHoldSyncTag(in, from, heldEnd - std::min(heldEnd - from, lookBack)))
      return true;
  }
}

// ScanBlock over the window, `from` counted in it; true when the block is
// to be read by the fallback.
bool ScanHeldBlock(BlockScanner& scanner, size_t from, BlockScan& block) {
  block.from = from;
  block.empty = true;
  block.closedBySyncTag = false;
  block.caption.size = 0;
  ReadState read = StartRead(scanner.in, from);
  OpeningTag opening;
  const OpeningHint& hint = scanner.hint;
  if (hint.valid && hint.at == scanner.in.base + from &&
      hint.after <= scanner.in.base + scanner.in.size) {
    opening = {from, from, hint.time, {hint.scanned, hint.time}};
    read.cur.at = hint.after - scanner.in.base;
    block.empty = false;
  } else {
    block.empty = !FindSyncTag(scanner, read, opening);
  }
  if (!block.empty) {
    scanner.hint.valid = false;
    block.openingTagAt = opening.at;
    block.lastTagAt = opening.lastLess;
    block.times.start = opening.start;
    read.tail = opening.tail;
    ReadCaption(scanner, read, block);
    block.times.end = read.tail.scanned ? read.tail.time : block.times.start;
    block.endScanned = read.tail.scanned;
    block.openEntity = read.unterminated;
  }
  block.end = read.cur.at;
  block.hitEnd = read.endOfInput;
  CheckedThrough(scanner.in, read.cur.at);
  if (block.empty || read.needsFallback) return read.needsFallback;
  // Lines trimmed, the whole caption loses the empty lines at its ends.
  TrimLine(scanner.spaces, block.caption, read.lineStart);
  DropEndBreaks(block.caption);
  return false;
}

}  // namespace

void StartScanner(BlockScanner& scanner, TextStream& stream) {
  scanner.stream = &stream;
  ScanInput& in = scanner.in;
  ViewWindow(scanner);
  in.utf16 = stream.mode == StreamMode::Utf16Binary;
  in.plainLower = true;
  for (char16_t c = 0; c < 128; ++c) {
    in.lower[c] = ToLowerUnitInline(c);
    in.folded[c] = ToLowerUnitInline(in.lower[c]);
    in.plainLower &= in.lower[c] == (c >= u'A' && c <= u'Z' ? c + 0x20 : c);
  }
  // ANSI input is read as UTF-8 while it is valid, checked as it is decoded.
  in.checking = ReadAnsiAsUtf8(stream);
  in.codePage = stream.codePage;
  in.plain = in.codePage != nullptr ? &PlainUnitsOf(*in.codePage) : nullptr;
}

void ScanBlock(BlockScanner& scanner, size_t from, BlockScan& block) {
  HoldForRead(scanner, from);
  const ScanUndo undo = SaveForUndo(scanner);
  bool fallBack = false;
  do {
    fallBack = ScanHeldBlock(scanner, from - scanner.in.base, block);
    // (A read that stopped short of the window's last character needs no look.)
  } while (block.end + kMaxCharBytes > scanner.in.size &&
           UndoIfCut(scanner, from, block.end, undo));
  const size_t base = scanner.in.base;
  block.from = from;
  block.openingTagAt += base;
  block.lastTagAt += base;
  block.end += base;
  if (!block.empty && fallBack) FallBack(scanner, block);
}

void SkipHeader(BlockScanner& scanner, size_t& position, bool& atEnd) {
  HoldFrom(scanner, position, position + Lookahead(scanner));
  const ScanUndo undo = SaveForUndo(scanner);
  for (;;) {
    ScanInput& in = scanner.in;
    ReadState read = StartRead(in, position - in.base);
    OpeningTag found;
    const bool foundTag = FindSyncTag(scanner, read, found);
    CheckedThrough(in, read.cur.at);
    if (UndoIfCut(scanner, position, read.cur.at, undo)) continue;
    if (foundTag) {
      position = in.base + found.at;
    } else {
      position = in.base + read.cur.at;
      atEnd = read.endOfInput;
    }
    return;
  }
}

WideString ReadBlockText(BlockScanner& scanner, size_t from) {
  MoveTo(*scanner.stream, from);
  WideString text = ReadSyncBlock(*scanner.stream).text;
  ViewWindow(scanner);  // the stream's read may have moved the window
  return text;
}

void CheckRestOfInput(BlockScanner& scanner) {
  CheckThrough(scanner, kUnknownEnd);
}
