// The few SSE2 steps every vector loop of the scanner is written in: a load
// and a store of 16 bytes at any alignment, a byte or 16-bit lane repeated,
// and the top bits of a vector's bytes.
#ifndef LUMENTRACE_CONVERT_SSE2_VECTORS_H_
#define LUMENTRACE_CONVERT_SSE2_VECTORS_H_

#include <emmintrin.h>

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

#endif  // LUMENTRACE_CONVERT_SSE2_VECTORS_H_
