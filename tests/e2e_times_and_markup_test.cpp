// End-to-end: how sync tag values become times, and what happens to markup
// that never ends, to NUL characters and to files that stop mid-tag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/test_text.h"

namespace {

struct Conversion {
  std::string smi;      // the input's bytes
  std::string srtText;  // the expected SRT text, UTF-8 with LF
};

// Converts each input in its own folder under the C locale and compares.
void ExpectConversions(const std::vector<std::pair<std::string, Conversion>>& cases) {
  for (const auto& [label, c] : cases) {
    SCOPED_TRACE(label);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "t.smi", c.smi));
    RunOptions options;
    options.timeoutSeconds = 10;
    const RunResult run = RunLumentrace({"t.smi"}, dir.path(), {}, options);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.out, BannerText() + SuccessLine("t.smi"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(dir / "t.srt"), SrtBytes(c.srtText));
  }
}

const std::string kLatest = "596:31:23,647";  // 2147483647 ms, the largest time
const std::string kZero = "00:00:00,000";

TEST(EndToEndTimes, StartValuesScanWithQuotesSignsAndSaturation) {
  struct Case {
    const char* tag;
    std::string start;
  };
  const Case cases[] = {
      {"<SYNC Start=1000>", "00:00:01,000"},
      {"<SYNC Start=\"1000\">", "00:00:01,000"},
      {"<SYNC Start='1000'>", "00:00:01,000"},
      {"<SYNC Start= 1000>", "00:00:01,000"},
      {"<SYNC Start=\t \"1000\">", "00:00:01,000"},
      {"<SYNC Start=+1000>", "00:00:01,000"},
      {"<SYNC Start=\"+1000\">", "00:00:01,000"},
      {"<SYNC Start=001000>", "00:00:01,000"},
      {"<SYNC Start=1000ms End=9000>", "00:00:01,000"},
      {"<SYNC Start=\"1000\" End=\"9000\">", "00:00:01,000"},
      // Negative times are written as zero, never with a minus sign.
      {"<SYNC Start=-500>", kZero},
      {"<SYNC Start='-3600000'>", kZero},
      {"<SYNC Start=-1>", kZero},
      {"<SYNC Start=2147483647>", kLatest},
      {"<SYNC Start=2147483648>", kLatest},
      {"<SYNC Start=4294967396>", kLatest},  // 2^32 + 100 does not wrap to 100
      {"<SYNC Start=99999999999999999999999999>", kLatest},
      {"<SYNC Start=-2147483648>", kZero},
      {"<SYNC Start=-99999999999999999999999999>", kZero},
      // Values that do not scan start at 0.
      {"<SYNC Start=>", kZero},
      {"<SYNC Start=abc>", kZero},
      {"<SYNC Start=\"\">", kZero},
      {"<SYNC Start=''1000>", kZero},
      {"<SYNC Start=--5>", kZero},
      {"<SYNC Start=+-5>", kZero},
      {"<SYNC Start=- 5>", kZero},
  };
  std::vector<std::pair<std::string, Conversion>> conversions;
  for (const Case& c : cases) {
    conversions.push_back({c.tag,
                           {std::string(c.tag) + "X\r\n<SYNC Start=5000>&nbsp;\r\n",
                            "1\n" + c.start + " --> 00:00:05,000\nX"}});
  }
  ExpectConversions(conversions);
}

