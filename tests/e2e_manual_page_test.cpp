// End-to-end: what the manual page tells users about conversions that
// surprise them. Each case is an example the page gives or a sentence of it
// taken literally; when one fails, the program and doc/lumentrace.1 (and the
// README) no longer agree, and one of them has to change.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/test_text.h"

namespace {

// A body of SAMI blocks, one "START caption" pair per block, with the usual
// header and closing tags around it.
std::string Sami(const std::vector<std::pair<int, std::string>>& blocks) {
  std::string text = "<SAMI>\r\n<HEAD>\r\n<TITLE>t</TITLE>\r\n</HEAD>\r\n<BODY>\r\n";
  for (const auto& [start, caption] : blocks) {
    text += "<SYNC Start=" + std::to_string(start) + "><P Class=ENCC>" + caption + "\r\n";
  }
  return text + "</BODY>\r\n</SAMI>\r\n";
}

std::string Cue(int number, const std::string& from, const std::string& to,
                const std::string& text) {
  return std::to_string(number) + "\n00:00:" + from + " --> 00:00:" + to + "\n" + text;
}

std::string Cues(const std::vector<std::string>& cues) {
  std::string text;
  for (const std::string& cue : cues) text += (text.empty() ? "" : "\n\n") + cue;
  return text;
}

// label -> (input bytes, expected SRT text in UTF-8 with LF); each converted
// in its own folder under the C locale.
using Conversions = std::vector<std::pair<std::string, std::pair<std::string, std::string>>>;

void ExpectConversions(const Conversions& cases) {
  for (const auto& [label, c] : cases) {
    SCOPED_TRACE(label);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "t.smi", c.first));
    const RunResult run = RunLumentrace({"t.smi"}, dir.path());
    EXPECT_EQ(run.out, BannerText() + SuccessLine("t.smi"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(dir / "t.srt"), SrtBytes(c.second));
  }
}

TEST(ManualPage, RepeatsMergeOnlyFromTheFirstBlockOfAPair) {
  ExpectConversions({
      {"A, B, B, B, C: the first B alone, the other two merged, C ends where it starts",
       {Sami({{100, "A"}, {200, "B"}, {300, "B"}, {400, "B"}, {500, "C"}}),
        Cues({Cue(1, "00,100", "00,200", "A"), Cue(2, "00,200", "00,300", "B"),
              Cue(3, "00,300", "00,500", "B"), Cue(4, "00,500", "00,500", "C")})}},
      {"a merged run ends at the first block with another caption, here a clearing one",
       {Sami({{100, "A"}, {200, "A"}, {300, "A"}, {400, "&nbsp;"}}),
        Cues({Cue(1, "00,100", "00,400", "A")})}},
      {"a merged run that reaches the end of the file ends where it starts",
       {Sami({{100, "A"}, {200, "A"}}), Cues({Cue(1, "00,100", "00,100", "A")})}},
      {"the pairs start again at the block that ended a run",
       {Sami({{100, "A"}, {200, "A"}, {300, "B"}, {400, "B"}, {500, "&nbsp;"}}),
        Cues({Cue(1, "00,100", "00,300", "A"), Cue(2, "00,300", "00,500", "B")})}},
  });
}

TEST(ManualPage, LineBreaksJoinWordsAndOnlyAmpersandNIsDropped) {
  ExpectConversions({
      {"a line break in the source joins the words on either side",
       {Sami({{100, "one\r\ntwo"}, {200, "&nbsp;"}}),
        Cues({Cue(1, "00,100", "00,200", "onetwo")})}},
      {"&nbsp; leaves no space behind",
       {Sami({{100, "A&nbsp;B"}, {200, "&nbsp;"}}), Cues({Cue(1, "00,100", "00,200", "AB")})}},
      {"'&n' drops everything up to the next ';'",
       {Sami({{100, "A &no way; B"}, {200, "&nbsp;"}}),
        Cues({Cue(1, "00,100", "00,200", "A  B")})}},
      {"other entities stay as written, &NBSP; among them",
       {Sami({{100, "&amp; &lt; &NBSP;"}, {200, "&nbsp;"}}),
        Cues({Cue(1, "00,100", "00,200", "&amp; &lt; &NBSP;")})}},
  });
}

TEST(ManualPage, NoArgumentsReplacesEverySrtBesideASmiBelowTheCurrentFolder) {
  TempDir root;
  ASSERT_TRUE(std::filesystem::create_directories(root / "a/b"));
  const std::string smi = Sami({{100, "new"}, {200, "&nbsp;"}});
  for (const std::string& path : {root / "top.smi", root / "a/b/deep.smi"}) {
    ASSERT_TRUE(WriteFile(path, smi));
  }
  for (const std::string& path : {root / "top.srt", root / "a/b/deep.srt", root / "a/alone.srt"}) {
    ASSERT_TRUE(WriteFile(path, "old"));
  }
  const RunResult run = RunLumentrace({}, root.path());
  EXPECT_EQ(run.status, 0);
  const std::string converted = SrtBytes(Cue(1, "00,100", "00,200", "new"));
  EXPECT_EQ(ReadFile(root / "top.srt"), converted);
  EXPECT_EQ(ReadFile(root / "a/b/deep.srt"), converted);
  // A .srt with no .smi beside it is not the program's to touch.
  EXPECT_EQ(ReadFile(root / "a/alone.srt"), "old");
}

TEST(ManualPage, TheCodePageComesFromTheLocaleNameEvenWhenItIsNotInstalled) {
  // U+D55C (Hangul "han"): C7 D1 in CP949, which is not valid UTF-8.
  const std::string cp949Han = "\xC7\xD1";
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "t.smi", Sami({{100, cp949Han}, {200, "&nbsp;"}})));
  // No such locale exists anywhere; only its language and territory count.
  const RunResult run = RunLumentrace({"t.smi"}, dir.path(), {"LANG=ko_KR.NOT-INSTALLED"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / "t.srt"), SrtBytes(Cue(1, "00,100", "00,200", "\xED\x95\x9C")));
}

}  // namespace
