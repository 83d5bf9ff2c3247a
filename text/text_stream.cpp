#include "text/text_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text/code_page.h"

namespace {

constexpr char16_t kLeadSurrogateBase = 0xD7C0;  // 0xD800 - (0x10000 >> 10)

bool ReadWholeFile(int descriptor, std::string& bytes) {
  struct stat st;
  if (fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  bytes.clear();
  if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char chunk[1 << 16];
  for (;;) {
    const ssize_t n = read(descriptor, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    bytes.append(chunk, static_cast<size_t>(n));
  }
}

// Splits a code point into the unit to return now and the one to return next.
char16_t Deliver(TextStream& stream, char32_t codePoint) {
  if (codePoint < 0x10000) return static_cast<char16_t>(codePoint);
  stream.pendingLow = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
  return static_cast<char16_t>(kLeadSurrogateBase + (codePoint >> 10));
}

void PrepareInput(TextStream& stream) {
  stream.position = 0;
  stream.atEnd = false;
  stream.pendingLow = 0;
  stream.codePage = nullptr;
  const auto* data = reinterpret_cast<const unsigned char*>(stream.bytes.data());
  if (stream.mode == StreamMode::Utf8Text && stream.bytes.size() >= 3 && data[0] == 0xEF &&
      data[1] == 0xBB && data[2] == 0xBF) {
    stream.position = 3;
  }
  // Today's commonest subtitle file is UTF-8 without a byte-order mark; a file in a
  // legacy code page with any non-ASCII text is practically never valid UTF-8.
  if (stream.mode == StreamMode::AnsiText && !IsValidUtf8(data, stream.bytes.size())) {
    stream.codePage = &CodePageDecoderFor(AnsiCodePageName());
  }
  stream.open = true;
}

}  // namespace

bool ParseStreamMode(const char* modeString, StreamMode& mode) {
  if (std::strcmp(modeString, "rb, ccs=UNICODE") == 0) {
    mode = StreamMode::Utf16Binary;
  } else if (std::strcmp(modeString, "r") == 0) {
    mode = StreamMode::AnsiText;
  } else if (std::strcmp(modeString, "r, ccs=UTF-8") == 0) {
    mode = StreamMode::Utf8Text;
  } else if (std::strcmp(modeString, "w, ccs=UNICODE") == 0) {
    mode = StreamMode::Utf16Output;
  } else {
    return false;
  }
  return true;
}

bool OpenTextStream(TextStream& stream, const std::string& path, const char* modeString) {
  if (!ParseStreamMode(modeString, stream.mode)) return false;
  if (stream.mode == StreamMode::Utf16Output) {
    if (!CreateOutputFile(stream.output, path)) return false;
    stream.open = true;
    WriteOutputBytes(stream.output, "\xFF\xFE", 2);
    return true;
  }
  // O_NONBLOCK: a FIFO must never hold the run up; only regular files are read.
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool read = ReadWholeFile(descriptor, stream.bytes);
  close(descriptor);
  if (!read) return false;
  PrepareInput(stream);
  return true;
}

void OpenTextStreamOverBytes(TextStream& stream, std::string bytes, StreamMode mode) {
  stream.mode = mode;
  stream.bytes = std::move(bytes);
  PrepareInput(stream);
}

char16_t ReadChar(TextStream& stream) {
  if (stream.pendingLow != 0) {
    const char16_t low = stream.pendingLow;
    stream.pendingLow = 0;
    return low;
  }
  const size_t size = stream.bytes.size();
  size_t at = stream.position;
  const auto* data = reinterpret_cast<const unsigned char*>(stream.bytes.data());
  if (stream.mode == StreamMode::Utf16Binary) {
    if (at >= size || size - at < 2) {  // a lone last byte is the end too
      stream.atEnd = true;
      return kEndOfInput;
    }
    stream.position = at + 2;
    return static_cast<char16_t>(data[at] | data[at + 1] << 8);
  }
  if (at >= size) {
    stream.atEnd = true;
    return kEndOfInput;
  }
  const unsigned char first = data[at];
  if (first < 0x80) {
    if (first == '\r' && at + 1 < size && data[at + 1] == '\n') {
      stream.position = at + 2;
      return u'\n';
    }
    stream.position = at + 1;
    return first;
  }
  const DecodedChar c = stream.codePage != nullptr
                            ? DecodeCodePage(*stream.codePage, data + at, size - at)
                            : DecodeUtf8(data + at, size - at);
  stream.position = at + c.length;
  return Deliver(stream, c.codePoint);
}

bool MoveBy(TextStream& stream, long offset) {
  if (offset < 0 && static_cast<size_t>(-offset) > stream.position) return false;
  MoveTo(stream, offset < 0 ? stream.position - static_cast<size_t>(-offset)
                            : stream.position + static_cast<size_t>(offset));
  return true;
}

void MoveTo(TextStream& stream, size_t position) {
  stream.position = position;
  stream.pendingLow = 0;
  stream.atEnd = false;
}

bool AtEndOfFile(const TextStream& stream) {
  return stream.atEnd;
}

void WriteText(TextStream& stream, WideView text) {
  char chunk[4096];
  size_t used = 0;
  for (char16_t unit : text) {
    if (used + 4 > sizeof chunk) {
      WriteOutputBytes(stream.output, chunk, used);
      used = 0;
    }
    if (unit == u'\n') {
      chunk[used++] = '\r';
      chunk[used++] = '\0';
    }
    chunk[used++] = static_cast<char>(unit & 0xFF);
    chunk[used++] = static_cast<char>(unit >> 8);
  }
  WriteOutputBytes(stream.output, chunk, used);
}

bool CloseTextStream(TextStream& stream) {
  if (!stream.open) return true;
  stream.open = false;
  if (stream.mode == StreamMode::Utf16Output) return CommitOutputFile(stream.output);
  stream.bytes.clear();
  stream.bytes.shrink_to_fit();
  return true;
}
