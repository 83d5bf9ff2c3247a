// The caption text loop with SSSE3's byte shuffle, for processors that have
// it (chosen at run time, scan_kernels_x86.cpp): UTF-8 characters of one, two
// and three bytes are decoded 16 bytes a step, and the units kept are packed
// together by a shuffle looked up from their mask, where the SSE2 loop packs
// them one place at a time and leaves two-byte characters to the byte reader.
// The other loops are the SSE2 ones. Built for x86-64 targets only; every
// function here carries the instruction set it needs, so that nothing built
// from this file runs on a processor without it.
#include <tmmintrin.h>

#include <cstddef>

#include "convert/scan_kernels.h"
#include "convert/scan_kernels_x86.h"
#include "convert/sse2_vectors.h"

namespace {

// For each mask of the eight 16-bit lanes of a vector to keep: the shuffle
// that moves those lanes, in order, to the front, and how many they are.
struct PackTable {
  alignas(16) unsigned char shuffle[256][16];
  unsigned char count[256];
};

constexpr PackTable MakePackTable() {
  PackTable table{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned kept = 0;
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((mask >> lane & 1) == 0) continue;
      table.shuffle[mask][2 * kept] = static_cast<unsigned char>(2 * lane);
      table.shuffle[mask][2 * kept + 1] = static_cast<unsigned char>(2 * lane + 1);
      ++kept;
    }
    for (unsigned place = 2 * kept; place < 16; ++place) table.shuffle[mask][place] = 0x80;
    table.count[mask] = static_cast<unsigned char>(kept);
  }
  return table;
}

constexpr PackTable kPack = MakePackTable();

// Writes the lanes of `units` that `keep` marks at out[n] on, and moves n past them.
__attribute__((target("ssse3"))) inline void PackLanes(__m128i units, unsigned keep, char16_t* out,
                                                       size_t& n) {
  const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[keep]));
  Store(out + n, _mm_shuffle_epi8(units, shuffle));
  n += kPack.count[keep];
}

// The first bytes of two- and three-byte characters in a vector, each set of
// places all ones.
struct Leads {
  __m128i two;
  __m128i three;
};