TEST(EndToEndTimes, EndTimesComeFromTheLastTagOnlyWhenItIsASyncTag) {
  ExpectConversions({
      {"quoted closing tag",
       {"<SYNC Start=100>X\r\n<SYNC Start=\"300\">&nbsp;", "1\n00:00:00,100 --> 00:00:00,300\nX"}},
      {"negative closing tag",
       {"<SYNC Start=100>X\r\n<SYNC Start=-300>&nbsp;", "1\n00:00:00,100 --> " + kZero + "\nX"}},
      {"saturated closing tag",
       {"<SYNC Start=100>X\r\n<SYNC Start=99999999999>&nbsp;",
        "1\n00:00:00,100 --> " + kLatest + "\nX"}},
      {"closing tag that does not scan",
       {"<SYNC Start=100>X\r\n<SYNC Start=x>&nbsp;", "1\n00:00:00,100 --> 00:00:00,100\nX"}},
      // "<sync start=" is matched character for character: none of these last
      // tags is a sync tag, so the cue ends at its start.
      {"no space", {"<SYNC Start=100>X<SYNCSTART=900>", "1\n00:00:00,100 --> 00:00:00,100\nX"}},
      {"tab", {"<SYNC Start=100>X<SYNC\tStart=900>", "1\n00:00:00,100 --> 00:00:00,100\nX"}},
      {"line break",
       {"<SYNC Start=100>X<SYNC\r\nStart=900>", "1\n00:00:00,100 --> 00:00:00,100\nX"}},
      {"space before '='",
       {"<SYNC Start=100>X<SYNC Start =900>", "1\n00:00:00,100 --> 00:00:00,100\nX"}},
      // Such a tag does not split blocks either: its text joins the block before.
      {"two spaces",
       {"<SYNC Start=100>A<SYNC  Start=200>B<SYNC Start=300>&nbsp;",
        "1\n00:00:00,100 --> 00:00:00,300\nAB"}},
      {"negative start and end",
       {"<SYNC Start=-5000>A<SYNC Start=-10>&nbsp;", "1\n" + kZero + " --> " + kZero + "\nA"}},
  });
}

TEST(EndToEndMarkup, UnterminatedMarkupKeepsTheRestOfTheCaption) {
  ExpectConversions({
      {"entity without ';'",
       {"<SYNC Start=100>Tom &nbsp Jerry\r\n<SYNC Start=200>&nbsp;",
        "1\n00:00:00,100 --> 00:00:00,200\nTom &nbsp Jerry"}},
      {"'&n' at the end",
       {"<SYNC Start=100>x &n<SYNC Start=200>&nbsp;", "1\n00:00:00,100 --> 00:00:00,200\nx &n"}},
      // With a ';' further on, everything up to it goes.
      {"entity up to a later ';'",
       {"<SYNC Start=100>a &nbsp b; c\r\n<SYNC Start=200>&nbsp;",
        "1\n00:00:00,100 --> 00:00:00,200\na  c"}},
      {"two entities",
       {"<SYNC Start=100>a&nbsp;&nbsp;b&amp;&NBSP;\r\n<SYNC Start=200>&nbsp;",
        "1\n00:00:00,100 --> 00:00:00,200\nab&amp;&NBSP;"}},
      // A tag cut off by the end of the file is dropped.
      {"cut-off tag after text",
       {"<SYNC Start=100>A<SYNC Start=200>B<i",
        "1\n00:00:00,100 --> 00:00:00,200\nA\n\n"
        "2\n00:00:00,200 --> 00:00:00,200\nB"}},
      {"cut-off sync tag",
       {"<SYNC Start=100>A<SYNC Start=200", "1\n00:00:00,100 --> 00:00:00,100\nA"}},
      {"cut-off header", {"<SAMI><HEAD><STYLE type=", ""}},
      {"cut-off sync tag in the header", {"<SAMI><BODY><SYNC Start=100", ""}},
  });
}

TEST(EndToEndMarkup, NulCharactersStayInTheCaption) {
  // A NUL is no white space: the trailing one is not trimmed either.
  const std::string caption("A\0B\0", 4);
  const std::string expected = "1\n00:00:00,100 --> 00:00:00,200\n" + caption;
  const std::string smi = "<SYNC Start=100>" + caption + "\r\n<SYNC Start=200>&nbsp;";
  ExpectConversions({
      {"UTF-16LE", {Encode(smi, TestEncoding::Utf16LeBom), expected}},
      {"UTF-8 with BOM", {Encode(smi, TestEncoding::Utf8Bom), expected}},
      {"one-byte text", {smi, expected}},
  });
}

}  // namespace
