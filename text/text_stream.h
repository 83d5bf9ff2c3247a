// TextStream: SAMI input read one 16-bit character at a time. (The output is
// the SRT writer's, convert/srt_output.h.)
//
// A stream decodes at a byte offset of its input (text/input_window.h: bytes
// in memory, or a file read through a window), so a move is an index change
// and may land anywhere, even inside a multi-byte character. After each read the position stands
// just after the last byte of the character returned; an LF read from CR LF stands for both bytes.
//
// The modes, named by the mode strings the conversion was first written with:
//   Utf16Binary  "rb, ccs=UNICODE"  UTF-16LE, two bytes a unit, CR and LF as
//                they are, a byte-order mark arrives as U+FEFF, a lone last
//                byte is the end
//   AnsiText     "r"                text in the ANSI code page handed to the
//                stream; when the whole file is valid UTF-8 it is read as
//                UTF-8 (pure ASCII reads the same either way)
//   Utf8Text     "r, ccs=UTF-8"     UTF-8 text; a byte-order mark at the start
//                of the file is skipped
//
// A character beyond U+FFFF reads as a surrogate pair over two reads. A U+FFFF
// in the file is returned like the end of input (kEndOfInput) without setting
// the end-of-file indicator, so the next read goes on after it.
#ifndef LUMENTRACE_TEXT_TEXT_STREAM_H_
#define LUMENTRACE_TEXT_TEXT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/char_decoding.h"
#include "text/input_window.h"
#include "text/wide_string.h"

enum class StreamMode { Utf16Binary, AnsiText, Utf8Text };

struct TextStream {
  StreamMode mode = StreamMode::AnsiText;
  InputWindow input;
  size_t position = 0;  // may pass the end after a forward move
  bool atEnd = false;
  char16_t pendingLow = 0;              // second half of a surrogate pair, not yet read
  CodePageDecoder* codePage = nullptr;  // AnsiText read in a code page; null reads UTF-8
  // AnsiText: the code page input that is not valid UTF-8 is read in, and
  // whether the choice between it and UTF-8 has been made (the first
  // character-by-character read makes it; the converter makes it as it goes).
  CodePageDecoder* ansiCodePage = nullptr;
  bool readingChosen = true;
};

// Opens a stream over the bytes of a file, in one of the three modes;
// `codePage` decodes AnsiText input that is not valid UTF-8 (CP1252 when null).
void OpenTextStreamOverBytes(TextStream& stream, std::string bytes, StreamMode mode,
                             CodePageDecoder* codePage = nullptr);
// The same over an input read from `source` through a window of `windowBytes`.
void OpenTextStreamOverSource(TextStream& stream, ByteSource source, StreamMode mode,
                              CodePageDecoder* codePage = nullptr,
                              size_t windowBytes = kWindowBytes);

// Chooses how AnsiText input is read, once: UTF-8 when all of it is valid
// UTF-8, its code page otherwise.
void ChooseAnsiReading(TextStream& stream);
// The choice made while decoding instead: AnsiText is read as UTF-8 from now
// on, and the caller checks it as it goes. True when there is anything to check
// (AnsiText not chosen yet, in a code page other than UTF-8 itself).
bool ReadAnsiAsUtf8(TextStream& stream);
// After that check failed: AnsiText is read in its code page from now on.
void ReadAnsiInCodePage(TextStream& stream);

// Where a read over bytes stands: the byte offset and the second half of a
// surrogate pair still to be returned.
struct ReadPosition {
  size_t at = 0;
  char16_t pendingLow = 0;
};
constexpr std::int32_t kNoMoreInput = -1;  // the input has ended (U+FFFF comes back as itself)

// The characters beyond ASCII, in the text modes; sets `utf8Error` on an
// invalid UTF-8 sequence.
std::int32_t ReadWideAt(const unsigned char* data, size_t size, CodePageDecoder* codePage,
                        ReadPosition& pos, bool& utf8Error);

