// An input read from bytes in memory the way a file is read, at byte offsets,
// which a test can make shorter, or make fail, between two reads.
#ifndef LUMENTRACE_TESTS_SUPPORT_STRING_SOURCE_H_
#define LUMENTRACE_TESTS_SUPPORT_STRING_SOURCE_H_

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/input_window.h"

struct StringSource {
  std::string bytes;
  size_t reads = 0;                     // reads made so far
  size_t shortenAfter = ~size_t{0};     // after this many reads the input is cut ...
  size_t shortenedSize = 0;             // ... to this many bytes
  size_t failAfter = ~size_t{0};        // reads after this many fail
  size_t lowestEmptyRead = ~size_t{0};  // the lowest offset a read found nothing at
  // When not 0: the first `startBytes` bytes are handed over as read already,
  // in a buffer of this many bytes.
  size_t startCapacity = 0;
  size_t startBytes = 0;

  ByteSource Source() {
    ByteSource source;
    source.context = this;
    source.read = [](void* context, size_t offset, unsigned char* buffer,
                     size_t size) -> std::int64_t {
      StringSource& s = *static_cast<StringSource*>(context);
      if (s.reads++ >= s.failAfter) return -1;
      if (s.reads > s.shortenAfter && s.bytes.size() > s.shortenedSize)
        s.bytes.resize(s.shortenedSize);
      if (offset >= s.bytes.size()) {
        s.lowestEmptyRead = std::min(s.lowestEmptyRead, offset);
        return 0;
      }
      const size_t n = std::min(size, s.bytes.size() - offset);
      std::memcpy(buffer, s.bytes.data() + offset, n);
      return static_cast<std::int64_t>(n);
    };
    if (startCapacity != 0) {
      source.takeStart = [](void* context, size_t* size, size_t* capacity) -> unsigned char* {
        StringSource& s = *static_cast<StringSource*>(context);
        auto* start = static_cast<unsigned char*>(std::malloc(s.startCapacity));
        *size = std::min({s.startBytes, s.startCapacity, s.bytes.size()});
        *capacity = s.startCapacity;
        if (*size != 0) std::memcpy(start, s.bytes.data(), *size);
        return start;
      };
    }
    return source;
  }
};

#endif  // LUMENTRACE_TESTS_SUPPORT_STRING_SOURCE_H_
