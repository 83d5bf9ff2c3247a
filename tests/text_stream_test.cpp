#include "text/text_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/code_page_names.h"

namespace {

struct Read {
  char16_t unit;
  size_t position;  // after the read
};

std::vector<Read> ReadAll(TextStream& stream) {
  std::vector<Read> reads;
  while (!AtEndOfFile(stream) && reads.size() < 64) {
    const char16_t c = ReadChar(stream);
    if (AtEndOfFile(stream)) break;
    reads.push_back({c, Position(stream)});
  }
  return reads;
}

std::vector<Read> ReadBytes(const std::string& bytes, StreamMode mode,
                            const char* codePage = "CP1252") {
  TextStream stream;
  OpenTextStreamOverBytes(stream, bytes, mode, &CodePageDecoderFor(codePage));
  return ReadAll(stream);
}

void ExpectReads(const std::vector<Read>& actual, const std::vector<Read>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].unit, expected[i].unit) << "read " << i;
    EXPECT_EQ(actual[i].position, expected[i].position) << "read " << i;
  }
}

}  // namespace

TEST(TextStream, Utf16ReadsUnitsAsTheyAre) {
  // BOM, '<', CR, LF, a surrogate pair (U+1F600 GRINNING FACE), then a lone last byte.
  ExpectReads(
      ReadBytes(std::string("\xFF\xFE<\0\r\0\n\0\x3D\xD8\x00\xDE!", 13), StreamMode::Utf16Binary),
      {{0xFEFF, 2}, {u'<', 4}, {u'\r', 6}, {u'\n', 8}, {0xD83D, 10}, {0xDE00, 12}});
}

TEST(TextStream, Utf8TextFoldsCrLfAndSkipsOnlyALeadingBom) {
  ExpectReads(ReadBytes("\xEF\xBB\xBF"
                        "a\r\nb\r\xEF\xBB\xBF",
                        StreamMode::Utf8Text),
              {{u'a', 4}, {u'\n', 6}, {u'b', 7}, {u'\r', 8}, {0xFEFF, 11}});
}

TEST(TextStream, Utf8GivesOneReplacementPerMaximalInvalidSubpart) {
  // E2 82 is a truncated U+20AC; C0 and 80 are never valid; F0 9F 98 80 is U+1F600,
  // which arrives as a surrogate pair over two reads; ED A0 80 is an encoded surrogate.
  ExpectReads(ReadBytes("\xE2\x82"
                        "A\xC0\x80\xF0\x9F\x98\x80\xED\xA0\x80",
                        StreamMode::Utf8Text),
              {{0xFFFD, 2},
               {u'A', 3},
               {0xFFFD, 4},
               {0xFFFD, 5},
               {0xD83D, 9},
               {0xDE00, 9},
               {0xFFFD, 10},
               {0xFFFD, 11},
               {0xFFFD, 12}});
}

TEST(TextStream, AnsiReadsValidUtf8AsUtf8) {
  // "é" in UTF-8 throughout: read as UTF-8 whatever the code page.
  ExpectReads(ReadBytes("\xC3\xA9\r\n", StreamMode::AnsiText), {{0x00E9, 2}, {u'\n', 4}});
}

TEST(TextStream, AnsiDecodesTheCodePageOneCharacterAtATime) {
  // The stream reads in the code page it is handed, whatever the process's
  // locale: in CP1252 0x80 is the euro sign, in CP949 B0 A1 is one syllable.
  ExpectReads(ReadBytes("\x80\xE9\r\n", StreamMode::AnsiText),
              {{0x20AC, 1}, {0x00E9, 2}, {u'\n', 4}});
  ExpectReads(ReadBytes("\xB0\xA1\r\n", StreamMode::AnsiText, "CP949"), {{0xAC00, 2}, {u'\n', 4}});
}

