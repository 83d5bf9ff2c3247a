// WideBuffer: a growable buffer of UTF-16 units, for text read in bulk.
#ifndef LUMENTRACE_TEXT_WIDE_BUFFER_H_
#define LUMENTRACE_TEXT_WIDE_BUFFER_H_

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#include "text/wide_string.h"

// A growable run of units whose length is kept apart from its storage, so
// that reuse across blocks never frees or zeroes anything. It grows by
// realloc, which moves a large buffer without holding two copies at once:
// one huge caption costs about its own size.
struct WideBuffer {
  struct Free {
    void operator()(char16_t* p) const { std::free(p); }
  };
  std::unique_ptr<char16_t, Free> buffer;
  size_t capacity = 0;
  size_t size = 0;
  // Room for `extra` more units.
  void Reserve(size_t extra) {
    if (capacity - size >= extra) return;
    const size_t wanted = capacity + capacity / 2 + extra + 64;
    void* grown = std::realloc(buffer.get(), wanted * sizeof(char16_t));
    if (grown == nullptr) throw std::bad_alloc();
    buffer.release();
    buffer.reset(static_cast<char16_t*>(grown));
    capacity = wanted;
  }
  void Assign(WideView units) {
    size = 0;
    Reserve(units.size());
    std::char_traits<char16_t>::copy(buffer.get(), units.data(), units.size());
    size = units.size();
  }
  char16_t* data() { return buffer.get(); }
  WideView View() const { return WideView(buffer.get(), size); }
};

#endif  // LUMENTRACE_TEXT_WIDE_BUFFER_H_
