#include "convert/sync_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TextStream AsciiStream(const std::string& bytes) {
  TextStream stream;
  OpenTextStreamOverBytes(stream, bytes, StreamMode::AnsiText);
  return stream;
}

}  // namespace

TEST(ReadSyncBlock, CollectsFromOneSyncTagThroughTheNext) {
  TextStream in = AsciiStream(
      "<HEAD>junk</HEAD>\r\n<SYNC Start=1000><P Class=KR>Hello<BR>\r\nWorld\r\n<SYNC "
      "Start=60000>x");
  const SyncBlock block = ReadSyncBlock(in);
  EXPECT_EQ(block.text, u"<sync start=1000><p class=kr>Hello<br>World<sync start=60000>");
  EXPECT_EQ(block.openingTagAt, 19u);
  EXPECT_EQ(block.lastTagAt, 66u);
  EXPECT_EQ(Position(in), 66u + 18u);  // just after the closing tag's '>'
}

TEST(ReadSyncBlock, KeepsLineBreaksInsideTagsAndNotesTheLastLessThan) {
  // A sync tag broken across lines is still one tag; a '<' inside a tag is the
  // block's last '<' when it comes after the tag's own.
  TextStream in = AsciiStream("<SYNC Start=1>A<SYNC Start=2\r\n>B");
  SyncBlock block = ReadSyncBlock(in);
  EXPECT_EQ(block.text, u"<sync start=1>A<sync start=2\n>");
  EXPECT_EQ(block.lastTagAt, 15u);
  TextStream stray = AsciiStream("<sync start=1>t<sync start=2 x=\"<\">");
  block = ReadSyncBlock(stray);
  EXPECT_EQ(block.lastTagAt, block.text.size() - 3);
  CueTimes times;
  WideString caption;
  EXPECT_EQ(ParseSyncBlock(block.text, times, caption), 3);
}

TEST(ReadSyncBlock, EndsAtTheEndOfInput) {
  struct Case {
    std::string in;
    WideString block;
  } cases[] = {
      {"no sync tag at all", u""},
      {"<sync start=5>text  ", u"<sync start=5>text"},
      {"<sync start=5>text<p", u"<sync start=5>text"},  // a tag cut off by the end is dropped
      {"<sync start=5>a</body></sami>", u"<sync start=5>a</body></sami>"},
      {"<SYNC  Start=5>a", u""},  // two spaces: an ordinary tag
  };
  for (const Case& c : cases) {
    TextStream in = AsciiStream(c.in);
    EXPECT_EQ(ReadSyncBlock(in).text, c.block) << c.in;
  }
}

TEST(ScanSyncTime, ReadsTheNumberAfterTheExactLiteral) {
  struct Case {
    WideString text;
    bool scans;
    std::int32_t ms;
  } cases[] = {
      {u"<sync start=1000", true, 1000},
      {u"<sync start= 42 end=9", true, 42},
      {u"<sync start=\"1500\"", true, 1500},
      {u"<sync start='-20'", true, -20},
      {u"<sync start=+7", true, 7},
      {u"<sync start=99999999999999999999999999999", true, INT32_MAX},
      {u"<sync start=-99999999999999999999999999999", true, INT32_MIN},
      {u"<sync start=", false, 0},
      {u"<sync start=x1", false, 0},
      {u"<sync start=\" 5", false, 0},
      {u"<sync  start=5", false, 0},
      {u"<syncstart=5", false, 0},
      {u"</body>", false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t ms = 0;
    EXPECT_EQ(ScanSyncTime(c.text, ms), c.scans) << std::string(c.text.begin(), c.text.end());
    if (c.scans) {
      EXPECT_EQ(ms, c.ms);
    }
  }
}

TEST(ParseSyncBlock, GivesTimesCaptionAndSeekBackLength) {
  struct Case {
    WideString block;
    std::int64_t length;
    std::int32_t start, end;
    WideString caption;
  } cases[] = {
      {u"<sync start=1000><p class=kr>Hello<br>World<sync start=60000>", 18, 1000, 60000,
       u"Hello\nWorld"},
      {u"<sync start=200><p>&nbsp;<sync start=300>", 16, 200, 300, u""},
      {u"<sync start=500>last</body></sami>", 7, 500, 500, u"last"},
      {u"<sync start=500>text", 20, 500, 500, u"text"},
      {u"<sync start=x>b<sync start=9>", 14, 0, 9, u"b"},
      {u"<sync start=\"100\">q<sync start='250' end=1>", 24, 100, 250, u"q"},
      {u"<sync start=1>a<br> <br>b<sync start=2>", 14, 1, 2, u"a\n\nb"},
  };
  for (const Case& c : cases) {
    CueTimes times;
    WideString caption;
    EXPECT_EQ(ParseSyncBlock(c.block, times, caption), c.length);
    EXPECT_EQ(times.start, c.start);
    EXPECT_EQ(times.end, c.end);
    EXPECT_EQ(caption, c.caption);
  }
}

TEST(ParseSyncBlock, LeavesOutputsAloneForAnEmptyBlock) {
  CueTimes times{7, 8};
  WideString caption = u"kept too";
  EXPECT_EQ(ParseSyncBlock(u"", times, caption), -1);
  EXPECT_EQ(times.start, 7);
  EXPECT_EQ(times.end, 8);
  EXPECT_EQ(caption, u"kept too");
}
