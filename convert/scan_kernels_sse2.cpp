// The scanner's loops in SSE2, which every x86-64 processor has: 16 bytes (8
// UTF-16 units) a step. Built for x86-64 targets only.
#include <emmintrin.h>

#include <cstdint>

#include "convert/scan_kernels.h"
#include "text/char_decoding.h"

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

// '<', CR, LF, '&' and ';'.
inline __m128i TextStops(__m128i v) {
  return _mm_or_si128(
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, Bytes('<')), _mm_cmpeq_epi8(v, Bytes('\r'))),
                   _mm_or_si128(_mm_cmpeq_epi8(v, Bytes('\n')), _mm_cmpeq_epi8(v, Bytes('&')))),
      _mm_cmpeq_epi8(v, Bytes(';')));
}

size_t Sse2ByteText(const unsigned char* in, size_t size, bool utf8, char16_t* out, size_t room,
                    size_t& produced) {
  size_t at = 0;
  size_t n = 0;
  const __m128i zero = _mm_setzero_si128();
  while (room - n >= 16 && size - at >= 16) {
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
    // Characters beyond ASCII one by one: with no byte shuffle in SSE2, a
    // vector decoder cost more than it saved on Korean captions.
    do {
      const size_t length = PlainUtf8Length(in + at, size - at, out[n]);
      if (length == 0) {
        produced = n;
        return at;
      }
      ++n;
      at += length;
    } while (n < room && at < size && in[at] >= 0x80);
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
