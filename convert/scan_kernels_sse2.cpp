// The scanner's loops in SSE2, which every x86-64 processor has: 16 bytes (8
// UTF-16 units) a step. Built for x86-64, and for the web page as WebAssembly
// SIMD128 (emscripten translates the SSE2 intrinsics, nearly all one for one).
#include <emmintrin.h>

#include <cstdint>

#include "convert/scan_kernels.h"
#include "convert/scan_kernels_x86.h"
#include "convert/sse2_vectors.h"

namespace {

// UTF-8 three-byte characters of a vector with bytes beyond ASCII: each
// character's value goes into the lanes (`low`, `high`) of its first byte,
// which becomes a place to keep (`starts`); a byte that is not part of a
// valid character of one or three bytes joins `problems`, and a first byte
// whose last byte lies past the vector is marked in `cut`.
inline void DecodeThreeByteLanes(__m128i v, unsigned beyond, __m128i& low, __m128i& high,
                                 unsigned& starts, unsigned& problems, unsigned& cut) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i leads = _mm_cmpeq_epi8(_mm_and_si128(v, Bytes(0xF0)), Bytes(0xE0));
  const unsigned lead = Mask(leads);
  const unsigned tail = Mask(_mm_cmpeq_epi8(_mm_and_si128(v, Bytes(0xC0)), Bytes(0x80)));
  // A three-byte character's value in the 16-bit lane of its first byte.
  const __m128i low6 = _mm_and_si128(v, Bytes(0x3F));
  const __m128i top = _mm_and_si128(v, Bytes(0x0F));
  const __m128i second = _mm_srli_si128(low6, 1);
  const __m128i third = _mm_srli_si128(low6, 2);
  const __m128i valueLow =
      _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_unpacklo_epi8(top, zero), 12),
                                _mm_slli_epi16(_mm_unpacklo_epi8(second, zero), 6)),
                   _mm_unpacklo_epi8(third, zero));
  const __m128i valueHigh =
      _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_unpackhi_epi8(top, zero), 12),
                                _mm_slli_epi16(_mm_unpackhi_epi8(second, zero), 6)),
                   _mm_unpackhi_epi8(third, zero));
  // Overlong (below U+0800), a surrogate (U+D800-U+DFFF) or U+FFFF.
  const auto badValue = [zero](__m128i value) {
    const __m128i top5 = _mm_and_si128(value, Lanes(0xF800));
    return _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi16(top5, zero), _mm_cmpeq_epi16(top5, Lanes(0xD800))),
        _mm_cmpeq_epi16(value, Lanes(-1)));
  };
  const unsigned bad = Mask(_mm_packs_epi16(badValue(valueLow), badValue(valueHigh)));
  const unsigned whole = lead & tail >> 1 & tail >> 2;  // both continuation bytes in the vector
  const unsigned owned = (lead << 1 | lead << 2) & 0xFFFF;
  cut = lead & ~whole & 0xC000;
  problems |= ((beyond & ~lead & ~tail) | (lead & ~whole) | (lead & bad) | (tail & ~owned)) & ~cut;
  starts |= lead;
  // The value at a first byte, the byte itself elsewhere.
  const __m128i leadLow = _mm_unpacklo_epi8(leads, leads);
  const __m128i leadHigh = _mm_unpackhi_epi8(leads, leads);
  low = _mm_or_si128(_mm_and_si128(leadLow, valueLow), _mm_andnot_si128(leadLow, low));
  high = _mm_or_si128(_mm_and_si128(leadHigh, valueHigh), _mm_andnot_si128(leadHigh, high));
}

// Reads one vector of caption text whose first byte starts a character: the
// units of its characters up to the first byte that needs more than the
// vector (a '<'; any byte beyond ASCII but, in UTF-8, those of a three-byte
// character, most of CJK and Hangul among it, that ends in the vector and is
// neither overlong, a surrogate nor U+FFFF) are written at out[n] on, CR and
// LF left out, and the marks of the '&' and ';' among them added to `seen`.
// Returns that byte's place, 16 when there is none; `more` tells whether the
// text may go on from there (at a character the vector cut off). Every
// place's unit is worked out at once and those of the characters' first
// bytes kept by their mask, with no branch per character (nor per CR or LF)
// to mispredict.
inline size_t TextVector(__m128i v, bool utf8, char16_t* out, size_t& n, unsigned& seen,
                         bool& more) {
  const __m128i zero = _mm_setzero_si128();
  const unsigned less = Mask(_mm_cmpeq_epi8(v, Bytes('<')));
  const unsigned breaks =
      Mask(_mm_or_si128(_mm_cmpeq_epi8(v, Bytes('\r')), _mm_cmpeq_epi8(v, Bytes('\n'))));
  const unsigned ampersands = Mask(_mm_cmpeq_epi8(v, Bytes('&')));
  const unsigned semicolons = Mask(_mm_cmpeq_epi8(v, Bytes(';')));
  const unsigned beyond = Mask(v);
  __m128i low = _mm_unpacklo_epi8(v, zero);
  __m128i high = _mm_unpackhi_epi8(v, zero);
  if ((less | breaks | ampersands | semicolons | beyond) == 0) {
    Store(out + n, low);
    Store(out + n + 8, high);
    n += 16;
    more = true;
    return 16;
  }
  unsigned problems = less;
  unsigned starts = ~(beyond | breaks) & 0xFFFF;
  unsigned cut = 0;  // a character's first byte whose last the vector does not hold
  if (beyond != 0 && !utf8) {
    problems |= beyond;
  } else if (beyond != 0) {
    DecodeThreeByteLanes(v, beyond, low, high, starts, problems, cut);
  }
  const auto limit = static_cast<size_t>(__builtin_ctz(problems | cut | 0x10000));
  more = (cut >> limit & 1) != 0 || limit == 16;
  const unsigned before = (1u << limit) - 1;
  seen |= ((ampersands & before) != 0 ? kAmpersandMark : 0) |
          ((semicolons & before) != 0 ? kSemicolonMark : 0);
  const unsigned kept = starts & before;
  if ((kept & (kept + 1)) == 0) {  // no gap: ASCII up to a '<', perhaps after a CR or LF
    Store(out + n, low);
    Store(out + n + 8, high);
    n += static_cast<size_t>(__builtin_ctz(~kept));
    return limit;
  }
  // Every place written, the count moved on at the units kept.
  alignas(16) char16_t units[16];
  Store(units, low);
  Store(units + 8, high);
  size_t written = n;
  for (unsigned k = 0; k < 16; ++k) {
    out[written] = units[k];
    written += kept >> k & 1;
  }
  n = written;
  return limit;
}

