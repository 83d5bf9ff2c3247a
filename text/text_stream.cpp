#include "text/text_stream.h"

#include <algorithm>

#include "text/utf16.h"

namespace {

void PrepareInput(TextStream& stream, CodePageDecoder* codePage) {
  stream.position = 0;
  stream.atEnd = false;
  stream.pendingLow = 0;
  stream.codePage = nullptr;
  InputWindow& input = stream.input;
  HoldInput(input, 0, 3);
  const unsigned char* data = HeldBytes(input);
  if (stream.mode == StreamMode::Utf8Text && input.base == 0 && input.size >= 3 &&
      data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    stream.position = 3;
  }
  stream.ansiCodePage = codePage != nullptr ? codePage : &CodePageDecoderFor("CP1252");
  // The choice waits for the first read, so that the converter can make it
  // while it decodes instead of in a pass of its own.
  stream.readingChosen = stream.mode != StreamMode::AnsiText;
}

}  // namespace

void ChooseAnsiReading(TextStream& stream) {
  if (stream.readingChosen) return;
  stream.readingChosen = true;
  // Today's commonest subtitle file is UTF-8 without a byte-order mark; a file in a
  // legacy code page with any non-ASCII text is practically never valid UTF-8.
  if (CheckInputUtf8(stream.input, 0, kUnknownEnd) == kInvalidUtf8) {
    stream.codePage = stream.ansiCodePage;
    if (stream.codePage->utf8) stream.codePage = nullptr;  // invalid UTF-8 stays UTF-8
  }
}

bool ReadAnsiAsUtf8(TextStream& stream) {
  if (stream.readingChosen) return false;
  stream.readingChosen = true;
  stream.codePage = nullptr;
  return !stream.ansiCodePage->utf8;
}

void ReadAnsiInCodePage(TextStream& stream) {
  stream.codePage = stream.ansiCodePage;
}

void OpenTextStreamOverBytes(TextStream& stream, std::string bytes, StreamMode mode,
                             CodePageDecoder* codePage) {
  stream.mode = mode;
  OpenWindowOverBytes(stream.input, std::move(bytes));
  PrepareInput(stream, codePage);
}

void OpenTextStreamOverSource(TextStream& stream, ByteSource source, StreamMode mode,
                              CodePageDecoder* codePage, size_t windowBytes) {
  stream.mode = mode;
  OpenWindowOverSource(stream.input, source, windowBytes);
  PrepareInput(stream, codePage);
}

size_t CheckInputUtf8(InputWindow& input, size_t from, size_t to) {
  size_t checked = from;
  while (checked < to) {
    // A window's last few bytes may cut a character: the check stops short of
    // them, and the next window begins with them.
    HoldInput(input, checked, checked + std::max(input.smallest, 2 * kMaxCharBytes));
    const bool last = HoldsInputEnd(input);
    const size_t heldEnd = input.base + input.size;
    if (last && checked >= heldEnd) break;
    const size_t stop = std::min(to, last ? heldEnd : heldEnd - kMaxCharBytes);
    const size_t reached =
        CheckUtf8(HeldBytes(input), input.size, checked - input.base, stop - input.base);
    if (reached == kInvalidUtf8) return kInvalidUtf8;
    checked = input.base + reached;
    if (last) break;
  }
  return checked;
}

std::int32_t ReadWideAt(const unsigned char* data, size_t size, CodePageDecoder* codePage,
                        ReadPosition& pos, bool& utf8Error) {
  const unsigned char* p = data + pos.at;
  DecodedChar c;
  if (codePage != nullptr) {
    c = DecodeCodePage(*codePage, p, size - pos.at);
  } else {
    c = DecodeUtf8(p, size - pos.at);
    if (IsUtf8Error(p, c)) utf8Error = true;
  }
  pos.at += c.length;
  if (c.codePoint < 0x10000) return static_cast<std::int32_t>(c.codePoint);
  pos.pendingLow = TrailSurrogateOf(c.codePoint);
  return LeadSurrogateOf(c.codePoint);
}

