// The SRT writer's inner loops: writing caption units in the output's
// encoding with every LF as CR LF. A portable implementation that every
// machine runs, and implementations in the vector instructions of a machine
// that has them (srt_kernels_<set>.cpp, the one for the target picked at build
// time), as for the scanner's loops (scan_kernels.h). Every implementation
// writes the same bytes for the same units; the tests and fuzz targets hold
// each to the portable one.
#ifndef LUMENTRACE_CONVERT_SRT_KERNELS_H_
#define LUMENTRACE_CONVERT_SRT_KERNELS_H_

#include <cstddef>

// Room a call may use past `out`: up to SrtUtf16Room(size) bytes for UTF-16LE
// and SrtUtf8Room(size) for UTF-8. Only the bytes up to the returned end are
// meaningful; a vector step may store a few bytes more within that room.
constexpr size_t kSrtKernelSlack = 16;
constexpr size_t SrtUtf16Room(size_t units) {
  return 4 * units + kSrtKernelSlack;
}
constexpr size_t SrtUtf8Room(size_t units) {
  return 3 * units + kSrtKernelSlack;
}

constexpr size_t kSrtAsciiBlock = 64;

struct SrtKernels {
  const char* name;
  // Writes units[0, size) as UTF-16LE, each LF as CR LF; returns the end.
  char* (*utf16Out)(const char16_t* units, size_t size, char* out);
  // Writes units[0, size) as UTF-8, each LF as CR LF, a surrogate pair as one
  // character and a surrogate without its other half as U+FFFD (which is what
  // AppendUtf8 in text/utf16.h writes); returns the end.
  char* (*utf8Out)(const char16_t* units, size_t size, char* out);
  // Writes the kSrtAsciiBlock bytes at `ascii` (ASCII) as twice as many bytes of
  // UTF-16LE: short ASCII text goes through a whole block at once.
  void (*widenAscii)(const char* ascii, char* out);
};

// The portable implementation.
const SrtKernels& PortableSrtKernels();

// The vector implementations this machine can run, fastest first, ended by a
// null; empty where the build has none.
const SrtKernels* const* VectorSrtKernels();

// The implementation the writer uses: the fastest there is.
const SrtKernels& ChosenSrtKernels();

#endif  // LUMENTRACE_CONVERT_SRT_KERNELS_H_
