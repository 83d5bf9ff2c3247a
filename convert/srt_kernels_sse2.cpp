// The SRT writer's loops in SSE2, which every x86-64 processor has: 8 units a
// step. Built for x86-64, and for the web page as WebAssembly SIMD128 (as the
// scanner's); both are little-endian, so UTF-16LE is the units' own bytes.
#include <emmintrin.h>

#include <cstring>

#include "convert/srt_kernels.h"
#include "text/utf16.h"

namespace {

inline __m128i Load(const char16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline unsigned Mask(__m128i v) {
  return static_cast<unsigned>(_mm_movemask_epi8(v));
}

// The units stored as they are, up to each LF, which gets a CR before it.
char* Sse2Utf16Out(const char16_t* units, size_t size, char* out) {
  const __m128i lf = _mm_set1_epi16(u'\n');
  size_t i = 0;
  while (size - i >= 8) {
    const __m128i v = Load(units + i);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    const unsigned breaks = Mask(_mm_cmpeq_epi16(v, lf));
    if (breaks == 0) {
      out += 16;
      i += 8;
      continue;
    }
    const unsigned before = static_cast<unsigned>(__builtin_ctz(breaks));  // bytes
    out += before;
    i += before / 2 + 1;
    out[0] = '\r';
    out[1] = '\0';
    out[2] = '\n';
    out[3] = '\0';
    out += 4;
  }
  if (size - i >= 4) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(units + i));
    const unsigned breaks = Mask(_mm_cmpeq_epi16(v, lf)) & 0xFF;
    if (breaks == 0) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), v);
      out += 8;
      i += 4;
    }
  }
  for (; i < size; ++i) {
    if (units[i] == u'\n') {
      out[0] = '\r';
      out[1] = '\0';
      out += 2;
    }
    std::memcpy(out, units + i, 2);
    out += 2;
  }
  return out;
}

// ASCII other than LF narrowed 8 units a step; everything else one unit at a
// time until ASCII comes again.
char* Sse2Utf8Out(const char16_t* units, size_t size, char* out) {
  const __m128i lf = _mm_set1_epi16(u'\n');
  const __m128i beyondAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  while (size - i >= 8) {
    const __m128i v = Load(units + i);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
    const __m128i plain = _mm_andnot_si128(_mm_cmpeq_epi16(v, lf),
                                           _mm_cmpeq_epi16(_mm_and_si128(v, beyondAscii), zero));
    const unsigned stops = ~Mask(plain) & 0xFFFF;
    if (stops == 0) {
      out += 8;
      i += 8;
      continue;
    }
    const size_t before = static_cast<size_t>(__builtin_ctz(stops)) / 2;
    out += before;
    i += before;
    do {
      const char16_t u = units[i];
      if (u == u'\n') {
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
        ++i;
      } else {
        out = PutUtf8Unit(out, units, size, i);
      }
    } while (i < size && units[i] >= 0x80);
  }
  return PortableSrtKernels().utf8Out(units + i, size - i, out);
}

void Sse2WidenAscii(const char* ascii, char* out) {
  const __m128i zero = _mm_setzero_si128();
  for (size_t i = 0; i < kSrtAsciiBlock; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ascii + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(v, zero));
  }
}

constexpr SrtKernels kSse2 = {"sse2", Sse2Utf16Out, Sse2Utf8Out, Sse2WidenAscii};

}  // namespace

const SrtKernels* const* VectorSrtKernels() {
  static const SrtKernels* const kVector[] = {&kSse2, nullptr};
  return kVector;
}