// The one character reader over bytes, which the stream and the one-pass
// scanner share: the next unit at `pos` of the `size` bytes at `data`, read as
// UTF-16LE units or, in the text modes, as ASCII (CR LF as LF) and what
// `codePage` (null: UTF-8) decodes; kNoMoreInput at the end (a lone last byte
// of UTF-16 is the end too).
inline std::int32_t ReadUnitAt(const unsigned char* data, size_t size, bool utf16,
                               CodePageDecoder* codePage, ReadPosition& pos, bool& utf8Error) {
  if (pos.pendingLow != 0) {
    const char16_t low = pos.pendingLow;
    pos.pendingLow = 0;
    return low;
  }
  const size_t at = pos.at;
  if (utf16) {
    if (at >= size || size - at < 2) return kNoMoreInput;
    pos.at = at + 2;
    return data[at] | data[at + 1] << 8;
  }
  if (at >= size) return kNoMoreInput;
  const unsigned char first = data[at];
  if (first >= 0x80) return ReadWideAt(data, size, codePage, pos, utf8Error);
  const bool crLf = first == '\r' && at + 1 < size && data[at + 1] == '\n';
  pos.at = at + (crLf ? 2 : 1);
  return crLf ? u'\n' : first;
}

// Checks the input as UTF-8 from byte `from` (a character boundary) through
// at least `to` (kUnknownEnd: to its end), reading it through the window.
// Returns where the check stopped (the end of the character `to` lies in, or
// the input's end), or kInvalidUtf8 at the first invalid sequence.
size_t CheckInputUtf8(InputWindow& input, size_t from, size_t to);

// Reads the next character; kEndOfInput at the end (which sets the indicator).
char16_t ReadChar(TextStream& stream);
// The same, with the commonest characters (ASCII other than CR in the text
// modes, any unit in UTF-16) read inline: this runs once per input character.
inline char16_t ReadCharInline(TextStream& stream) {
  const InputWindow& input = stream.input;
  const size_t at = stream.position - input.base;  // wraps below the window: not held
  if (stream.pendingLow == 0 && at < input.size) {
    const unsigned char* held = HeldBytes(input);
    const unsigned char first = held[at];
    if (stream.mode == StreamMode::Utf16Binary) {
      if (input.size - at >= 2) {
        stream.position += 2;
        return static_cast<char16_t>(first | held[at + 1] << 8);
      }
    } else if (first < 0x80 && first != '\r') {
      stream.position += 1;
      return first;
    }
  }
  return ReadChar(stream);
}

// Bulk reads for the SAMI reader, each the same as a run of ReadChar calls:
// they take only plain characters (ASCII; when reading UTF-8, also its two- and
// three-byte characters but U+FFFF; in UTF-16, any unit but U+FFFF), stop before the first
// character they do not take (or where the window ends, even inside a character),
// leave the position just after what they took, never set the end-of-file
// indicator, and take nothing while the second half of a surrogate pair is
// pending. The caller goes on with ReadChar from there, which reads on.
//
// Reads up to the next '<', appending what it reads to `text` (when not null)
// except CR and LF, which are dropped wherever they stand.
void ReadTextRun(TextStream& stream, WideString* text);
// Reads up to the next '<' or '>', appending what it reads to `text` as it is;
// in the text modes it also stops before a CR, which may pair with an LF.
void ReadTagRun(TextStream& stream, WideString& text);

// Moves by a signed byte offset from the current position. Fails (false) only
// before the start of the file; a successful move clears the end-of-file indicator.
bool MoveBy(TextStream& stream, std::int64_t offset);
// Moves to an absolute byte position, as returned by Position.
void MoveTo(TextStream& stream, size_t position);
inline size_t Position(const TextStream& stream) {
  return stream.position;
}
bool AtEndOfFile(const TextStream& stream);

#endif  // LUMENTRACE_TEXT_TEXT_STREAM_H_
