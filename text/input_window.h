// InputWindow: the part of an input that is in memory.
//
// An input is either bytes already in memory (all of it is held, always) or
// a ByteSource that reads it at a byte offset, a file most often. A source is
// read through one reused buffer, 1 MiB by default, which slides forward as
// the readers move on and grows only while one read needs more than it holds
// (a block longer than the buffer); it shrinks back once such a read is past.
// A position that has been left behind is simply read again.
//
// A source's input ends where a read first finds nothing or fails: a file
// that gets shorter while it is read ends where the reads found it ended, and
// once the end has been seen it never moves out again. A failed read also
// marks the window `failed`, so that the caller can refuse the result.
#ifndef LUMENTRACE_TEXT_INPUT_WINDOW_H_
#define LUMENTRACE_TEXT_INPUT_WINDOW_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

// Reads input bytes at a byte offset, as a platform file or a test provides them.
struct ByteSource {
  void* context = nullptr;
  // Reads at most `size` bytes from byte `offset` into `buffer`. Returns the
  // number read, 0 at (or past) the end of the input, or -1 on failure.
  std::int64_t (*read)(void* context, size_t offset, unsigned char* buffer, size_t size) = nullptr;
  // Optional: the input's first bytes, read already (with a file's first
  // byte, say), handed over so that they are not read again: a buffer from
  // std::malloc of `*capacity` bytes whose first `*size` bytes are the
  // input's first bytes, owned by the caller from then on; nullptr when
  // there are none. Asked once at most, before the first read.
  unsigned char* (*takeStart)(void* context, size_t* size, size_t* capacity) = nullptr;
};

constexpr size_t kWindowBytes = size_t{1} << 20;
// The most bytes one character takes in any reading (UTF-8, GB18030).
constexpr size_t kMaxCharBytes = 4;
constexpr size_t kUnknownEnd = ~size_t{0};

struct InputWindow {
  ByteSource source;   // no `read`: the whole input is `memory`
  std::string memory;  // the input held in memory
  struct Free {
    void operator()(unsigned char* p) const { std::free(p); }
  };
  std::unique_ptr<unsigned char, Free> buffer;
  size_t capacity = 0;             // of `buffer`
  size_t smallest = kWindowBytes;  // the capacity it shrinks back to
  size_t base = 0;                 // the input offset of the first byte held
  size_t size = 0;                 // the number of bytes held
  size_t end = kUnknownEnd;        // the input's length, once known
  size_t keepFrom = 0;             // kept when sliding, as long as it fits
  bool failed = false;             // a read failed (the input ends there)
};

// The whole input is `bytes`.
void OpenWindowOverBytes(InputWindow& window, std::string bytes);
// The input is read from `source` through a buffer of `windowBytes` (at least
// kMaxCharBytes).
void OpenWindowOverSource(InputWindow& window, ByteSource source,
                          size_t windowBytes = kWindowBytes);

// The held bytes: [base, base + size) of the input.
inline const unsigned char* HeldBytes(const InputWindow& window) {
  return window.source.read == nullptr
             ? reinterpret_cast<const unsigned char*>(window.memory.data())
             : window.buffer.get();
}

// True when the held bytes run to the input's end (so the end of what is held
// is the end of the input, not a cut).
inline bool HoldsInputEnd(const InputWindow& window) {
  return window.base + window.size >= window.end;
}

// Whether the window holds [from, to) already (or as much of it as the input
// has), so that HoldInput would leave it as it is.
inline bool HoldsAlready(const InputWindow& window, size_t from, size_t to) {
  if (window.source.read == nullptr) return true;
  const size_t wanted = std::max(from, std::min(to, window.end));
  return window.capacity != 0 && from >= window.base && wanted <= window.base + window.size;
}

// Makes the window hold [from, to), or as much of it as the input has: after
// it, base <= from, and the window holds through `to` or to the input's end.
// It may hold more before and after (up to its capacity).
void HoldInput(InputWindow& window, size_t from, size_t to);

#endif  // LUMENTRACE_TEXT_INPUT_WINDOW_H_
