// Reading an input through a window: the conversion and the stream must read
// exactly what they read from the whole input in memory, whatever the window
// cuts; an input that gets shorter or fails while it is read has a defined end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "convert/conversion.h"
#include "platform/file_system.h"
#include "tests/support/string_source.h"
#include "tests/support/utf16_bytes.h"
#include "text/code_page_names.h"
#include "text/text_stream.h"

namespace {

CodePageDecoder& Cp949() {
  return CodePageDecoderFor("CP949");
}

std::string ConvertWhole(const std::string& smi) {
  std::string srt;
  const std::uint8_t first = smi.empty() ? 0 : static_cast<std::uint8_t>(smi[0]);
  ConvertSami(smi, EncodingOfFirstByte(first), Cp949(), StringSink(srt));
  return srt;
}

std::string ConvertWindowed(StringSource& file, size_t window, std::int32_t* cues = nullptr) {
  std::string srt;
  const std::uint8_t first = file.bytes.empty() ? 0 : static_cast<std::uint8_t>(file.bytes[0]);
  const std::int32_t written =
      ConvertSamiFrom(file.Source(), EncodingOfFirstByte(first), Cp949(), StringSink(srt), window);
  if (cues != nullptr) *cues = written;
  return srt;
}

std::string Blocks(int count, const std::string& caption, int step = 10) {
  std::string smi;
  for (int i = 1; i <= count; ++i)
    smi += "<SYNC Start=" + std::to_string(i * step) + "><P>" + caption + "\r\n";
  return smi;
}

std::string Numbered(int count, const std::string& text) {
  std::string smi;
  for (int i = 1; i <= count; ++i)
    smi += "<SYNC Start=" + std::to_string(i * 10) + "><P>" + text + std::to_string(i) + "\r\n";
  return smi;
}

// U+D55C U+AE00 (HANGUL SYLLABLE HAN, GEUL) in UTF-8 and in CP949.
const std::string kHangulUtf8 = "\xED\x95\x9C\xEA\xB8\x80";
const std::string kHangulCp949 = "\xC7\xD1\xB1\xDB";

}  // namespace

TEST(InputWindow, LongBlocksLongRunsAndLateChoicesReadAsTheWholeInput) {
  const std::string longCaption = [] {
    std::string text;
    for (int i = 0; i < 200; ++i) text += kHangulUtf8 + " \xF0\x9F\x98\x80<br>";  // U+1F600
    return text;
  }();
  const std::vector<std::string> inputs = {
      // One block far longer than the window, in UTF-8 with and without a mark.
      "\xEF\xBB\xBF<SYNC Start=1>" + longCaption + "<SYNC Start=2>&nbsp;",
      "<SYNC Start=1>" + longCaption + "<SYNC Start=2>&nbsp;</BODY></SAMI>",
      // A merged run much longer than the window, ended by a block, then by the end.
      "\xEF\xBB\xBF" + Blocks(300, "same " + kHangulUtf8) + "<SYNC Start=9999>other",
      Blocks(300, "same") + "<SYNC Start=9999>&nbsp;" + Blocks(50, "tail"),
      // ANSI: valid UTF-8 for thousands of bytes, then one CP949 syllable, so
      // that everything starts over in the code page; or the invalid byte only
      // in the trailer after the last block, met by the closing check alone.
      Numbered(200, kHangulUtf8) + "<SYNC Start=5000>" + kHangulCp949 + "<SYNC Start=6000>",
      Numbered(200, kHangulUtf8) + "</BODY></SAMI>\r\n" + kHangulCp949,
      Numbered(200, kHangulCp949),
      // A header longer than the window; a last block with no tag after its opening one.
      std::string(3000, 'h') + "<p a='>'>" + Numbered(20, "x") + "<SYNC Start=99999>alone",
      // A sync tag longer than the window; a '<' that swallows the next sync tag.
      "<SYNC Start=1 " + std::string(500, ' ') + ">a<SYNC Start=2>b <c<SYNC Start=3>d",
      // "&n" whose ';' lies past a tag: those blocks are read the fallback way.
      Blocks(40, "&nbsp <font color=a;b>x") + Blocks(40, "&nb x &nc; y"),
      // UTF-16 with surrogate pairs, CR LF units, U+FFFF and a lone last byte.
      "\xFF\xFE" +
          Utf16Bytes(u"<SYNC Start=1>\xD83D\xDE00\r\n<BR>a\xFFFF<SYNC Start=2>b<SYNC Start=3>b"
                     u"<SYNC Start=4>\xD55C") +
          "x",
  };
  for (const std::string& smi : inputs) {
    const std::string expected = ConvertWhole(smi);
    std::vector<size_t> windows;
    for (size_t w = kMaxCharBytes; w <= 40; ++w) windows.push_back(w);
    windows.insert(windows.end(), {64, 255, 1000, 4096, kWindowBytes});
    for (const size_t window : windows) {
      // The input's start handed over as read already: none of it, one byte,
      // a part of it in a buffer larger or smaller than the window, or all of it.
      const std::pair<size_t, size_t> starts[] = {{0, 0},
                                                  {1, window},
                                                  {smi.size() / 2, 2 * window},
                                                  {window / 2, kMaxCharBytes},
                                                  {smi.size(), smi.size() + 1}};
      for (const auto& start : starts) {
        StringSource file;
        file.bytes = smi;
        file.startBytes = start.first;
        file.startCapacity = start.second;
        std::int32_t cues = 0;
        ASSERT_EQ(ConvertWindowed(file, window, &cues), expected)
            << "window " << window << ", start " << start.first << " in " << start.second
            << ", input " << smi.substr(0, 60);
        EXPECT_GE(cues, 0);
      }
    }
  }
}