char16_t ReadChar(TextStream& stream) {
  if (!stream.readingChosen) ChooseAnsiReading(stream);
  InputWindow& input = stream.input;
  HoldInput(input, stream.position, stream.position + kMaxCharBytes);
  ReadPosition pos{stream.position - input.base, stream.pendingLow};
  bool utf8Error = false;
  const std::int32_t c =
      ReadUnitAt(HeldBytes(input), input.size, stream.mode == StreamMode::Utf16Binary,
                 stream.codePage, pos, utf8Error);
  stream.position = input.base + pos.at;
  stream.pendingLow = pos.pendingLow;
  if (c == kNoMoreInput) {
    stream.atEnd = true;
    return kEndOfInput;
  }
  return static_cast<char16_t>(c);
}

namespace {

// Collects units on the stack and appends them to the text a chunk at a time.
class RunWriter {
 public:
  explicit RunWriter(WideString* text) : text_(text) {}
  ~RunWriter() { Flush(); }
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;
  void Put(char16_t unit) {
    if (used_ == kChunk) Flush();
    chunk_[used_++] = unit;
  }

 private:
  static constexpr size_t kChunk = 256;
  void Flush() {
    if (used_ != 0) text_->append(chunk_, used_);
    used_ = 0;
  }
  WideString* text_;
  char16_t chunk_[kChunk];
  size_t used_ = 0;
};

// One pass over a run that ends before the first character that `stops` names
// or that is not plain (see the header); `keep` decides what is appended. A
// null `text` only moves.
template <typename Stops, typename Keep>
void ReadRun(TextStream& stream, WideString* text, Stops stops, Keep keep) {
  if (!stream.readingChosen) ChooseAnsiReading(stream);
  if (stream.pendingLow != 0) return;
  // A run stops at the end of the window too; the caller's ReadChar reads on.
  InputWindow& input = stream.input;
  HoldInput(input, stream.position, stream.position + kMaxCharBytes);
  const size_t size = input.size;
  size_t at = stream.position - input.base;
  if (at >= size) return;
  const unsigned char* data = HeldBytes(input);
  WideString discard;
  RunWriter out(text != nullptr ? text : &discard);
  const bool keeping = text != nullptr;
  if (stream.mode == StreamMode::Utf16Binary) {
    while (size - at >= 2) {
      const auto unit = static_cast<char16_t>(data[at] | data[at + 1] << 8);
      if (unit == kEndOfInput || stops(unit)) break;
      if (keeping && keep(unit)) out.Put(unit);
      at += 2;
    }
    stream.position = input.base + at;
    return;
  }
  const bool utf8 = stream.codePage == nullptr;
  while (at < size) {
    const unsigned char first = data[at];
    if (first < 0x80) {
      if (stops(first)) break;
      if (keeping && keep(first)) out.Put(first);
      ++at;
      continue;
    }
    char16_t unit = 0;
    const size_t length = utf8 ? PlainUtf8Length(data + at, size - at, unit) : 0;
    if (length == 0 || stops(unit)) break;
    if (keeping && keep(unit)) out.Put(unit);
    at += length;
  }
  stream.position = input.base + at;
}

}  // namespace

void ReadTextRun(TextStream& stream, WideString* text) {
  // CR LF reads as LF and a lone CR as CR: either way no line break is kept.
  ReadRun(
      stream, text, [](char16_t c) { return c == u'<'; },
      [](char16_t c) { return c != u'\r' && c != u'\n'; });
}

void ReadTagRun(TextStream& stream, WideString& text) {
  if (stream.mode == StreamMode::Utf16Binary) {
    ReadRun(
        stream, &text, [](char16_t c) { return c == u'<' || c == u'>'; },
        [](char16_t) { return true; });
  } else {
    ReadRun(
        stream, &text, [](char16_t c) { return c == u'<' || c == u'>' || c == u'\r'; },
        [](char16_t) { return true; });
  }
}

bool MoveBy(TextStream& stream, std::int64_t offset) {
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
