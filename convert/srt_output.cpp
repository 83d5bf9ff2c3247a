#include "convert/srt_output.h"

#include "text/utf16.h"

namespace {

// The buffer goes to the sink once it holds this much; a caption of any length
// goes in pieces, so that the buffer stays small.
constexpr size_t kOutputBlock = 1 << 20;
constexpr size_t kCaptionPiece = kOutputBlock / 4;

// Writes `value` (not negative) with at least `width` digits, ending at
// `end`; returns where the digits begin.
char* PutDigits(char* end, std::int32_t value, int width) {
  int written = 0;
  do {
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
    ++written;
  } while (value != 0 || written < width);
  return end;
}

char* PutText(char* end, std::string_view text) {
  end -= text.size();
  text.copy(end, text.size());
  return end;
}

// "HH:MM:SS,mmm", built backwards from `end`; the longest is "596:31:23,647".
char* PutTime(char* end, std::int32_t ms) {
  if (ms < 0) ms = 0;
  std::int32_t rest = ms % 3600000;
  const std::int32_t minutes = rest / 60000;
  rest %= 60000;
  char* p = PutText(PutDigits(end, rest % 1000, 3), ",");
  p = PutText(PutDigits(p, rest / 1000, 2), ":");
  p = PutText(PutDigits(p, minutes, 2), ":");
  return PutDigits(p, ms / 3600000, 2);
}

// ASCII, its line breaks already CR LF, in the output's encoding.
void PutAscii(SrtWriter& writer, std::string_view text) {
  if (writer.encoding == SrtEncoding::kUtf8) {
    writer.buffer += text;
    return;
  }
  char wide[128];
  for (size_t i = 0; i < text.size(); ++i) {
    wide[2 * i] = text[i];
    wide[2 * i + 1] = '\0';
  }
  writer.buffer.append(wide, 2 * text.size());
}

// Units in the output's encoding, each LF as CR LF.
void PutUnits(SrtWriter& writer, WideView units) {
  std::string& out = writer.buffer;
  if (writer.encoding == SrtEncoding::kUtf8) {
    for (size_t line = units.find(u'\n'); line != WideView::npos; line = units.find(u'\n')) {
      AppendUtf8(out, units.substr(0, line));
      out += "\r\n";
      units.remove_prefix(line + 1);
    }
    AppendUtf8(out, units);
    return;
  }
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

void Flush(SrtWriter& writer, size_t atLeast) {
  if (writer.buffer.size() < atLeast || writer.buffer.empty()) return;
  writer.sink.write(writer.sink.context, writer.buffer.data(), writer.buffer.size());
  writer.buffer.clear();
}

void PutCaption(SrtWriter& writer, WideView caption) {
  while (!caption.empty()) {
    size_t piece = caption.size() < kCaptionPiece ? caption.size() : kCaptionPiece;
    if (piece < caption.size() && IsLeadSurrogate(caption[piece - 1])) --piece;
    PutUnits(writer, caption.substr(0, piece));
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
  writer.buffer.reserve(1 << 16);  // grows to kOutputBlock only for outputs that long
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
  char* p = PutTime(PutText(headEnd, "\r\n"), end);
  p = PutDigits(PutText(PutTime(PutText(p, " --> "), start), "\r\n"), writer.next, 1);
  if (!writer.first) p = PutText(p, "\r\n\r\n");
  PutAscii(writer, std::string_view(p, static_cast<size_t>(headEnd - p)));
  if (writer.next < INT32_MAX) ++writer.next;
  writer.first = false;
  PutCaption(writer, caption);
  Flush(writer, kOutputBlock);
}

void FinishSrt(SrtWriter& writer) {
  Flush(writer, 1);
}
