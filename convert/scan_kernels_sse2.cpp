// The scanner's loops in SSE2, which every x86-64 processor has: 16 bytes (8
// UTF-16 units) a step. Built for x86-64 targets only.
#include <emmintrin.h>

#include <cstdint>

#include "convert/scan_kernels.h"
#include "text/char_decoding.h"

constexpr bool kScalarUtf8 = false;

namespace {

inline __m128i Load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void Store(char16_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

inline __m128i Bytes(int c) {
  return _mm_set1_epi8(static_cast<char>(c));
}

inline __m128i Lanes(int c) {
  return _mm_set1_epi16(static_cast<short>(c));
}

inline unsigned Mask(__m128i v) {
  return static_cast<unsigned>(_mm_movemask_epi8(v));
}

// Bytes from `low` to `high`, unsigned.
inline __m128i InRange(__m128i v, int low, int high) {
  const __m128i shifted = _mm_sub_epi8(v, Bytes(low));
  return _mm_cmpeq_epi8(_mm_min_epu8(shifted, Bytes(high - low)), shifted);
}

// '<', CR, LF, '&' and ';'.
inline __m128i TextStops(__m128i v) {
  return _mm_or_si128(
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, Bytes('<')), _mm_cmpeq_epi8(v, Bytes('\r'))),
                   _mm_or_si128(_mm_cmpeq_epi8(v, Bytes('\n')), _mm_cmpeq_epi8(v, Bytes('&')))),
      _mm_cmpeq_epi8(v, Bytes(';')));
}

// The UTF-16 unit each byte of one half (8 bytes) would start, as a lead of
// three or two bytes or as itself: `b0` the bytes, `b1` and `b2` the ones
// after each, and `lead3`, `lead2` the byte masks, all widened to lanes.
inline __m128i Units(__m128i b0, __m128i b1, __m128i b2, __m128i lead3, __m128i lead2) {
  const __m128i low6 = Lanes(0x3F);
  const __m128i three =
      _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(b0, Lanes(0x0F)), 12),
                                _mm_slli_epi16(_mm_and_si128(b1, low6), 6)),
                   _mm_and_si128(b2, low6));
  const __m128i two =
      _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b0, Lanes(0x1F)), 6), _mm_and_si128(b1, low6));
  const __m128i notThree = _mm_or_si128(_mm_and_si128(lead2, two), _mm_andnot_si128(lead2, b0));
  return _mm_or_si128(_mm_and_si128(lead3, three), _mm_andnot_si128(lead3, notThree));
}