TEST(InputWindow, InputShortenedWhileReadEndsWhereAReadFoundItsEnd) {
  // Whatever the window already holds stays read; the input ends at the first
  // offset where a read found nothing. (No repeated captions: a merged run's
  // first block may be read again, and a second read may find less.)
  const std::vector<std::string> inputs = {
      "\xEF\xBB\xBF" + Numbered(40, "line " + kHangulUtf8),
      Numbered(40, kHangulCp949 + " "),
      "\xFF\xFE" + Utf16Bytes(u"<SYNC Start=1>\xD55C<SYNC Start=2>\xD83D\xDE00<SYNC Start=3>x"
                              u"<SYNC Start=4>y<SYNC Start=5>&nbsp;"),
  };
  size_t endedEarly = 0;
  for (const std::string& smi : inputs) {
    for (const size_t window : {size_t{16}, size_t{61}}) {
      for (size_t after = 0; after < 14; ++after) {
        for (const size_t size :
             {size_t{0}, size_t{1}, size_t{37}, size_t{100}, smi.size() / 2, smi.size() - 1}) {
          StringSource file;
          file.bytes = smi;
          file.shortenAfter = after;
          file.shortenedSize = size;
          std::int32_t cues = -1;
          const std::string srt = ConvertWindowed(file, window, &cues);
          EXPECT_GE(cues, 0);
          ASSERT_LE(file.lowestEmptyRead, smi.size());
          endedEarly += file.lowestEmptyRead < smi.size();
          EXPECT_EQ(srt, ConvertWhole(smi.substr(0, file.lowestEmptyRead)))
              << "window " << window << ", cut to " << size << " after " << after << " reads";
        }
      }
    }
  }
  EXPECT_GT(endedEarly, 200u);
}

TEST(InputWindow, FailedReadFailsTheConversion) {
  const std::string smi = Numbered(30, kHangulCp949);
  for (size_t after = 0; after < 6; ++after) {
    StringSource file;
    file.bytes = smi;
    file.failAfter = after;
    std::int32_t cues = 0;
    ConvertWindowed(file, 64, &cues);
    EXPECT_EQ(cues, -1) << "failing after " << after << " reads";
  }
  StringSource file;
  file.bytes = smi;
  std::int32_t cues = 0;
  ConvertWindowed(file, 64, &cues);
  EXPECT_EQ(cues, 30);
}

