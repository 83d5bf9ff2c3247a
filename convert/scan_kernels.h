// The block scanner's inner loops: a portable implementation that every
// machine runs, and implementations in the vector instructions of a machine
// that has them (scan_kernels_<set>.cpp: those of the target's family are
// picked at build time, and among them those the processor runs at run
// time). Every implementation gives the same answer for the same input;
// they differ in speed alone, and the tests and fuzz targets hold each to the
// portable one.
#ifndef LUMENTRACE_CONVERT_SCAN_KERNELS_H_
#define LUMENTRACE_CONVERT_SCAN_KERNELS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/char_decoding.h"

// Eight bytes in one load, the first in the low bits whatever the machine's
// byte order (the test folds away at compile time).
inline std::uint64_t LoadLittle64(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  const std::uint16_t probe = 1;
  unsigned char low;
  std::memcpy(&low, &probe, 1);
  return low == 1 ? word : __builtin_bswap64(word);
}

// What byteText saw in the text it copied.
constexpr unsigned kAmpersandMark = 1;
constexpr unsigned kSemicolonMark = 2;

// The mark a copied byte adds: 0 for any but '&' and ';'.
inline unsigned TextMarkOf(unsigned char b) {
  return b == '&' ? kAmpersandMark : b == ';' ? kSemicolonMark : 0;
}

// byteText's step of one character, as each implementation takes the bytes its
// wider steps leave: the character at in[at] (of `size`) is copied to out[n]
// on, CR and LF left out, and its mark added to `seen`. False, with nothing
// taken, at a '<' or at a byte beyond ASCII that does not start a character
// PlainUtf8Length reads (any such byte when not `utf8`).
inline bool TakeTextCharacter(const unsigned char* in, size_t size, bool utf8, char16_t* out,
                              size_t& at, size_t& n, unsigned& seen) {
  const unsigned char b = in[at];
  if (b < 0x80) {
    if (b == '<') return false;
    ++at;
    if (b == '\r' || b == '\n') return true;
    seen |= TextMarkOf(b);
    out[n++] = b;
    return true;
  }
  const size_t length = utf8 ? PlainUtf8Length(in + at, size - at, out[n]) : 0;
  if (length == 0) return false;
  ++n;
  at += length;
  return true;
}

struct ScanKernels {
  const char* name;
  // Caption text of ASCII-compatible input: copies in[0, size) to `out` as
  // UTF-16 units, CR and LF left out, up to the first '<' or byte beyond
  // ASCII, except (when `utf8`) the start of a two- or three-byte character
  // that PlainUtf8Length (char_decoding.h) reads. Stops too when `room` units
  // are written. Returns the bytes taken, and the units written in
  // `produced`; adds kAmpersandMark to `marks` when it copied a '&', and
  // kSemicolonMark when it copied a ';'. May write anywhere in out[0, room).
  size_t (*byteText)(const unsigned char* in, size_t size, bool utf8, char16_t* out, size_t room,
                     size_t& produced, unsigned& marks);
  // Caption text of UTF-16LE input: copies `units` units from `in` (two bytes
  // each) to `out` up to the first '<', U+FFFF, CR, LF, '&' or ';'. Returns
  // the units copied. May write anywhere in out[0, units).
  size_t (*utf16Text)(const unsigned char* in, size_t units, char16_t* out);
  // The first of in[0, size) that is '<', '>', CR or beyond ASCII; `size`
  // when there is none.
  size_t (*tagStop)(const unsigned char* in, size_t size);
  // The same over `units` UTF-16LE units (a unit beyond ASCII is one above 0x7F).
  size_t (*utf16TagStop)(const unsigned char* in, size_t units);
};

// The portable implementation.
const ScanKernels& PortableScanKernels();

// The vector implementations this machine can run, fastest first, ended by a
// null; empty where the build has none.
const ScanKernels* const* VectorScanKernels();

// The implementation the scanner uses: the fastest there is, unless chosen.
const ScanKernels& ChosenScanKernels();
void ChooseScanKernels(const ScanKernels& kernels);

#endif  // LUMENTRACE_CONVERT_SCAN_KERNELS_H_
