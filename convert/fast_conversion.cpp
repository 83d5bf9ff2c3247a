// The conversion in one pass over the input's bytes.
//
// It makes the moves ConvertStreamReference makes (file_conversion.cpp) and
// writes the same bytes, but a block is never read into text to be parsed
// later: its scan takes the sync times from the tags as they are read and
// builds the caption as it goes, the way the three cleaning steps would have
// left it. Positions are byte offsets into the input, as the stream's are, so
// every backward move lands where the reference's lands.
//
// Where the scan cannot see the cleaned result (an "&n" whose ';' lies past a
// tag), the block is read again the reference way. So is the span of a merged
// run, which is built once per run.
//
// ANSI input is decoded as UTF-8 while it stays valid; the first invalid
// sequence starts the conversion over in the code page, output included.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "convert/caption_cleanup.h"
#include "convert/file_conversion.h"
#include "convert/srt_time.h"
#include "convert/sync_block.h"
#include "platform/output_file.h"
#include "text/char_decoding.h"

namespace {

constexpr char16_t kLeadSurrogateBase = 0xD7C0;  // 0xD800 - (0x10000 >> 10)
constexpr std::int32_t kRealEnd = -1;            // the input has ended (not U+FFFF)
constexpr WideView kSyncTagStart = u"<sync start=";

struct Input {
  const unsigned char* data = nullptr;
  size_t size = 0;
  bool utf16 = false;
  CodePageDecoder* codePage = nullptr;  // null: UTF-8
  // ANSI input read as UTF-8 until proven otherwise: [0, validUpTo) is known
  // to be valid UTF-8 ending at a character boundary; `invalid` is set once an
  // invalid sequence is met at or after it.
  bool checking = false;
  size_t validUpTo = 0;
  bool invalid = false;
  char16_t lower[128] = {};  // the locale's lower case of each ASCII character
};

// A reading position: the byte offset and the second half of a surrogate
// pair still to be returned, as in the stream.
struct Cursor {
  size_t at = 0;
  char16_t pendingLow = 0;
};

bool IsUtf8Error(const unsigned char* p, const DecodedChar& c) {
  // A replacement character is an error unless it was written out in full (EF BF BD).
  return c.codePoint == kReplacementChar && !(c.length == 3 && p[0] == 0xEF);
}

// The characters that are not ASCII, in the text modes.
std::int32_t NextWide(Input& in, Cursor& cur, size_t checkedFrom) {
  const size_t at = cur.at;
  const unsigned char* p = in.data + at;
  DecodedChar c;
  if (in.codePage != nullptr) {
    c = DecodeCodePage(*in.codePage, p, in.size - at);
  } else {
    c = DecodeUtf8(p, in.size - at);
    if (in.checking && at >= checkedFrom && IsUtf8Error(p, c)) in.invalid = true;
  }
  cur.at = at + c.length;
  if (c.codePoint < 0x10000) return static_cast<std::int32_t>(c.codePoint);
  cur.pendingLow = static_cast<char16_t>(0xDC00 + (c.codePoint & 0x3FF));
  return static_cast<std::int32_t>(kLeadSurrogateBase + (c.codePoint >> 10));
}

// The next character as the stream's ReadChar returns it, or kRealEnd.
// U+FFFF comes back as itself (0xFFFF), which ends a read like the end does.
inline std::int32_t Next(Input& in, Cursor& cur, size_t checkedFrom) {
  if (cur.pendingLow != 0) {
    const char16_t low = cur.pendingLow;
    cur.pendingLow = 0;
    return low;
  }
  const size_t at = cur.at;
  if (in.utf16) {
    if (at >= in.size || in.size - at < 2) return kRealEnd;  // a lone last byte is the end too
    cur.at = at + 2;
    return in.data[at] | in.data[at + 1] << 8;
  }
  if (at >= in.size) return kRealEnd;
  const unsigned char first = in.data[at];
  if (first < 0x80) {
    if (first == '\r' && at + 1 < in.size && in.data[at + 1] == '\n') {
      cur.at = at + 2;
      return u'\n';
    }
    cur.at = at + 1;
    return first;
  }
  return NextWide(in, cur, checkedFrom);
}

// Four UTF-16LE units, the first in the low bits, whatever the machine's byte order.
inline std::uint64_t LoadFourUnits(const unsigned char* p) {
  return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
         std::uint64_t{p[3]} << 24 | std::uint64_t{p[4]} << 32 | std::uint64_t{p[5]} << 40 |
         std::uint64_t{p[6]} << 48 | std::uint64_t{p[7]} << 56;
}

constexpr std::uint64_t kLanes = 0x0001000100010001ull;

// The top bit of each lane of `word` that is zero, and possibly of lanes above
// one that is (the borrow runs on): never set when no lane is zero.
inline std::uint64_t ZeroLanes(std::uint64_t word) {
  return (word - kLanes) & ~word & 0x8000800080008000ull;
}

// Of four units in `word`, the lowest set bit marks the first that needs more
// than copying in a text run: '<', U+FFFF, CR, LF, '&' or ';', or one of a few
// others taken along with them (the rest of 0x08-0x0F, '8' to '?', U+FFF8 to
// U+FFFE), which then go the unit-by-unit way. Zero when all four are plain.
inline std::uint64_t TextRunStops(std::uint64_t word) {
  const std::uint64_t low3 = word | 7 * kLanes;
  return ZeroLanes(low3 ^ 0x000F * kLanes) | ZeroLanes(low3 ^ 0x003F * kLanes) |
         ZeroLanes(low3 ^ 0xFFFF * kLanes) | ZeroLanes(word ^ u'&' * kLanes);
}

inline char16_t Lower(const Input& in, std::int32_t c) {
  return c < 0x80 ? in.lower[c] : ToLowerUnit(static_cast<char16_t>(c));
}

// Checks [validUpTo, to) when a read is about to start past what has been
// checked (a forward move can land there); the check may stop past `to`, at
// the end of the character `to` lies in.
void CheckUpTo(Input& in, size_t to) {
  if (!in.checking || in.invalid) return;
  size_t i = in.validUpTo;
  if (to > in.size) to = in.size;
  while (i < to) {
    while (i + 8 <= to) {
      std::uint64_t word;
      std::memcpy(&word, in.data + i, sizeof word);
      if ((word & 0x8080808080808080ull) != 0) break;
      i += 8;
    }
    if (i >= to) break;
    if (in.data[i] < 0x80) {
      ++i;
      continue;
    }
    const DecodedChar c = DecodeUtf8(in.data + i, in.size - i);
    if (IsUtf8Error(in.data + i, c)) {
      in.invalid = true;
      return;
    }
    i += c.length;
  }
  if (i > in.validUpTo) in.validUpTo = i;
}

// A sequential read from `from` runs through validUpTo at a character
// boundary; what it decodes from there on has been checked as it went.
void CheckedThrough(Input& in, size_t end) {
  if (end > in.validUpTo) in.validUpTo = end;
}

// A growable run of units whose length is kept apart from its storage, so
// that reuse across blocks never frees or zeroes anything. It grows by
// realloc, which moves a large buffer without holding two copies at once:
// one huge caption costs about its own size.
struct Units {
  struct Free {
    void operator()(char16_t* p) const { std::free(p); }
  };
  std::unique_ptr<char16_t, Free> buffer;
  size_t capacity = 0;
  size_t size = 0;
  void Reserve(size_t extra) {
    if (capacity - size >= extra) return;
    const size_t wanted = capacity + capacity / 2 + extra + 64;
    void* grown = std::realloc(buffer.get(), wanted * sizeof(char16_t));
    if (grown == nullptr) throw std::bad_alloc();
    buffer.release();
    buffer.reset(static_cast<char16_t*>(grown));
    capacity = wanted;
  }
  char16_t* data() { return buffer.get(); }
  WideView View() const { return WideView(buffer.get(), size); }
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
  std::int32_t start = 0;
  std::int32_t endTime = 0;
  Units caption;
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

struct Converter {
  Input in;
  TextStream* stream = nullptr;  // the same bytes, for the reference reads
  Units tag;                     // the tag being read, lowercased
  OpeningHint hint;
  BlockScan memo;  // the block that ended a merged run, read again next pass
  bool memoValid = false;
  std::string out;  // UTF-16LE output not yet handed to the file
  OutputFile* file = nullptr;
  std::int32_t cueNumber = 1;
  bool firstCue = true;
  WideString timeLine;  // scratch for the reference reads
  WideString caption;
};

bool TagIsSync(WideView tag) {
  return tag.size() >= kSyncTagStart.size() &&
         std::char_traits<char16_t>::compare(tag.data(), kSyncTagStart.data(),
                                             kSyncTagStart.size()) == 0;
}

bool TagIsBreak(WideView tag) {
  if (tag.size() != 4 && tag.size() != 5) return false;
  return (tag.size() == 4 && CompareNoCase(tag, u"<br>") == 0) ||
         CompareNoCase(tag, u"</br>") == 0 || CompareNoCase(tag, u"<br/>") == 0;
}

enum class TagKind { kOther, kSync, kBreak };

constexpr std::uint64_t kBytes = 0x0101010101010101ull;

// The top bit of each byte of `word` that is zero, and possibly of bytes
// above one that is: never set when no byte is zero.
inline std::uint64_t ZeroBytes(std::uint64_t word) {
  return (word - kBytes) & ~word & 0x8080808080808080ull;
}

inline std::uint64_t LoadEightBytes(const unsigned char* p) {
  std::uint64_t word = 0;
  for (size_t k = 0; k < 8; ++k) word |= std::uint64_t{p[k]} << (8 * k);
  return word;
}

// Finds the '>' of a plain tag from `at`, in characters of kStep bytes (1:
// bytes of ASCII-compatible input; 2: UTF-16LE units). False at the end of
// the input or at the first character that is not ASCII, is '<' or is CR.
template <size_t kStep>
bool FindPlainTagEnd(const unsigned char* data, size_t size, size_t& at) {
  // Eight bytes a step: the lowest marked byte is the first that is '<', '>'
  // or CR (or, in UTF-16, the first unit beyond ASCII).
  while (size - at >= 8) {
    const std::uint64_t word = LoadEightBytes(data + at);
    const std::uint64_t angle = word | 2 * (kStep == 1 ? kBytes : kLanes);  // '<' and '>' alike
    std::uint64_t marks;
    if (kStep == 1) {
      marks = ZeroBytes(angle ^ u'>' * kBytes) | ZeroBytes(word ^ u'\r' * kBytes) |
              (word & 0x8080808080808080ull);
    } else {
      // A unit's high byte must be 0 and its low byte ASCII.
      const std::uint64_t beyond = word & 0xFF80FF80FF80FF80ull;
      const std::uint64_t wide =
          (((beyond & 0x7FFF7FFF7FFF7FFFull) + 0x7FFF7FFF7FFF7FFFull) | beyond) &
          0x8000800080008000ull;
      marks = ZeroLanes(angle ^ u'>' * kLanes) | ZeroLanes(word ^ u'\r' * kLanes) | wide;
    }
    if (marks != 0) {
      at += static_cast<size_t>(__builtin_ctzll(marks) / 8) / kStep * kStep;
      break;
    }
    at += 8;
  }
  for (;;) {
    if (size - at < kStep || at >= size) return false;
    const unsigned char b = data[at];
    if (kStep == 2 && data[at + 1] != 0) return false;
    if (b == '>') return true;
    if (b >= 0x80 || b == '<' || b == '\r') return false;
    at += kStep;
  }
}

// ScanSyncTime over a plain sync tag of `length` characters at `first`,
// lowercased through the table.
template <size_t kStep>
bool ScanPlainSyncTime(const Input& in, size_t first, size_t length, std::int32_t& ms) {
  const auto at = [&](size_t k) -> char16_t { return in.lower[in.data[first + k * kStep]]; };
  size_t i = kSyncTagStart.size();
  while (i < length && IsWideSpace(at(i))) ++i;
  if (i < length && (at(i) == u'"' || at(i) == u'\'')) ++i;
  bool negative = false;
  if (i < length && (at(i) == u'+' || at(i) == u'-')) {
    negative = at(i) == u'-';
    ++i;
  }
  const size_t digitsStart = i;
  std::int64_t magnitude = 0;
  for (char16_t c; i < length && (c = at(i)) >= u'0' && c <= u'9'; ++i) {
    magnitude = AddSyncDigit(magnitude, c);
  }
  if (i == digitsStart) return false;
  ms = SaturatedSyncTime(negative, magnitude);
  return true;
}

// A plain tag read: what it is, and for a sync tag its time as ScanSyncTime
// gives it (`scanned` false and `time` 0 when it does not scan).
struct PlainTag {
  TagKind kind = TagKind::kOther;
  bool scanned = false;
  std::int32_t time = 0;
};

template <size_t kStep>
bool ReadPlainTagIn(const Input& in, Cursor& cur, PlainTag& tag) {
  const unsigned char* const data = in.data;
  const size_t first = cur.at - kStep;  // the '<'
  size_t at = cur.at;
  if (!FindPlainTagEnd<kStep>(data, in.size, at)) return false;
  cur.at = at + kStep;
  const size_t length = (cur.at - first) / kStep;
  tag.kind = TagKind::kOther;
  if (length >= kSyncTagStart.size()) {
    for (size_t k = 1; k < kSyncTagStart.size(); ++k)
      if (in.lower[data[first + k * kStep]] != kSyncTagStart[k]) return true;
    tag.kind = TagKind::kSync;
    std::int32_t ms = 0;
    tag.scanned = ScanPlainSyncTime<kStep>(in, first, length, ms);
    tag.time = tag.scanned ? ms : 0;
  } else if (length == 4 || length == 5) {
    char16_t lowered[5];
    for (size_t k = 0; k < length; ++k) lowered[k] = in.lower[data[first + k * kStep]];
    if (TagIsBreak(WideView(lowered, length))) tag.kind = TagKind::kBreak;
  }
  return true;
}

// Reads the common tag whose '<' has just been read without collecting it:
// ASCII characters other than CR and '<' through its '>', all in the input.
// A sync tag and a break tag are told from the rest by their lowercase
// through the table, and `cur` is left past the '>'. Any other tag (one that
// runs on to the end, or holds a '<', a CR or a character beyond ASCII) is
// left to ReadTag: false, and `cur` is not moved.
inline bool ReadPlainTag(const Input& in, Cursor& cur, PlainTag& tag) {
  return in.utf16 ? ReadPlainTagIn<2>(in, cur, tag) : ReadPlainTagIn<1>(in, cur, tag);
}

// Whether the plain tag [from, to) holds a ';' once lowercased.
bool PlainTagHasSemicolon(const Input& in, size_t from, size_t to) {
  for (size_t i = from; i < to; i += in.utf16 ? 2 : 1)
    if (in.lower[in.data[i]] == u';') return true;
  return false;
}

// Drops "&n" through the next ';' from the run units[runStart, size), as
// StripMarkup would. An "&n" with no ';' after it in the run stays (and
// `unterminated` is set): whether it goes depends on what follows the run.
void StripEntities(Units& units, size_t runStart, bool& unterminated) {
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

// Trims the line units[lineStart, size) at both ends.
void TrimLine(Units& units, size_t lineStart) {
  char16_t* u = units.data();
  size_t end = units.size;
  while (end > lineStart && IsWideSpace(u[end - 1])) --end;
  size_t begin = lineStart;
  while (begin < end && IsWideSpace(u[begin])) ++begin;
  if (begin != lineStart) std::char_traits<char16_t>::move(u + lineStart, u + begin, end - begin);
  units.size = lineStart + (end - begin);
}

// A break tag: the line so far is trimmed, and the next one begins.
void BreakLine(Units& caption, size_t& lineStart) {
  TrimLine(caption, lineStart);
  caption.Reserve(1);
  caption.data()[caption.size++] = u'\n';
  lineStart = caption.size;
}

// Reads a tag whose '<' has just been read (at byte `at`) into conv.tag,
// lowercased. Returns false when the input ends (or U+FFFF comes) first;
// `lastLess` is the byte position of the tag's last '<' and `lastLessIndex`
// its index in the tag.
bool ReadTag(Converter& conv, Cursor& cur, size_t at, size_t checkedFrom, size_t& lastLess,
             size_t& lastLessIndex, bool& realEnd) {
  Input& in = conv.in;
  Units& tag = conv.tag;
  tag.size = 0;
  tag.Reserve(64);
  tag.data()[tag.size++] = u'<';
  lastLess = at;
  lastLessIndex = 0;
  for (;;) {
    if (cur.pendingLow == 0 && !in.utf16) {
      // ASCII other than CR in bulk, lowercased through the table.
      size_t at = cur.at;
      tag.Reserve(64);
      char16_t* u = tag.data();
      size_t n = tag.size;
      const size_t room = tag.capacity;
      while (n < room && at < in.size) {
        const unsigned char b = in.data[at];
        if (b >= 0x80 || b == '\r' || b == '<' || b == '>') break;
        u[n++] = in.lower[b];
        ++at;
      }
      tag.size = n;
      cur.at = at;
      if (n == room) continue;
    }
    const size_t here = cur.at;
    std::int32_t c;
    {
      c = Next(in, cur, checkedFrom);
      if (c == kRealEnd) {
        realEnd = true;
        return false;
      }
      if (c == 0xFFFF) return false;
    }
    tag.Reserve(1);
    if (c == u'<') {
      lastLess = here;
      lastLessIndex = tag.size;
    }
    tag.data()[tag.size++] = Lower(in, c);
    if (c == u'>') return true;
  }
}

void ScanTail(const Units& tag, size_t lastLessIndex, bool& scanned, std::int32_t& time) {
  if (lastLessIndex + 1 >= tag.size || tag.buffer.get()[lastLessIndex + 1] != u's') {
    scanned = false;
    time = 0;
    return;
  }
  std::int32_t ms = 0;
  scanned = ScanSyncTime(tag.View().substr(lastLessIndex), ms);
  time = scanned ? ms : 0;
}

// The reference reading of the block at `from`: its text, from which the
// caption and times are parsed the plain way.
void ReadReference(Converter& conv, size_t from, WideString& text) {
  MoveTo(*conv.stream, from);
  text = ReadSyncBlock(*conv.stream).text;
}

// Reads the block at `from` as ReadSyncBlock and ParseSyncBlock would.
void ScanBlock(Converter& conv, size_t from, BlockScan& block) {
  Input& in = conv.in;
  block.from = from;
  block.empty = true;
  block.hitEnd = false;
  block.caption.size = 0;
  CheckUpTo(in, from);
  const size_t checkedFrom = in.validUpTo;
  Cursor cur;
  cur.at = from;
  bool realEnd = false;
  size_t lastLess = 0;
  size_t lastLessIndex = 0;
  bool tailScanned = false;
  std::int32_t tailTime = 0;

  if (conv.hint.valid && conv.hint.at == from) {
    block.openingTagAt = from;
    block.lastTagAt = from;
    block.start = conv.hint.time;
    tailScanned = conv.hint.scanned;
    tailTime = conv.hint.time;
    cur.at = conv.hint.after;
  } else {
    // Everything before the first sync tag is dropped.
    for (;;) {
      const size_t at = cur.at;
      const std::int32_t c = Next(in, cur, checkedFrom);
      if (c == kRealEnd || c == 0xFFFF) {
        block.end = cur.at;
        block.hitEnd = c == kRealEnd;
        CheckedThrough(in, cur.at);
        return;
      }
      if (c != u'<') continue;
      PlainTag plain;
      if (ReadPlainTag(in, cur, plain)) {
        if (plain.kind != TagKind::kSync) continue;
        // Its time is its tail's time too.
        block.openingTagAt = at;
        block.lastTagAt = at;
        block.start = plain.time;
        tailScanned = plain.scanned;
        tailTime = plain.time;
        break;
      }
      if (!ReadTag(conv, cur, at, checkedFrom, lastLess, lastLessIndex, realEnd)) {
        block.end = cur.at;
        block.hitEnd = realEnd;
        CheckedThrough(in, cur.at);
        return;
      }
      if (TagIsSync(conv.tag.View())) {
        block.openingTagAt = at;
        block.lastTagAt = lastLess;
        std::int32_t ms = 0;
        block.start = ScanSyncTime(conv.tag.View(), ms) ? ms : 0;
        ScanTail(conv.tag, lastLessIndex, tailScanned, tailTime);
        break;
      }
    }
  }
  block.empty = false;
  conv.hint.valid = false;

  Units& caption = block.caption;
  size_t lineStart = 0;
  bool unterminated = false;  // an "&n" still waits for a ';'
  bool needsReference = false;
  for (;;) {
    // The text up to the next tag: CR and LF dropped, the rest kept as it is.
    const size_t runStart = caption.size;
    bool sawAmpersand = false;
    bool sawSemicolon = false;
    std::int32_t c;
    size_t tagAt = 0;
    for (;;) {
      if (cur.pendingLow == 0) {
        if (in.utf16) {
          const size_t size = in.size;
          size_t at = cur.at;
          caption.Reserve((size - at) / 2 < 256 ? (size - at) / 2 + 1 : 256);
          char16_t* u = caption.data();
          size_t n = caption.size;
          const size_t room = caption.capacity;
          while (n < room && size - at >= 2 && at < size) {
            if (room - n >= 4 && size - at >= 8) {
              // Four units a step while none of them ends the run or is dropped.
              // Four units a step; those before the first that may need more
              // than copying are kept, and that one is read below.
              const std::uint64_t word = LoadFourUnits(in.data + at);
              const std::uint64_t stops = TextRunStops(word);
              u[n] = static_cast<char16_t>(word);
              u[n + 1] = static_cast<char16_t>(word >> 16);
              u[n + 2] = static_cast<char16_t>(word >> 32);
              u[n + 3] = static_cast<char16_t>(word >> 48);
              if (stops == 0) {
                n += 4;
                at += 8;
                continue;
              }
              const auto plain = static_cast<size_t>(__builtin_ctzll(stops) / 16);
              n += plain;
              at += 2 * plain;
            }
            const auto unit = static_cast<char16_t>(in.data[at] | in.data[at + 1] << 8);
            if (unit == u'<' || unit == 0xFFFF) break;
            at += 2;
            if (unit == u'\r' || unit == u'\n') continue;
            sawAmpersand |= unit == u'&';
            sawSemicolon |= unit == u';';
            u[n++] = unit;
          }
          caption.size = n;
          cur.at = at;
          if (n == room) continue;
        } else {
          const size_t size = in.size;
          size_t at = cur.at;
          caption.Reserve(size - at < 256 ? size - at + 1 : 256);
          char16_t* u = caption.data();
          size_t n = caption.size;
          const size_t room = caption.capacity;
          const bool utf8 = in.codePage == nullptr;
          while (n < room && at < size) {
            const unsigned char b = in.data[at];
            if (b >= 0x80) {
              // Two- and three-byte UTF-8 inline (valid, so nothing to flag); the
              // rest, U+FFFF among it, is left to Next.
              if (!utf8) break;
              if (b >= 0xE1 && b <= 0xEC && size - at >= 3 && (in.data[at + 1] & 0xC0) == 0x80 &&
                  (in.data[at + 2] & 0xC0) == 0x80) {
                u[n++] = static_cast<char16_t>((b & 0x0Fu) << 12 | (in.data[at + 1] & 0x3Fu) << 6 |
                                               (in.data[at + 2] & 0x3Fu));
                at += 3;
                continue;
              }
              if (b >= 0xC2 && b <= 0xDF && size - at >= 2 && (in.data[at + 1] & 0xC0) == 0x80) {
                u[n++] = static_cast<char16_t>((b & 0x1Fu) << 6 | (in.data[at + 1] & 0x3Fu));
                at += 2;
                continue;
              }
              break;
            }
            if (b == '<') break;
            ++at;
            if (b == '\r' || b == '\n') continue;
            sawAmpersand |= b == '&';
            sawSemicolon |= b == ';';
            u[n++] = b;
          }
          caption.size = n;
          cur.at = at;
          if (n == room) continue;
        }
      }
      tagAt = cur.at;
      c = Next(in, cur, checkedFrom);
      if (c == kRealEnd || c == 0xFFFF || c == u'<') break;
      if (c == u'\r' || c == u'\n') continue;
      sawAmpersand |= c == u'&';
      sawSemicolon |= c == u';';
      caption.Reserve(1);
      caption.data()[caption.size++] = static_cast<char16_t>(c);
    }
    if (sawSemicolon && unterminated) needsReference = true;
    if (sawAmpersand) StripEntities(caption, runStart, unterminated);
    if (c == kRealEnd || c == 0xFFFF) {
      realEnd = c == kRealEnd;
      break;
    }
    const size_t at = tagAt;
    PlainTag plain;
    if (ReadPlainTag(in, cur, plain)) {
      if (unterminated && PlainTagHasSemicolon(in, at, cur.at)) needsReference = true;
      block.lastTagAt = at;
      tailScanned = plain.scanned;
      tailTime = plain.time;
      if (plain.kind == TagKind::kSync) {
        conv.hint = {true, at, cur.at, tailScanned, tailTime};
        break;
      }
      // (A tag that is not a sync tag and holds no other '<' has no time.)
      if (plain.kind == TagKind::kBreak) BreakLine(caption, lineStart);
      continue;
    }
    size_t tagLess = 0;
    if (!ReadTag(conv, cur, at, checkedFrom, tagLess, lastLessIndex, realEnd)) break;
    const WideView tagText = conv.tag.View();
    if (unterminated && tagText.find(u';') != WideView::npos) needsReference = true;
    block.lastTagAt = tagLess;
    ScanTail(conv.tag, lastLessIndex, tailScanned, tailTime);
    if (TagIsSync(tagText)) {
      if (lastLessIndex == 0) conv.hint = {true, at, cur.at, tailScanned, tailTime};
      break;
    }
    if (TagIsBreak(tagText)) {
      BreakLine(caption, lineStart);
    }
  }
  block.end = cur.at;
  block.hitEnd = realEnd;
  block.endTime = tailScanned ? tailTime : block.start;
  CheckedThrough(in, cur.at);

  if (needsReference) {
    WideString text;
    ReadReference(conv, from, text);
    ParseSyncBlock(text, conv.timeLine, conv.caption);
    caption.size = 0;
    caption.Reserve(conv.caption.size());
    std::char_traits<char16_t>::copy(caption.data(), conv.caption.data(), conv.caption.size());
    caption.size = conv.caption.size();
    return;
  }
  TrimLine(caption, lineStart);
  // Lines trimmed, the whole caption loses the empty lines at its ends.
  char16_t* u = caption.data();
  size_t begin = 0;
  while (begin < caption.size && IsWideSpace(u[begin])) ++begin;
  if (begin != 0) {
    std::char_traits<char16_t>::move(u, u + begin, caption.size - begin);
    caption.size -= begin;
  }
  while (caption.size > 0 && IsWideSpace(u[caption.size - 1])) --caption.size;
}

// SkipHeader over the bytes: the position of the first sync tag's '<', or
// where the input (or a U+FFFF) stopped the search.
void SkipHeaderAt(Converter& conv, size_t& position, bool& atEnd) {
  Input& in = conv.in;
  CheckUpTo(in, position);
  const size_t checkedFrom = in.validUpTo;
  Cursor cur;
  cur.at = position;
  for (;;) {
    const size_t at = cur.at;
    const std::int32_t c = Next(in, cur, checkedFrom);
    if (c == kRealEnd || c == 0xFFFF) {
      atEnd = c == kRealEnd;
      break;
    }
    if (c != u'<') continue;
    PlainTag plain;
    if (ReadPlainTag(in, cur, plain)) {
      if (plain.kind != TagKind::kSync) continue;
      CheckedThrough(in, cur.at);
      position = at;
      return;
    }
    size_t lastLess = 0;
    size_t lastLessIndex = 0;
    bool realEnd = false;
    if (!ReadTag(conv, cur, at, checkedFrom, lastLess, lastLessIndex, realEnd)) {
      atEnd = realEnd;
      break;
    }
    if (TagIsSync(conv.tag.View())) {
      CheckedThrough(in, cur.at);
      position = at;
      return;
    }
  }
  CheckedThrough(in, cur.at);
  position = cur.at;
}

// Output, UTF-16LE straight into the buffer.
void PutAscii(std::string& out, const char* text, size_t size) {
  char wide[16];
  for (size_t i = 0; i < size; ++i) {
    wide[2 * i] = text[i];
    wide[2 * i + 1] = '\0';
  }
  out.append(wide, 2 * size);
}

void PutUnits(std::string& out, WideView units) {
  const size_t old = out.size();
  size_t breaks = 0;
  for (char16_t u : units) breaks += u == u'\n';
  out.resize(old + 2 * (units.size() + breaks));
  char* p = &out[old];
  for (char16_t u : units) {
    if (u == u'\n') {
      *p++ = '\r';
      *p++ = '\0';
    }
    *p++ = static_cast<char>(u & 0xFF);
    *p++ = static_cast<char>(u >> 8);
  }
}

// Writes `value` (not negative) with at least `width` digits, UTF-16LE,
// ending at `end`; returns where they begin.
char* PutDigits(char* end, std::int32_t value, int width) {
  int n = 0;
  do {
    *--end = '\0';
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
    ++n;
  } while (value != 0 || n < width);
  return end;
}

char* PutChar(char* end, char c) {
  *--end = '\0';
  *--end = c;
  return end;
}

void PutTime(std::string& out, std::int32_t ms) {
  if (ms < 0) ms = 0;
  std::int32_t rest = ms % 3600000;
  const std::int32_t minutes = rest / 60000;
  rest %= 60000;
  // Built backwards in one buffer: the longest is "596:31:23,647".
  char buffer[48];
  char* const end = buffer + sizeof buffer;
  char* p = PutDigits(end, rest % 1000, 3);
  p = PutChar(p, ',');
  p = PutDigits(p, rest / 1000, 2);
  p = PutChar(p, ':');
  p = PutDigits(p, minutes, 2);
  p = PutChar(p, ':');
  p = PutDigits(p, ms / 3600000, 2);
  out.append(p, static_cast<size_t>(end - p));
}

constexpr size_t kOutputBlock = 1 << 20;

void FlushOutput(Converter& conv, bool all) {
  if (conv.out.size() >= kOutputBlock || (all && !conv.out.empty())) {
    WriteOutputBytes(*conv.file, conv.out.data(), conv.out.size());
    conv.out.clear();
  }
}

// A caption of any length goes out in pieces, so the buffer stays small.
void PutCaption(Converter& conv, WideView caption) {
  constexpr size_t kPiece = kOutputBlock / 4;
  while (caption.size() > kPiece) {
    PutUnits(conv.out, caption.substr(0, kPiece));
    caption.remove_prefix(kPiece);
    FlushOutput(conv, false);
  }
  PutUnits(conv.out, caption);
}

void PutCueHead(Converter& conv) {
  if (!conv.firstCue) PutAscii(conv.out, "\r\n\r\n", 4);
  char buffer[32];
  char* const end = buffer + sizeof buffer;
  char* p = PutChar(PutChar(end, '\n'), '\r');
  p = PutDigits(p, conv.cueNumber, 1);
  conv.out.append(p, static_cast<size_t>(end - p));
  if (conv.cueNumber < INT32_MAX) ++conv.cueNumber;
  conv.firstCue = false;
}

void WriteCue(Converter& conv, const BlockScan& block) {
  PutCueHead(conv);
  PutTime(conv.out, block.start);
  PutAscii(conv.out, " --> ", 5);
  PutTime(conv.out, block.endTime);
  PutAscii(conv.out, "\r\n", 2);
  PutCaption(conv, block.caption.View());
  FlushOutput(conv, false);
}

void WriteCue(Converter& conv, WideView timeLine, WideView caption) {
  PutCueHead(conv);
  PutUnits(conv.out, timeLine);
  PutAscii(conv.out, "\r\n", 2);
  PutCaption(conv, caption);
  FlushOutput(conv, false);
}

// The input's position and end indicator, as the stream would hold them.
struct Place {
  size_t at = 0;
  bool atEnd = false;
};

void Read(Converter& conv, Place& place, BlockScan& block) {
  if (conv.memoValid && conv.memo.from == place.at) {
    std::swap(block, conv.memo);
    conv.memoValid = false;
  } else {
    ScanBlock(conv, place.at, block);
  }
  place.at = block.end;
  if (block.hitEnd) place.atEnd = true;
}

void MoveBackToLastTag(Place& place, const BlockScan& block) {
  if (block.lastTagAt != block.openingTagAt) {
    place.at = block.lastTagAt;
    place.atEnd = false;
  }
}

bool SameCaption(const BlockScan& a, const BlockScan& b) {
  return a.caption.View() == b.caption.View();
}

struct Blocks {
  BlockScan current;
  BlockScan next;
};

void WriteMergedRun(Converter& conv, Place& place, Blocks& blocks) {
  size_t lastRepeatFrom = blocks.next.from;
  size_t endingReadFrom = 0;
  bool endedByBlock = false;
  BlockScan& latest = blocks.next;
  for (;;) {
    const size_t readFrom = place.at;
    Read(conv, place, latest);
    if (latest.empty) break;
    MoveBackToLastTag(place, latest);
    if (!SameCaption(latest, blocks.current)) {
      endedByBlock = true;
      endingReadFrom = readFrom;
      break;
    }
    lastRepeatFrom = readFrom;
  }
  if (conv.in.invalid) return;
  // The span is built once, after the run, from the two blocks the reference way.
  WideString first;
  WideString last;
  ReadReference(conv, blocks.current.from, first);
  ReadReference(conv, lastRepeatFrom, last);
  WideString span = Left(first, ReverseFind(first, u'<'));
  const std::int64_t lastOpen = ReverseFind(last, u'<');
  span.append(last, lastOpen < 0 ? 0 : static_cast<size_t>(lastOpen), WideString::npos);
  ParseSyncBlock(span, conv.timeLine, conv.caption);
  WriteCue(conv, conv.timeLine, conv.caption);
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
  SkipHeaderAt(conv, place.at, place.atEnd);
  Blocks blocks;
  constexpr size_t kTypicalCaption = 256;
  blocks.current.caption.Reserve(kTypicalCaption);
  blocks.next.caption.Reserve(kTypicalCaption);
  for (;;) {
    if (conv.in.invalid) return false;
    Read(conv, place, blocks.current);
    if (blocks.current.empty) break;
    MoveBackToLastTag(place, blocks.current);

    Read(conv, place, blocks.next);
    if (blocks.next.empty) {
      place.at += static_cast<size_t>(seekUnit);  // past the end, as MoveBy does
      place.atEnd = false;
    } else {
      MoveBackToLastTag(place, blocks.next);
    }
    if (conv.in.invalid) return false;

    const BlockScan& current = blocks.current;
    const BlockScan& next = blocks.next;
    if (current.caption.size == 0) {
      if (next.caption.size != 0) WriteCue(conv, next);
    } else if (!SameCaption(current, next)) {
      WriteCue(conv, current);
      if (next.caption.size != 0) WriteCue(conv, next);
    } else {
      WriteMergedRun(conv, place, blocks);
    }
    if (place.atEnd) break;
  }
  CheckUpTo(conv.in, conv.in.size);
  return !conv.in.invalid;
}

}  // namespace

std::int32_t ConvertStream(TextStream& input, TextStream& output, std::int64_t seekUnit) {
  Converter conv;
  conv.stream = &input;
  conv.file = &output.output;
  Input& in = conv.in;
  in.data = reinterpret_cast<const unsigned char*>(input.bytes.data());
  in.size = input.bytes.size();
  in.utf16 = input.mode == StreamMode::Utf16Binary;
  for (char16_t c = 0; c < 128; ++c) in.lower[c] = ToLowerUnit(c);
  if (!input.readingChosen) {
    // Read as UTF-8 while it is valid, checked as it is decoded.
    input.readingChosen = true;
    input.codePage = nullptr;
    in.checking = !input.ansiCodePage->utf8;
  }
  in.codePage = input.codePage;
  const size_t startAt = input.position;
  conv.out.reserve(1 << 20 | 1 << 16);
  if (!Run(conv, startAt, seekUnit)) {
    // Not valid UTF-8: everything again in the code page.
    conv.out.clear();
    RestartOutput(*conv.file);
    WriteOutputBytes(*conv.file, "\xFF\xFE", 2);
    input.codePage = input.ansiCodePage;
    Converter again;
    again.stream = &input;
    again.file = conv.file;
    again.in = conv.in;
    again.in.checking = false;
    again.in.invalid = false;
    again.in.codePage = input.codePage;
    again.out.reserve(1 << 20 | 1 << 16);
    Run(again, startAt, seekUnit);
    FlushOutput(again, true);
    MoveTo(input, input.bytes.size());
    return again.cueNumber - 1;
  }
  FlushOutput(conv, true);
  MoveTo(input, input.bytes.size());
  return conv.cueNumber - 1;
}
