// The scanner's loops in SSE2, which every x86-64 processor has: 16 bytes (8
// UTF-16 units) a step. Built for x86-64 targets only.
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

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
                    size_t& produced, unsigned& marks) {
  size_t at = 0;
  size_t n = 0;
  unsigned seen = 0;
  const __m128i zero = _mm_setzero_si128();
  for (;;) {
    if (room - n >= 16 && size - at >= 16) {
      // ASCII up to the first stop.
      const __m128i v = Load(in + at);
      const unsigned stops = Mask(TextStops(v)) | Mask(v);
      Store(out + n, _mm_unpacklo_epi8(v, zero));
      Store(out + n + 8, _mm_unpackhi_epi8(v, zero));
      if (stops == 0) {
        n += 16;
        at += 16;
        continue;
      }
      const auto plain = static_cast<size_t>(__builtin_ctz(stops));
      n += plain;
      at += plain;
    } else if (n >= room || at >= size) {
      break;
    }
    const unsigned char b = in[at];
    if (b < 0x80) {
      // A stop, or a byte of a short tail.
      if (b == '<') break;
      ++at;
      if (b == '\r' || b == '\n') continue;
      seen |= TextMarkOf(b);
      out[n++] = b;
      continue;
    }
    if (!utf8) break;
    // Characters beyond ASCII one by one, without going back to the vector
    // step between them: with no byte shuffle in SSE2, a vector decoder cost
    // more than it saved on Korean captions. Three-byte characters (most of
    // CJK, Hangul among them) and the single spaces between words are read
    // four bytes at a load; the rest, and the input's last bytes, the plain way.
    const size_t before = at;
    while (n < room && size - at >= 4) {
      std::uint32_t word;
      std::memcpy(&word, in + at, sizeof word);
      if ((word & 0xC0C0F0u) == 0x8080E0u) {
        const std::uint32_t value =
            (word & 0x0Fu) << 12 | (word >> 2 & 0xFC0u) | (word >> 16 & 0x3Fu);
        // U+0800-U+D7FF or U+E000-U+FFFE: neither overlong, a surrogate nor U+FFFF.
        if (value - 0x800u >= 0xD000u && value - 0xE000u >= 0x1FFFu) break;
        out[n++] = static_cast<char16_t>(value);
        at += 3;
      } else if ((word & 0xFFu) == ' ') {
        out[n++] = u' ';
        ++at;
      } else {
        break;
      }
    }
    if (at != before) continue;
    const size_t length = PlainUtf8Length(in + at, size - at, out[n]);
    if (length == 0) break;
    ++n;
    at += length;
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
