#include "text/input_window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Reads on after the held bytes until the buffer is full or the input ends.
void Fill(InputWindow& window) {
  while (window.size < window.capacity && window.base + window.size < window.end) {
    const size_t offset = window.base + window.size;
    const size_t room = window.capacity - window.size;
    const std::int64_t n =
        window.source.read(window.source.context, offset, window.buffer.get() + window.size, room);
    if (n <= 0) {
      // Short of what an earlier read saw, the file got shorter: it ends here now.
      if (n < 0) window.failed = true;
      window.end = std::min(window.end, offset);
      return;
    }
    window.size += std::min(static_cast<size_t>(n), room);
  }
}

// Takes the input's first bytes from the source, when it has them, as the
// buffer's first contents, and reads on as a first fill would.
void TakeStart(InputWindow& window) {
  size_t size = 0;
  size_t capacity = 0;
  unsigned char* start = window.source.takeStart(window.source.context, &size, &capacity);
  window.source.takeStart = nullptr;
  if (start == nullptr) return;
  if (capacity == 0 || size > capacity) {
    std::free(start);
    return;
  }
  window.buffer.reset(start);
  window.capacity = capacity;
  window.base = 0;
  window.size = size;
  Fill(window);
}

}  // namespace

void OpenWindowOverBytes(InputWindow& window, std::string bytes) {
  window = InputWindow();
  window.memory = std::move(bytes);
  window.size = window.memory.size();
  window.end = window.size;
}

void OpenWindowOverSource(InputWindow& window, ByteSource source, size_t windowBytes) {
  window = InputWindow();
  window.source = source;
  window.smallest = std::max(windowBytes, kMaxCharBytes);
}

void HoldInput(InputWindow& window, size_t from, size_t to) {
  if (HoldsAlready(window, from, to)) return;
  if (window.capacity == 0 && window.source.takeStart != nullptr) TakeStart(window);
  const size_t heldEnd = window.base + window.size;
  const size_t wanted = std::max(from, std::min(to, window.end));
  if (from >= window.base && wanted <= heldEnd && window.capacity != 0) return;

  // Where the window starts now: at `from`, or earlier at `keepFrom` while
  // that is still held and the whole fits without growing.
  size_t start = from;
  const size_t keep = window.keepFrom;
  if (keep < from && keep >= window.base && keep < heldEnd && wanted - keep <= window.smallest) {
    start = keep;
  }
  // The buffer grows by half at least, so that a long block costs few moves.
  const size_t span = wanted - start;
  size_t capacity = window.capacity;
  if (span <= window.smallest) {
    capacity = window.smallest;
  } else if (span > capacity) {
    capacity = std::max(span, capacity + capacity / 2);
  }

  // What is held from `start` on stays, moved to the front; the rest is read.
  // The buffer changes size by realloc, which moves a large one without
  // holding two copies at once.
  size_t kept = start >= window.base && start < heldEnd ? heldEnd - start : 0;
  kept = std::min(kept, capacity);
  if (kept != 0 && start != window.base)
    std::memmove(window.buffer.get(), window.buffer.get() + (start - window.base), kept);
  if (capacity != window.capacity) {
    void* resized = std::realloc(window.buffer.get(), capacity);
    if (resized == nullptr) throw std::bad_alloc();
    window.buffer.release();
    window.buffer.reset(static_cast<unsigned char*>(resized));
    window.capacity = capacity;
  }
  window.base = start;
  window.size = kept;
  Fill(window);
}