// UTF-8 characters of two and three bytes (and ASCII) in a vector `v`,
// followed by `next` in the text (all zero when it is not to be read)
// and preceded by a vector whose first bytes were `before` (none at the
// text's start): each character's unit goes into the lane (of `low`, `high`)
// of its first byte, marked in `leads`; a byte that is not part of a
// character PlainUtf8Length reads is marked in `problems` (in the top bit of
// its lane), and so is a first byte whose character runs past `v` when
// `next` is zero.
__attribute__((target("ssse3"))) inline void DecodeLanes(__m128i v, __m128i next,
                                                         const Leads& before, __m128i& low,
                                                         __m128i& high, Leads& leads,
                                                         __m128i& problems) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i second = _mm_alignr_epi8(next, v, 1);
  const __m128i third = _mm_alignr_epi8(next, v, 2);
  // Compared as signed bytes, 0x80-0xBF lie below 0xC0, and 0xC2-0xDF
  // between 0xC1 and 0xE0.
  const __m128i leads3 = _mm_cmpeq_epi8(_mm_and_si128(v, Bytes(0xF0)), Bytes(0xE0));
  const __m128i leads2 =
      _mm_and_si128(_mm_cmpgt_epi8(v, Bytes(0xC1)), _mm_cmpgt_epi8(Bytes(0xE0), v));
  const __m128i tails = _mm_cmpgt_epi8(Bytes(0xC0), v);
  // Three-byte forms that are no character: overlong (E0 then 80-9F), a
  // surrogate (ED then A0-BF) and U+FFFF (EF BF BF). A second byte that is
  // no continuation byte makes the character a problem anyway.
  const __m128i upperSecond = _mm_cmpgt_epi8(second, Bytes(0x9F));
  const __m128i bad = _mm_or_si128(
      _mm_or_si128(_mm_andnot_si128(upperSecond, _mm_cmpeq_epi8(v, Bytes(0xE0))),
                   _mm_and_si128(upperSecond, _mm_cmpeq_epi8(v, Bytes(0xED)))),
      _mm_and_si128(
          _mm_cmpeq_epi8(v, Bytes(0xEF)),
          _mm_and_si128(_mm_cmpeq_epi8(second, Bytes(0xBF)), _mm_cmpeq_epi8(third, Bytes(0xBF)))));
  // Continuation bytes one and two places on, and those a first byte one or
  // two places back claims.
  const __m128i nextTails = _mm_cmpgt_epi8(Bytes(0xC0), next);
  const __m128i tail1 = _mm_alignr_epi8(nextTails, tails, 1);
  const __m128i tail2 = _mm_alignr_epi8(nextTails, tails, 2);
  const __m128i owned = _mm_or_si128(_mm_or_si128(_mm_alignr_epi8(leads3, before.three, 15),
                                                  _mm_alignr_epi8(leads3, before.three, 14)),
                                     _mm_alignr_epi8(leads2, before.two, 15));
  const __m128i any = _mm_or_si128(leads3, leads2);
  leads = {leads2, leads3};
  problems = _mm_or_si128(
      _mm_or_si128(_mm_andnot_si128(_mm_andnot_si128(bad, _mm_and_si128(tail1, tail2)), leads3),
                   _mm_andnot_si128(tail1, leads2)),
      _mm_or_si128(_mm_andnot_si128(owned, tails), _mm_andnot_si128(_mm_or_si128(any, tails), v)));
  // Each place's unit as top << 12 | middle << 6 | bottom: a three-byte
  // character's four, six and six bits; a two-byte one's none, five and six;
  // any other byte's none, none and the byte itself.
  const __m128i second6 = _mm_and_si128(second, Bytes(0x3F));
  const __m128i third6 = _mm_and_si128(third, Bytes(0x3F));
  const __m128i bottom = _mm_or_si128(
      _mm_and_si128(leads3, third6),
      _mm_andnot_si128(leads3,
                       _mm_or_si128(_mm_and_si128(leads2, second6), _mm_andnot_si128(leads2, v))));
  const __m128i middle = _mm_or_si128(_mm_and_si128(leads3, second6),
                                      _mm_and_si128(leads2, _mm_and_si128(v, Bytes(0x1F))));
  // The top four bits already in the upper half of their byte.
  const __m128i top = _mm_and_si128(leads3, _mm_and_si128(_mm_slli_epi16(v, 4), Bytes(0xF0)));
  // bottom + 64 * middle (at most 0xFF + 64 * 0x3F) in each 16-bit lane.
  const __m128i weights = _mm_set1_epi16(0x4001);
  low = _mm_or_si128(_mm_maddubs_epi16(_mm_unpacklo_epi8(bottom, middle), weights),
                     _mm_unpacklo_epi8(zero, top));
  high = _mm_or_si128(_mm_maddubs_epi16(_mm_unpackhi_epi8(bottom, middle), weights),
                      _mm_unpackhi_epi8(zero, top));
}

