#include "convert/scan_kernels.h"

#include <cstdint>
#include <cstring>

#include "text/char_decoding.h"

// The portable implementation works eight bytes at a time in a general
// register where a run is long, and byte by byte (or unit by unit) around
// whatever stops it.

namespace {

constexpr std::uint64_t kBytes = 0x0101010101010101ull;
constexpr std::uint64_t kLanes = 0x0001000100010001ull;

// The top bit of each byte of `word` that is zero, and possibly of bytes
// above one that is: never set when no byte is zero, so the lowest is exact.
inline std::uint64_t ZeroBytes(std::uint64_t word) {
  return (word - kBytes) & ~word & 0x8080808080808080ull;
}

// The same for the four 16-bit lanes.
inline std::uint64_t ZeroLanes(std::uint64_t word) {
  return (word - kLanes) & ~word & 0x8000800080008000ull;
}

inline bool IsTextStop(std::uint32_t c) {
  return c == u'<' || c == u'\r' || c == u'\n' || c == u'&' || c == u';';
}

size_t PortableByteText(const unsigned char* in, size_t size, bool utf8, char16_t* out, size_t room,
                        size_t& produced, unsigned& marks) {
  size_t at = 0;
  size_t n = 0;
  unsigned seen = 0;
  while (n < room && at < size) {
    const unsigned char b = in[at];
    if (b >= 0x80 || IsTextStop(b) || room - n < 8 || size - at < 8) {
      if (!TakeTextCharacter(in, size, utf8, out, at, n, seen)) break;
      continue;
    }
    // Eight bytes a step, up to the first stop.
    const std::uint64_t word = LoadLittle64(in + at);
    const std::uint64_t stops = ZeroBytes(word ^ u'<' * kBytes) | ZeroBytes(word ^ u'\r' * kBytes) |
                                ZeroBytes(word ^ u'\n' * kBytes) | ZeroBytes(word ^ u'&' * kBytes) |
                                ZeroBytes(word ^ u';' * kBytes) | (word & 0x8080808080808080ull);
    const size_t plain = stops == 0 ? 8 : static_cast<size_t>(__builtin_ctzll(stops) / 8);
    for (size_t k = 0; k < plain; ++k) out[n + k] = static_cast<char16_t>(word >> (8 * k) & 0xFF);
    n += plain;
    at += plain;
  }
  marks |= seen;
  produced = n;
  return at;
}

size_t PortableUtf16Text(const unsigned char* in, size_t units, char16_t* out) {
  size_t i = 0;
  while (i < units) {
    if (units - i >= 4) {
      // Four units a step. Taken along with the stops, and then looked at one
      // by one: the rest of 0x08-0x0F, '8' to '?' and U+FFF8 to U+FFFE.
      const std::uint64_t word = LoadLittle64(in + 2 * i);
      const std::uint64_t low3 = word | 7 * kLanes;
      const std::uint64_t stops =
          ZeroLanes(low3 ^ 0x000F * kLanes) | ZeroLanes(low3 ^ 0x003F * kLanes) |
          ZeroLanes(low3 ^ 0xFFFF * kLanes) | ZeroLanes(word ^ u'&' * kLanes);
      if (stops == 0) {
        for (size_t k = 0; k < 4; ++k) out[i + k] = static_cast<char16_t>(word >> (16 * k));
        i += 4;
        continue;
      }
    }
    const auto unit = static_cast<char16_t>(in[2 * i] | in[2 * i + 1] << 8);
    if (IsTextStop(unit) || unit == 0xFFFF) break;
    out[i++] = unit;
  }
  return i;
}

size_t PortableTagStop(const unsigned char* in, size_t size) {
  size_t at = 0;
  while (size - at >= 8) {
    const std::uint64_t word = LoadLittle64(in + at);
    const std::uint64_t angle = word | 2 * kBytes;  // '<' and '>' alike
    const std::uint64_t marks = ZeroBytes(angle ^ u'>' * kBytes) |
                                ZeroBytes(word ^ u'\r' * kBytes) | (word & 0x8080808080808080ull);
    if (marks != 0) return at + static_cast<size_t>(__builtin_ctzll(marks) / 8);
    at += 8;
  }
  for (; at < size; ++at) {
    const unsigned char b = in[at];
    if (b == '<' || b == '>' || b == '\r' || b >= 0x80) break;
  }
  return at;
}

size_t PortableUtf16TagStop(const unsigned char* in, size_t units) {
  size_t i = 0;
  while (units - i >= 4) {
    const std::uint64_t word = LoadLittle64(in + 2 * i);
    const std::uint64_t angle = word | 2 * kLanes;
    // A unit beyond ASCII has a bit set among its top nine.
    const std::uint64_t beyond = word & 0xFF80FF80FF80FF80ull;
    const std::uint64_t wide =
        (((beyond & 0x7FFF7FFF7FFF7FFFull) + 0x7FFF7FFF7FFF7FFFull) | beyond) &
        0x8000800080008000ull;
    const std::uint64_t marks =
        ZeroLanes(angle ^ u'>' * kLanes) | ZeroLanes(word ^ u'\r' * kLanes) | wide;
    if (marks != 0) return i + static_cast<size_t>(__builtin_ctzll(marks) / 16);
    i += 4;
  }
  for (; i < units; ++i) {
    const auto unit = static_cast<unsigned>(in[2 * i] | in[2 * i + 1] << 8);
    if (unit == '<' || unit == '>' || unit == '\r' || unit >= 0x80) break;
  }
  return i;
}

constexpr ScanKernels kPortable = {"portable", PortableByteText, PortableUtf16Text, PortableTagStop,
                                   PortableUtf16TagStop};

const ScanKernels* chosen = nullptr;

}  // namespace

const ScanKernels& PortableScanKernels() {
  return kPortable;
}

const ScanKernels& ChosenScanKernels() {
  if (chosen == nullptr) {
    const ScanKernels* const* vector = VectorScanKernels();
    chosen = vector[0] != nullptr ? vector[0] : &kPortable;
  }
  return *chosen;
}

void ChooseScanKernels(const ScanKernels& kernels) {
  chosen = &kernels;
}