size_t Sse2ByteText(const unsigned char* in, size_t size, bool utf8, char16_t* out, size_t room,
                    size_t& produced, unsigned& marks) {
  size_t at = 0;
  size_t n = 0;
  unsigned seen = 0;
  for (;;) {
    if (room - n >= 16 && size - at >= 16) {
      bool more = false;
      at += TextVector(Load(in + at), utf8, out, n, seen, more);
      if (more) continue;
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

size_t Sse2Utf16Text(const unsigned char* in, size_t units, char16_t* out) {
  size_t i = 0;
  while (units - i >= 8) {
    const __m128i v = Load(in + 2 * i);
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi16(v, Lanes('<')), _mm_cmpeq_epi16(v, Lanes(-1))),
            _mm_or_si128(_mm_cmpeq_epi16(v, Lanes('\r')), _mm_cmpeq_epi16(v, Lanes('\n')))),
        _mm_or_si128(_mm_cmpeq_epi16(v, Lanes('&')), _mm_cmpeq_epi16(v, Lanes(';'))));
    Store(out + i, v);
    const unsigned mask = Mask(stops);
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask)) / 2;
    i += 8;
  }
  // The last few units one by one, without a call (which would cost this
  // function its registers on every call).
  for (; i < units; ++i) {
    const auto unit = static_cast<char16_t>(in[2 * i] | in[2 * i + 1] << 8);
    if (unit == u'<' || unit == 0xFFFF || unit == u'\r' || unit == u'\n' || unit == u'&' ||
        unit == u';')
      break;
    out[i] = unit;
  }
  return i;
}

size_t Sse2TagStop(const unsigned char* in, size_t size) {
  size_t at = 0;
  while (size - at >= 16) {
    const __m128i v = Load(in + at);
    const __m128i angle = _mm_or_si128(v, Bytes(2));  // '<' and '>' alike
    const unsigned marks =
        Mask(_mm_or_si128(_mm_cmpeq_epi8(angle, Bytes('>')), _mm_cmpeq_epi8(v, Bytes('\r')))) |
        Mask(v);
    if (marks != 0) return at + static_cast<size_t>(__builtin_ctz(marks));
    at += 16;
  }
  return at + PortableScanKernels().tagStop(in + at, size - at);
}

size_t Sse2Utf16TagStop(const unsigned char* in, size_t units) {
  size_t i = 0;
  // 16 units a step, packed into bytes both ways: with unsigned saturation
  // every ASCII unit keeps its value and one from U+0080 to U+7FFF gets its
  // top bit; with signed saturation one from U+8000 on gets its top bit (and
  // in the first it becomes 0, which is neither '>' nor CR).
  while (units - i >= 16) {
    const __m128i v0 = Load(in + 2 * i);
    const __m128i v1 = Load(in + 2 * i + 16);
    const __m128i packed = _mm_packus_epi16(v0, v1);
    const unsigned marks =
        Mask(_mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(packed, Bytes(2)), Bytes('>')),
                          _mm_cmpeq_epi8(packed, Bytes('\r')))) |
        Mask(packed) | Mask(_mm_packs_epi16(v0, v1));
    if (marks != 0) return i + static_cast<size_t>(__builtin_ctz(marks));
    i += 16;
  }
  while (units - i >= 8) {
    const __m128i v = Load(in + 2 * i);
    const __m128i angle = _mm_or_si128(v, Lanes(2));
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, Lanes(0xFF80)), _mm_setzero_si128());
    const __m128i marks = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi16(angle, Lanes('>')), _mm_cmpeq_epi16(v, Lanes('\r'))),
        _mm_andnot_si128(ascii, Lanes(-1)));
    const unsigned mask = Mask(marks);
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask)) / 2;
    i += 8;
  }
  for (; i < units; ++i) {
    const auto unit = static_cast<unsigned>(in[2 * i] | in[2 * i + 1] << 8);
    if (unit == '<' || unit == '>' || unit == '\r' || unit >= 0x80) break;
  }
  return i;
}

constexpr ScanKernels kSse2 = {"sse2", Sse2ByteText, Sse2Utf16Text, Sse2TagStop, Sse2Utf16TagStop};

}  // namespace

const ScanKernels& Sse2ScanKernels() {
  return kSse2;
}