// Reads one vector `v` of caption text, with `next` and `before` as
// DecodeLanes takes them: the units of its characters up to the first byte
// that stops the run (a '<'; any byte beyond ASCII but, in UTF-8, those of a
// two- or three-byte character PlainUtf8Length reads) are written at out[n]
// on, CR and LF left out, and the marks of the '&' and ';' among them added
// to `seen`. Returns that byte's place, 16 when there is none; a first byte
// at it whose character `v` cuts off (only when `next` is zero) is marked in
// `cut`. `leads` gets the vector's first bytes.
__attribute__((target("ssse3"))) inline size_t TextVector(__m128i v, __m128i next, bool utf8,
                                                          Leads& leads, char16_t* out, size_t& n,
                                                          unsigned& seen, unsigned& cut) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i less = _mm_cmpeq_epi8(v, Bytes('<'));
  const __m128i breaks =
      _mm_or_si128(_mm_cmpeq_epi8(v, Bytes('\r')), _mm_cmpeq_epi8(v, Bytes('\n')));
  const unsigned ampersands = Mask(_mm_cmpeq_epi8(v, Bytes('&')));
  const unsigned semicolons = Mask(_mm_cmpeq_epi8(v, Bytes(';')));
  // The places that stop the run, and those whose unit is kept (ASCII but
  // CR and LF, and the first bytes of characters). Every vector of UTF-8
  // goes through the decoding, ASCII alone or not, as does every step
  // below: a branch on what the text holds would be mispredicted often.
  unsigned problems;
  unsigned keep;
  __m128i low;
  __m128i high;
  if (!utf8) {
    problems = Mask(_mm_or_si128(less, v));
    keep = ~Mask(_mm_or_si128(breaks, v)) & 0xFFFF;
    low = _mm_unpacklo_epi8(v, zero);
    high = _mm_unpackhi_epi8(v, zero);
  } else {
    __m128i bytes;
    const Leads before = leads;
    DecodeLanes(v, next, before, low, high, leads, bytes);
    problems = Mask(_mm_or_si128(less, bytes));
    keep = ~Mask(_mm_or_si128(breaks, _mm_andnot_si128(_mm_or_si128(leads.two, leads.three), v))) &
           0xFFFF;
  }
  const auto limit = static_cast<size_t>(__builtin_ctz(problems | 0x10000));
  // A first byte among the last two places that is a problem may be one
  // whose character runs on past the vector.
  cut = problems & keep & Mask(v) & 0xC000;
  const unsigned taken = (1u << limit) - 1;
  seen |= ((ampersands & taken) != 0 ? kAmpersandMark : 0) |
          ((semicolons & taken) != 0 ? kSemicolonMark : 0);
  const unsigned kept = keep & taken;
  PackLanes(low, kept & 0xFF, out, n);
  PackLanes(high, kept >> 8, out, n);
  return limit;
}

__attribute__((target("ssse3"))) size_t Ssse3ByteText(const unsigned char* in, size_t size,
                                                      bool utf8, char16_t* out, size_t room,
                                                      size_t& produced, unsigned& marks) {
  const __m128i zero = _mm_setzero_si128();
  size_t at = 0;
  size_t n = 0;
  unsigned seen = 0;
  unsigned cut = 0;
  bool stopped = false;
  // While a vector follows, 16 bytes a step whatever they hold: a character
  // the vector cuts off is read with the next one's bytes, and its
  // continuation bytes there are known for its own by the next step. The
  // step's length depends on nothing the step works out, so that steps
  // overlap in the processor.
  if (room >= 16 && size >= 32) {
    Leads leads = {zero, zero};
    __m128i v = Load(in);
    for (;;) {
      const __m128i next = Load(in + at + 16);
      const size_t limit = TextVector(v, next, utf8, leads, out, n, seen, cut);
      if (limit < 16) {  // at a character's first byte (none lies before it unfinished)
        at += limit;
        stopped = in[at] == '<';
        break;
      }
      at += 16;
      if (room - n < 16 || size - at < 32) {
        // Past the continuation bytes of a character the last vector began.
        if (in[at - 1] >= 0xC0) {
          at += in[at - 1] >= 0xE0 ? 2 : 1;
        } else if (in[at - 2] >= 0xE0) {
          at += 1;
        }
        break;
      }
      v = next;
    }
  }
  // The last vectors, each read on its own from a character's first byte,
  // and a short tail byte by byte.
  while (!stopped) {
    if (room - n >= 16 && size - at >= 16) {
      Leads none = {zero, zero};
      const size_t limit = TextVector(Load(in + at), zero, utf8, none, out, n, seen, cut);
      at += limit;
      if (limit == 16 || (cut >> limit & 1) != 0) continue;
      if (in[at] == '<') break;
    } else if (n >= room || at >= size) {
      break;
    }
    // A byte of a short tail, a character beyond ASCII the vector did not
    // take, or one it cut off.
    if (!TakeTextCharacter(in, size, utf8, out, at, n, seen)) break;
  }
  marks |= seen;
  produced = n;
  return at;
}

}  // namespace

const ScanKernels& Ssse3ScanKernels() {
  static const ScanKernels kSsse3 = {"ssse3", Ssse3ByteText, Sse2ScanKernels().utf16Text,
                                     Sse2ScanKernels().tagStop, Sse2ScanKernels().utf16TagStop};
  return kSsse3;
}
