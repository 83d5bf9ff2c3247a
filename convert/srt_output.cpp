#include "convert/srt_output.h"

#include <cstring>
#include <utility>

#include "convert/srt_kernels.h"
#include "text/utf16.h"

// A cue is written straight into the buffer: one check that there is room for
// the whole of it (its longest possible form), then plain stores. The number
// line is kept as text and counted up in place; a time is a few digit pairs
// from a table.

namespace {

// The buffer goes to the sink once it holds this much; a caption of any length
// goes in pieces, so that the buffer stays small.
constexpr size_t kOutputBlock = 1 << 20;
constexpr size_t kCaptionPiece = kOutputBlock / 4;
constexpr size_t kFirstCapacity = 1 << 16;  // grows to about 2 MiB only for outputs that long
// The longest cue head: "\r\n\r\n", ten digits, "\r\n", two times of 13
// characters with " --> " between them, "\r\n".
constexpr size_t kHeadChars = 4 + 10 + 2 + 13 + 5 + 13 + 2;
static_assert(kHeadChars <= kSrtAsciiBlock, "a cue head is widened as one block");

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* PutPair(char* out, std::uint32_t value) {
  std::memcpy(out, kDigitPairs + 2 * value, 2);
  return out + 2;
}

// "HH:MM:SS,mmm"; the hours take a third digit from 100 on (the longest time
// is "596:31:23,647").
char* PutTime(char* out, std::int32_t time) {
  const std::uint32_t ms = time < 0 ? 0 : static_cast<std::uint32_t>(time);
  std::uint32_t hours = ms / 3600000;
  std::uint32_t rest = ms - hours * 3600000;
  const std::uint32_t minutes = rest / 60000;
  rest -= minutes * 60000;
  const std::uint32_t seconds = rest / 1000;
  const std::uint32_t milli = rest - seconds * 1000;
  if (hours >= 100) {
    *out++ = static_cast<char>('0' + hours / 100);
    hours %= 100;
  }
  out = PutPair(out, hours);
  *out++ = ':';
  out = PutPair(out, minutes);
  *out++ = ':';
  out = PutPair(out, seconds);
  *out++ = ',';
  *out++ = static_cast<char>('0' + milli / 100);
  return PutPair(out, milli % 100);
}

// The decimal text of writer.next, when it is not already there (a new writer,
// or a count set from outside).
void SpellNumber(SrtWriter& writer) {
  std::uint32_t value = writer.next < 0 ? 0 : static_cast<std::uint32_t>(writer.next);
  char reversed[10];
  std::uint8_t length = 0;
  do {
    reversed[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (std::uint8_t i = 0; i < length; ++i) writer.digits[i] = reversed[length - 1 - i];
  writer.digitCount = length;
  writer.spelled = writer.next;
}

// Counts the cue just written: the number and its text one up, stopping at the
// largest number there is.
void CountCue(SrtWriter& writer) {
  if (writer.next == INT32_MAX) return;
  ++writer.next;
  size_t at = writer.digitCount;
  while (at > 0 && writer.digits[at - 1] == '9') writer.digits[--at] = '0';
  if (at == 0) {
    // 9...9 to 10...0.
    writer.digits[0] = '1';
    writer.digits[writer.digitCount++] = '0';
  } else {
    ++writer.digits[at - 1];
  }
  writer.spelled = writer.next;
}

// The head of the next cue in ASCII at `out`: the separating empty line (before
// every cue but the first, so that the file never ends in a line break), the
// number line and the time line.
char* PutHead(SrtWriter& writer, char* out, std::int32_t start, std::int32_t end) {
  if (!writer.first) {
    std::memcpy(out, "\r\n\r\n", 4);
    out += 4;
  }
  if (writer.spelled != writer.next) SpellNumber(writer);
  std::memcpy(out, writer.digits, sizeof writer.digits);  // the digits and what follows them
  out += writer.digitCount;
  *out++ = '\r';
  *out++ = '\n';
  out = PutTime(out, start);
  std::memcpy(out, " --> ", 5);
  out = PutTime(out + 5, end);
  *out++ = '\r';
  *out++ = '\n';
  return out;
}

void Flush(SrtWriter& writer) {
  if (writer.used == 0) return;
  writer.sink.write(writer.sink.context, writer.buffer.get(), writer.used);
  writer.used = 0;
}

// Room for `bytes` more in the buffer, flushing first when the buffer is
// already large; returns where they go.
char* Room(SrtWriter& writer, size_t bytes) {
  if (writer.capacity - writer.used >= bytes) return writer.buffer.get() + writer.used;
  if (writer.used >= kOutputBlock / 2) Flush(writer);
  if (writer.capacity - writer.used < bytes) {
    size_t grown = writer.capacity * 2;
    if (grown < writer.used + bytes) grown = writer.used + bytes;
    std::unique_ptr<char[]> buffer(new char[grown]);
    if (writer.used != 0) std::memcpy(buffer.get(), writer.buffer.get(), writer.used);
    writer.buffer = std::move(buffer);
    writer.capacity = grown;
  }
  return writer.buffer.get() + writer.used;
}

size_t WorstBytes(SrtEncoding encoding, size_t units) {
  return encoding == SrtEncoding::kUtf8 ? SrtUtf8Room(units) : SrtUtf16Room(units);
}

// Units in the output's encoding, each LF as CR LF, at `out`, which has room
// for WorstBytes of them.
char* PutUnits(SrtEncoding encoding, char* out, WideView units) {
  const SrtKernels& kernels = ChosenSrtKernels();
  return encoding == SrtEncoding::kUtf8 ? kernels.utf8Out(units.data(), units.size(), out)
                                        : kernels.utf16Out(units.data(), units.size(), out);
}

// ASCII of up to kSrtAsciiBlock bytes in the output's encoding (`out` has room
// for a whole block of UTF-16LE).
char* PutAscii(SrtEncoding encoding, char* out, const char* ascii, size_t length) {
  if (encoding == SrtEncoding::kUtf8) {
    std::memcpy(out, ascii, length);
    return out + length;
  }
  ChosenSrtKernels().widenAscii(ascii, out);
  return out + 2 * length;
}

void Advance(SrtWriter& writer, char* end) {
  writer.used = static_cast<size_t>(end - writer.buffer.get());
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
  writer.used = 0;
  if (writer.capacity < kFirstCapacity) {
    writer.buffer.reset(new char[kFirstCapacity]);
    writer.capacity = kFirstCapacity;
  }
  writer.next = 1;
  writer.spelled = 0;
  writer.first = true;
  if (encoding == SrtEncoding::kUtf16Le) {
    std::memcpy(writer.buffer.get(), "\xFF\xFE", 2);
    writer.used = 2;
  }
}

void RestartSrt(SrtWriter& writer) {
  writer.sink.restart(writer.sink.context);
  StartSrt(writer, writer.sink, writer.encoding);
}

void WriteCue(SrtWriter& writer, std::int32_t start, std::int32_t end, WideView caption) {
  const size_t whole = caption.size() <= kCaptionPiece ? caption.size() : 0;
  char* out = Room(writer, 2 * kSrtAsciiBlock + WorstBytes(writer.encoding, whole));
  char head[kSrtAsciiBlock] = {};
  const size_t headLength = static_cast<size_t>(PutHead(writer, head, start, end) - head);
  out = PutAscii(writer.encoding, out, head, headLength);
  CountCue(writer);
  writer.first = false;
  if (whole == caption.size()) {
    Advance(writer, PutUnits(writer.encoding, out, caption));
  } else {
    // A long caption in pieces, never splitting a surrogate pair.
    Advance(writer, out);
    while (!caption.empty()) {
      size_t piece = caption.size() < kCaptionPiece ? caption.size() : kCaptionPiece;
      if (piece < caption.size() && IsLeadSurrogate(caption[piece - 1])) --piece;
      out = Room(writer, WorstBytes(writer.encoding, piece));
      Advance(writer, PutUnits(writer.encoding, out, caption.substr(0, piece)));
      caption.remove_prefix(piece);
      if (writer.used >= kOutputBlock) Flush(writer);
    }
  }
  if (writer.used >= kOutputBlock) Flush(writer);
}

void FinishSrt(SrtWriter& writer) {
  Flush(writer);
}