TEST(CodePageDecoder, DecodesDoubleByteCharactersAndRecoversFromBadOnes) {
  CodePageDecoder& cp949 = CodePageDecoderFor("CP949");
  struct Case {
    std::string bytes;
    char32_t codePoint;
    std::uint32_t length;
  } cases[] = {
      {"\xB0\xA1", 0xAC00, 2},  // U+AC00 HANGUL SYLLABLE GA
      {"\x81\x41", 0xAC02, 2},  // an extended (UHC) syllable
      {"\xB0", 0xFFFD, 1},      // a lead byte at the end
      {"\xB0\x0A", 0xFFFD, 1},  // a lead byte before LF: only the lead is lost
      {"A", u'A', 1},
  };
  for (const Case& c : cases) {
    const DecodedChar d = DecodeCodePage(
        cp949, reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
    EXPECT_EQ(d.codePoint, c.codePoint);
    EXPECT_EQ(d.length, c.length);
  }
  // CP1258 composes a base letter with a following tone mark unless each is decoded alone.
  CodePageDecoder& cp1258 = CodePageDecoderFor("CP1258");
  const unsigned char withTone[] = {'a', 0xEC};
  EXPECT_EQ(DecodeCodePage(cp1258, withTone, 2).codePoint, u'a');
  EXPECT_EQ(DecodeCodePage(cp1258, withTone + 1, 1).codePoint, 0x0301u);
}

TEST(CodePageDecoder, PlainUnitsAreTheDecodersAnswers) {
  // Every one- and two-byte sequence from a byte beyond ASCII: the table the
  // bulk readers decode through gives the decoder's unit and length, or
  // leaves the sequence to the decoder exactly where it gives something else
  // (an invalid or incomplete sequence, ASCII, a character beyond U+FFFF).
  for (const char* name : {"CP949", "CP932", "CP1252", "CP1258", "GB18030"}) {
    CodePageDecoder& decoder = CodePageDecoderFor(name);
    PlainCodePageUnits& plain = PlainUnitsOf(decoder);
    size_t taken = 0;
    for (unsigned lead = 0x80; lead < 256; ++lead) {
      for (unsigned trail = 0; trail < 256; ++trail) {
        const unsigned char bytes[2] = {static_cast<unsigned char>(lead),
                                        static_cast<unsigned char>(trail)};
        for (size_t available = 1; available <= 2; ++available) {
          char16_t unit = 0;
          const size_t length = PlainCodePageLength(decoder, plain, bytes, available, unit);
          const DecodedChar d = DecodeCodePage(decoder, bytes, available);
          const bool plainAnswer =
              d.codePoint >= 0x80 && d.codePoint < 0xFFFF && d.length <= 2 &&
              !(d.codePoint == 0xFFFD && d.length == 1 &&
                (decoder.single[lead] == kInvalid || decoder.single[lead] == kIncomplete));
          ASSERT_EQ(length, plainAnswer ? d.length : 0u)
              << name << " " << std::hex << lead << " " << trail << " of " << available;
          if (length != 0) {
            EXPECT_EQ(unit, d.codePoint) << name << " " << std::hex << lead;
          }
          taken += length != 0;
        }
      }
    }
    EXPECT_GT(taken, 0u) << name;
  }
}

TEST(TextStream, MovesClearTheEndIndicator) {
  TextStream stream;
  OpenTextStreamOverBytes(stream, "ab", StreamMode::AnsiText);
  ReadChar(stream);
  ReadChar(stream);
  EXPECT_EQ(ReadChar(stream), kEndOfInput);
  EXPECT_TRUE(AtEndOfFile(stream));
  EXPECT_TRUE(MoveBy(stream, 1));  // forward past the end
  EXPECT_FALSE(AtEndOfFile(stream));
  EXPECT_EQ(ReadChar(stream), kEndOfInput);
  EXPECT_TRUE(AtEndOfFile(stream));
  EXPECT_FALSE(MoveBy(stream, -4));  // before the start of the file
  EXPECT_TRUE(MoveBy(stream, -3));
  EXPECT_EQ(ReadChar(stream), u'a');
}

TEST(TextStream, NoncharacterFFFFEndsAReadWithoutEndingTheFile) {
  TextStream stream;
  OpenTextStreamOverBytes(stream,
                          "a\xEF\xBF\xBF"
                          "b",
                          StreamMode::Utf8Text);
  EXPECT_EQ(ReadChar(stream), u'a');
  EXPECT_EQ(ReadChar(stream), kEndOfInput);
  EXPECT_FALSE(AtEndOfFile(stream));
  EXPECT_EQ(ReadChar(stream), u'b');
}

TEST(TextStream, SeeksMayLandInsideACharacter) {
  TextStream stream;
  OpenTextStreamOverBytes(stream, "\xEA\xB0\x80<", StreamMode::Utf8Text);  // U+AC00, then '<'
  MoveTo(stream, 1);
  EXPECT_EQ(ReadChar(stream), 0xFFFD);
  EXPECT_EQ(ReadChar(stream), 0xFFFD);
  EXPECT_EQ(ReadChar(stream), u'<');
}

TEST(CodePage, FollowsTheLocalesLanguageAndTerritory) {
  struct Case {
    const char* locale;
    const char* codePage;
  } cases[] = {
      {"ko_KR.UTF-8", "CP949"}, {"ja_JP.UTF-8", "CP932"},  {"zh_CN.UTF-8", "CP936"},
      {"zh_SG", "CP936"},       {"zh_TW.UTF-8", "CP950"},  {"zh_HK", "CP950"},
      {"th_TH", "CP874"},       {"vi_VN", "CP1258"},       {"ru_RU.UTF-8", "CP1251"},
      {"sr_RS", "CP1251"},      {"sr_RS@latin", "CP1250"}, {"pl_PL", "CP1250"},
      {"el_GR", "CP1253"},      {"tr_TR.UTF-8", "CP1254"}, {"he_IL", "CP1255"},
      {"fa_IR", "CP1256"},      {"lt_LT", "CP1257"},       {"en_US.UTF-8", "CP1252"},
      {"de_DE", "CP1252"},      {"C", "CP1252"},           {"POSIX", "CP1252"},
      {"C.UTF-8", "CP1252"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AnsiCodePageForLocaleName(c.locale), c.codePage) << c.locale;
}

TEST(TextStream, BulkRunsStopWhereReadCharWouldTakeOver) {
  struct Case {
    const char* name;
    std::string bytes;
    StreamMode mode;
    bool tag;  // ReadTagRun, else ReadTextRun
    std::u16string taken;
    size_t position;
  };
  const std::string utf16Bytes("a\0\r\0\n\0b\0<\0", 10);
  const std::vector<Case> cases = {
      {"text drops CR LF and a lone CR", "ab\r\ncd\re<x", StreamMode::Utf8Text, false, u"abcde", 8},
      {"text takes two- and three-byte UTF-8", "\xC3\xA9 \xEA\xB0\x80<", StreamMode::Utf8Text,
       false, u"\u00E9 \uAC00", 6},
      {"text stops before U+FFFF", "a\xEF\xBF\xBF", StreamMode::Utf8Text, false, u"a", 1},
      {"text stops before a four-byte character", "a\xF0\x9F\x98\x80", StreamMode::Utf8Text, false,
       u"a", 1},
      {"text stops before invalid UTF-8", "a\xC0\x80", StreamMode::Utf8Text, false, u"a", 1},
      {"text stops before a surrogate", "a\xED\xA0\x80", StreamMode::Utf8Text, false, u"a", 1},
      {"text stops before a cut-off character", "a\xEA\xB0", StreamMode::Utf8Text, false, u"a", 1},
      {"text after a byte-order mark", "\xEF\xBB\xBFhi<", StreamMode::Utf8Text, false, u"hi", 5},
      {"text runs to the end", "abc", StreamMode::AnsiText, false, u"abc", 3},
      {"a code page leaves non-ASCII to ReadChar", "ab\xFF\xFF<", StreamMode::AnsiText, false,
       u"ab", 2},
      {"tag stops before CR, keeps LF", "p c\nx\r\n>", StreamMode::Utf8Text, true, u"p c\nx", 5},
      {"tag stops before '>'", "br>rest", StreamMode::Utf8Text, true, u"br", 2},
      {"tag stops before '<'", "b<r>", StreamMode::Utf8Text, true, u"b", 1},
      {"UTF-16 text drops CR and LF", utf16Bytes, StreamMode::Utf16Binary, false, u"ab", 8},
      {"UTF-16 tag keeps CR and LF", utf16Bytes, StreamMode::Utf16Binary, true, u"a\r\nb", 8},
      {"UTF-16 stops before U+FFFF", std::string("a\0\xFF\xFF", 4), StreamMode::Utf16Binary, false,
       u"a", 2},
      {"UTF-16 stops before '>' in a tag", std::string("x\0>\0", 4), StreamMode::Utf16Binary, true,
       u"x", 2},
      {"UTF-16 takes surrogates as units", std::string("\x3D\xD8\x00\xDE<\0", 6),
       StreamMode::Utf16Binary, true, u"\xD83D\xDE00", 4},
      {"UTF-16 leaves a lone last byte", std::string("a\0b", 3), StreamMode::Utf16Binary, false,
       u"a", 2},
  };
  for (const Case& c : cases) {
    TextStream stream;
    OpenTextStreamOverBytes(stream, c.bytes, c.mode);
    std::u16string taken = u"=";
    if (c.tag) {
      ReadTagRun(stream, taken);
    } else {
      ReadTextRun(stream, &taken);
    }
    EXPECT_EQ(taken, u"=" + c.taken) << c.name;
    EXPECT_EQ(Position(stream), c.position) << c.name;
    EXPECT_FALSE(AtEndOfFile(stream)) << c.name;

    // Without a text the run moves just as far.
    TextStream skipping;
    OpenTextStreamOverBytes(skipping, c.bytes, c.mode);
    if (!c.tag) {
      ReadTextRun(skipping, nullptr);
      EXPECT_EQ(Position(skipping), c.position) << c.name;
    }
  }
}

TEST(TextStream, BulkRunsWaitForAPendingLowSurrogate) {
  TextStream stream;
  OpenTextStreamOverBytes(stream,
                          "\xF0\x9F\x98\x80"
                          "ab",
                          StreamMode::Utf8Text);
  EXPECT_EQ(ReadChar(stream), 0xD83D);
  std::u16string taken;
  ReadTextRun(stream, &taken);
  ReadTagRun(stream, taken);
  EXPECT_EQ(taken, u"");
  EXPECT_EQ(Position(stream), 4u);
  EXPECT_EQ(ReadChar(stream), 0xDE00);
  ReadTextRun(stream, &taken);
  EXPECT_EQ(taken, u"ab");
  EXPECT_EQ(Position(stream), 6u);
  // At the end a run takes nothing, and only ReadChar sets the indicator.
  ReadTextRun(stream, &taken);
  EXPECT_FALSE(AtEndOfFile(stream));
  EXPECT_EQ(ReadChar(stream), kEndOfInput);
  EXPECT_TRUE(AtEndOfFile(stream));
}
