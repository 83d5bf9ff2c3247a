#include "convert/srt_output.h"

#include <cstring>

#include "text/utf16.h"

namespace {

// The buffer goes to the sink once it holds this much; a caption of any length
// goes in pieces, so that the buffer stays small.
constexpr size_t kOutputBlock = 1 << 20;
constexpr size_t kCaptionPiece = kOutputBlock / 4;

// Writes `value` (not negative) with at least `width` digits as ASCII, ending
// at `end`; returns where the digits begin.
char* PutDigits(char* end, std::int32_t value, int width) {
  int written = 0;
  do {
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
    ++written;
  } while (value != 0 || written < width);
  return end;
}

char* PutText(char* end, const char* text, size_t size) {
  end -= size;
  std::memcpy(end, text, size);
  return end;
}

// "HH:MM:SS,mmm", built backwards from `end`; the longest is "596:31:23,647".
char* PutTime(char* end, std::int32_t ms) {
  if (ms < 0) ms = 0;
  std::int32_t rest = ms % 3600000;
  const std::int32_t minutes = rest / 60000;
  rest %= 60000;
  char* p = PutDigits(end, rest % 1000, 3);
  *--p = ',';
  p = PutDigits(p, rest / 1000, 2);
  *--p = ':';
  p = PutDigits(p, minutes, 2);
  *--p = ':';
  return PutDigits(p, ms / 3600000, 2);
}

// ASCII text in the output's encoding.
void PutAscii(SrtWriter& writer, const char* text, size_t size) {
  if (writer.encoding == SrtEncoding::kUtf8) {
    writer.buffer.append(text, size);
    return;
  }
  const size_t old = writer.buffer.size();
  writer.buffer.resize(old + 2 * size);
  char* p = &writer.buffer[old];
  for (size_t i = 0; i < size; ++i) {
    *p++ = text[i];
    *p++ = '\0';
  }
}

void PutUtf16(std::string& out, WideView units) {
  const size_t old = out.size();
  size_t breaks = 0;
  for (char16_t u : units) breaks += u == u'\n';
  out.resize(old + 2 * (units.size() + breaks));
  char* p = &out[old];
  for (char16_t u : units) {
    if (u == u'\n') {
      *p++ = '\r';
      *p++ = '\0';
    }
    *p++ = static_cast<char>(u & 0xFF);
    *p++ = static_cast<char>(u >> 8);
  }
}

// A surrogate without its other half has no UTF-8 form: it is written as U+FFFD.
// A pair split between two pieces is joined, the piece ending before its lead.
void PutUtf8(std::string& out, WideView units) {
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c < 0x80) {
      if (c == u'\n') out += '\r';
      out += static_cast<char>(c);
      continue;
    }
    if (IsLeadSurrogate(c) && i + 1 < units.size() && IsTrailSurrogate(units[i + 1])) {
      c = CombineSurrogates(c, units[++i]);
    } else if (IsSurrogate(c)) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
    } else {
      if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
      } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      }
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void Flush(SrtWriter& writer, size_t atLeast) {
  if (writer.buffer.size() < atLeast || writer.buffer.empty()) return;
  writer.sink.write(writer.sink.context, writer.buffer.data(), writer.buffer.size());
  writer.buffer.clear();
}

void PutCaption(SrtWriter& writer, WideView caption) {
  while (!caption.empty()) {
    size_t piece = caption.size() < kCaptionPiece ? caption.size() : kCaptionPiece;
    if (piece < caption.size() && IsLeadSurrogate(caption[piece - 1])) --piece;
    const WideView units = caption.substr(0, piece);
    if (writer.encoding == SrtEncoding::kUtf8) {
      PutUtf8(writer.buffer, units);
    } else {
      PutUtf16(writer.buffer, units);
    }
    caption.remove_prefix(piece);
    Flush(writer, kOutputBlock);
  }
}

}  // namespace

SrtSink StringSink(std::string& bytes) {
  SrtSink sink;
  sink.context = &bytes;
  sink.write = [](void* context, const char* data, size_t size) {
    static_cast<std::string*>(context)->append(data, size);
  };
  sink.restart = [](void* context) { static_cast<std::string*>(context)->clear(); };
  return sink;
}

void StartSrt(SrtWriter& writer, SrtSink sink, SrtEncoding encoding) {
  writer.sink = sink;
  writer.encoding = encoding;
  writer.buffer.clear();
  writer.buffer.reserve(kOutputBlock | 1 << 16);
  writer.next = 1;
  writer.first = true;
  if (encoding == SrtEncoding::kUtf16Le) writer.buffer.append("\xFF\xFE", 2);
}

void RestartSrt(SrtWriter& writer) {
  writer.sink.restart(writer.sink.context);
  StartSrt(writer, writer.sink, writer.encoding);
}

void WriteCue(SrtWriter& writer, std::int32_t start, std::int32_t end, WideView caption) {
  // The separating empty line goes before every cue but the first, so the file
  // never ends in a line break.
  char head[64];
  char* const headEnd = head + sizeof head;
  char* p = PutTime(PutText(headEnd, "\r\n", 2), end);
  p = PutTime(PutText(p, " --> ", 5), start);
  p = PutDigits(PutText(p, "\r\n", 2), writer.next, 1);
  if (!writer.first) PutAscii(writer, "\r\n\r\n", 4);
  PutAscii(writer, p, static_cast<size_t>(headEnd - p));
  if (writer.next < INT32_MAX) ++writer.next;
  writer.first = false;
  PutCaption(writer, caption);
  Flush(writer, kOutputBlock);
}

void FinishSrt(SrtWriter& writer) {
  Flush(writer, 1);
}