TEST(InputWindow, StreamReadsAndMovesAsOverTheWholeBytes) {
  struct Case {
    std::string bytes;
    StreamMode mode;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF"
       "a\r\nb\xE2\x82\xAC\r\xF0\x9F\x98\x80\xC0\xE2\x82<\xEF\xBF\xBF"
       "c\r\n",
       StreamMode::Utf8Text},
      // ANSI that is valid UTF-8 until its last bytes: read in the code page.
      {"<a>\r\n" + std::string(40, 'x') + kHangulCp949 + "\r\n<b>", StreamMode::AnsiText},
      {"<a>" + kHangulUtf8 + "\r\n<b>", StreamMode::AnsiText},
      {std::string("\xFF\xFE<\0\r\0\n\0\x3D\xD8\x00\xDE\xFF\xFFz", 15), StreamMode::Utf16Binary},
  };
  for (const Case& c : cases) {
    TextStream whole;
    OpenTextStreamOverBytes(whole, c.bytes, c.mode, &Cp949());
    std::vector<std::pair<char16_t, size_t>> expected;
    while (!AtEndOfFile(whole)) expected.push_back({ReadChar(whole), Position(whole)});
    for (size_t window = kMaxCharBytes; window < 12; ++window) {
      StringSource file;
      file.bytes = c.bytes;
      TextStream stream;
      OpenTextStreamOverSource(stream, file.Source(), c.mode, &Cp949(), window);
      // Every read, then again from each position the whole stream stood at.
      for (size_t k = 0; k < expected.size(); ++k) {
        ASSERT_EQ(ReadChar(stream), expected[k].first) << "window " << window << " read " << k;
        ASSERT_EQ(Position(stream), expected[k].second);
      }
      EXPECT_TRUE(AtEndOfFile(stream));
      for (size_t k = 0; k + 1 < expected.size(); ++k) {
        // A move drops the second half of a pair read from UTF-8.
        const bool pairLead = expected[k].first >= 0xD800 && expected[k].first < 0xDC00;
        if (pairLead && c.mode != StreamMode::Utf16Binary) continue;
        MoveTo(stream, expected[k].second);
        EXPECT_EQ(ReadCharInline(stream), expected[k + 1].first) << "window " << window;
      }
    }
  }
}

TEST(InputFile, ReadsTheFileAsItWasWhenOpened) {
  const char* name = "input_file_test.smi";
  {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << "0123456789";
  }
  InputFile file;
  ASSERT_TRUE(OpenInputFile(file, WideString(u"input_file_test.smi")));
  const ByteSource source = InputFileSource(file);
  unsigned char buffer[32] = {};
  EXPECT_EQ(source.read(source.context, 3, buffer, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "3456");
  EXPECT_EQ(source.read(source.context, 10, buffer, 4), 0);
  // Bytes added meanwhile are not part of the input (on Windows, where a file
  // being read cannot be written, the writer is simply refused).
  {
    std::ofstream more(name, std::ios::binary | std::ios::app);
    more << "abc";
  }
  EXPECT_EQ(source.read(source.context, 8, buffer, 32), 2);
  EXPECT_EQ(source.read(source.context, 10, buffer, 32), 0);
  file.native.reset();
  std::remove(name);
  EXPECT_FALSE(OpenInputFile(file, WideString(u"input_file_test.smi")));
  EXPECT_FALSE(OpenInputFile(file, WideString(u".")));
}

// The probe and the open in one: the byte given is the first byte of the file
// left open, and a file that cannot be probed leaves nothing open.
TEST(InputFile, OpenWithFirstByteGivesTheOpenFilesFirstByte) {
  const char* name = "input_first_byte_test.smi";
  const struct {
    const char* what;
    std::string bytes;
    int first;
  } cases[] = {
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF<SAMI>", 0xEF},
      {"UTF-16LE byte-order mark", std::string("\xFF\xFE<\0", 4), 0xFF},
      {"plain text", "<SAMI>", '<'},
      {"a NUL first", std::string("\0x", 2), 0},
      {"empty", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      std::ofstream out(name, std::ios::binary | std::ios::trunc);
      out << c.bytes;
    }
    InputFile file;
    ASSERT_EQ(OpenInputWithFirstByte(file, WideString(u"input_first_byte_test.smi")), c.first);
    ASSERT_TRUE(file.native);
    // The probe's read moved nothing: the input still starts at its first byte.
    const ByteSource source = InputFileSource(file);
    unsigned char buffer[32] = {};
    const std::int64_t n = source.read(source.context, 0, buffer, sizeof buffer);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(n)), c.bytes);
    // Bytes read with the first one are handed over once, and are the file's.
    if (source.takeStart != nullptr) {
      size_t size = 0;
      size_t capacity = 0;
      unsigned char* start = source.takeStart(source.context, &size, &capacity);
      if (start != nullptr) {
        EXPECT_LE(size, capacity);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(start), size), c.bytes);
        std::free(start);
      }
      EXPECT_EQ(source.takeStart(source.context, &size, &capacity), nullptr);
    }
  }
  std::remove(name);
  InputFile file;
  EXPECT_EQ(OpenInputWithFirstByte(file, WideString(u"input_first_byte_test.smi")), -1);
  EXPECT_FALSE(file.native);
  EXPECT_EQ(OpenInputWithFirstByte(file, WideString(u".")), -1);
  EXPECT_FALSE(file.native);
}