// Decodes the UTF-8 in the 16 bytes at `in` (18 readable) into `out`, up to
// the first byte that is not plain text: a stop, or a byte that starts no
// character PlainUtf8Length reads. Returns the bytes taken, which end at a
// character's end; `more` is false when that byte was met.
size_t DecodeWindow(const unsigned char* in, char16_t* out, size_t& produced, bool& more) {
  const __m128i v0 = Load(in);
  const __m128i v1 = Load(in + 1);
  const __m128i v2 = Load(in + 2);
  const __m128i cont = _mm_cmpeq_epi8(_mm_and_si128(v0, Bytes(0xC0)), Bytes(0x80));
  const __m128i lead2 = InRange(v0, 0xC2, 0xDF);
  const __m128i lead3 = InRange(v0, 0xE0, 0xEF);
  const __m128i secondLow = InRange(v1, 0x80, 0x9F);
  // No overlong forms after E0, no surrogates after ED, no U+FFFF (which ends a read).
  const __m128i bad3 = _mm_or_si128(
      _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, Bytes(0xE0)), secondLow),
                   _mm_andnot_si128(secondLow, _mm_cmpeq_epi8(v0, Bytes(0xED)))),
      _mm_and_si128(
          _mm_cmpeq_epi8(v0, Bytes(0xEF)),
          _mm_and_si128(_mm_cmpeq_epi8(v1, Bytes(0xBF)), _mm_cmpeq_epi8(v2, Bytes(0xBF)))));
  const __m128i asciiOk = _mm_andnot_si128(TextStops(v0), _mm_cmpgt_epi8(v0, Bytes(-1)));
  const __m128i good = _mm_or_si128(_mm_or_si128(asciiOk, lead2), _mm_andnot_si128(bad3, lead3));
  const unsigned contMask = Mask(cont);
  const unsigned leadMask = Mask(_mm_or_si128(lead2, lead3));
  const unsigned lead3Mask = Mask(lead3);
  const unsigned starts = ~contMask & 0xFFFFu;
  const unsigned badStarts = starts & ~Mask(good);
  // Continuation bytes where the leads want them (the last may want them past
  // the window), and where they are.
  const unsigned wanted = leadMask << 1 | lead3Mask << 2;
  const unsigned errors = badStarts | ((wanted ^ contMask) & 0xFFFFu) | 0x10000u;
  const auto first = static_cast<unsigned>(__builtin_ctz(errors));
  more = first == 16;
  unsigned cut = first;
  if ((wanted >> first & 1) != 0) cut = (leadMask >> (first - 1) & 1) != 0 ? first - 1 : first - 2;
  unsigned keep = starts & ((1u << cut) - 1);
  if (keep == 0) {
    produced = 0;
    return cut;
  }
  const __m128i zero = _mm_setzero_si128();
  alignas(16) char16_t units[16];
  Store(units,
        Units(_mm_unpacklo_epi8(v0, zero), _mm_unpacklo_epi8(v1, zero), _mm_unpacklo_epi8(v2, zero),
              _mm_unpacklo_epi8(lead3, lead3), _mm_unpacklo_epi8(lead2, lead2)));
  Store(units + 8,
        Units(_mm_unpackhi_epi8(v0, zero), _mm_unpackhi_epi8(v1, zero), _mm_unpackhi_epi8(v2, zero),
              _mm_unpackhi_epi8(lead3, lead3), _mm_unpackhi_epi8(lead2, lead2)));
  size_t n = 0;
  while (keep != 0) {
    out[n++] = units[__builtin_ctz(keep)];
    keep &= keep - 1;
  }
  produced = n;
  return cut;
}

size_t Sse2ByteText(const unsigned char* in, size_t size, bool utf8, char16_t* out, size_t room,
                    size_t& produced) {
  size_t at = 0;
  size_t n = 0;
  const __m128i zero = _mm_setzero_si128();
  while (room - n >= 16 && size - at >= 18) {
    // ASCII up to the first stop.
    const __m128i v = Load(in + at);
    const unsigned stops = Mask(TextStops(v)) | Mask(v);
    Store(out + n, _mm_unpacklo_epi8(v, zero));
    Store(out + n + 8, _mm_unpackhi_epi8(v, zero));
    const size_t plain = stops == 0 ? 16 : static_cast<size_t>(__builtin_ctz(stops));
    n += plain;
    at += plain;
    if (plain == 16) continue;
    if (!utf8 || in[at] < 0x80) {
      produced = n;
      return at;
    }
    if (kScalarUtf8) {
      // Characters beyond ASCII one by one.
      do {
        const size_t length = PlainUtf8Length(in + at, size - at, out[n]);
        if (length == 0) {
          produced = n;
          return at;
        }
        ++n;
        at += length;
      } while (n < room && at < size && in[at] >= 0x80);
      continue;
    }
    if (size - at < 18) break;
    size_t units = 0;
    bool more = true;
    at += DecodeWindow(in + at, out + n, units, more);
    n += units;
    if (!more) {
      produced = n;
      return at;
    }
  }
  size_t rest = 0;
  at += PortableScanKernels().byteText(in + at, size - at, utf8, out + n, room - n, rest);
  produced = n + rest;
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
  return i + PortableScanKernels().utf16Text(in + 2 * i, units - i, out + i);
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
  return i + PortableScanKernels().utf16TagStop(in + 2 * i, units - i);
}

constexpr ScanKernels kSse2 = {"sse2", Sse2ByteText, Sse2Utf16Text, Sse2TagStop, Sse2Utf16TagStop};

}  // namespace

const ScanKernels* const* VectorScanKernels() {
  static const ScanKernels* const kFound[] = {&kSse2, nullptr};
  return kFound;
}
