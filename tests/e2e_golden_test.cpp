// Golden files: each tests/data/NAME.smi converts to exactly tests/data/NAME.srt,
// both in the test process (bytes in, bytes out) and through the program.
// The inputs are ASCII with CR LF line ends, read under the C locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/test_text.h"

namespace {

// What each pair shows.
const char* const kGoldenPairs[] = {
    "one_cue",                      // header, a caption with a break tag, a clearing block
    "clearing_blocks",              // 100 text, 200 clear, 300 text, 400 clear: two cues
    "no_clearing_blocks",           // 100, 200, 300 text, 400 clear: three cues
    "repeat_merged",                // A A A B: A 100-400 as one cue, then B
    "repeat_in_second_place",       // X A A: the two A blocks fall in different passes
    "header_comment_and_entities",  // a sync tag after "<!-- <P>"; &amp; &NBSP; &lt; stay
    "stale_lookahead",              // an empty lookahead does not repeat the earlier one
    "last_block_closing_tags",      // the last cue ends at its own start
    "break_tags",                   // <BR> </Br> <bR/> break, <br /> does not; lines trimmed
    "swallowed_sync_tag",           // "1 < 2" runs to the next sync tag's '>'
    "source_line_breaks_join_words",
    "mixed_case_sync_tags",
    "large_times",  // 00:59:59,999 and three-digit hours
    "no_sync_tag",  // "<SYNC start =5>" is not a sync tag: no cue
};

TEST(EndToEndGolden, EachSamiFileConvertsToItsSrtFile) {
  for (const char* name : kGoldenPairs) {
    SCOPED_TRACE(name);
    const std::string smi = ReadFile(std::string(LUMENTRACE_TEST_DATA) + "/" + name + ".smi");
    const std::string srt = ReadFile(std::string(LUMENTRACE_TEST_DATA) + "/" + name + ".srt");
    ASSERT_FALSE(smi.empty());
    ASSERT_EQ(srt.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(ConvertBytes(smi, CodePageDecoderFor("CP1252")), srt) << "in the test process";
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "in.smi", smi));
    const RunResult run = RunLumentrace({"in.smi"}, dir.path());
    EXPECT_EQ(run.out, BannerText() + SuccessLine("in.smi"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(dir / "in.srt"), srt);
  }
}

// Converting bytes in memory makes the file conversion's decision from the
// first byte, and reads ANSI input in the code page it is handed.
TEST(ConvertBytes, FirstByteChoosesTheReading) {
  const std::string text = "<SYNC Start=100>\xEC\xBA\xA1\xEC\x85\x98<SYNC Start=200>&nbsp;";
  const std::string srt = SrtBytes("1\n00:00:00,100 --> 00:00:00,200\n\xEC\xBA\xA1\xEC\x85\x98");
  for (TestEncoding encoding :
       {TestEncoding::Utf16LeBom, TestEncoding::Utf8Bom, TestEncoding::Utf8, TestEncoding::Cp949}) {
    SCOPED_TRACE(EncodingName(encoding));
    EXPECT_EQ(ConvertBytes(Encode(text, encoding), CodePageDecoderFor("CP949")), srt);
  }
  // The same CP949 bytes in another code page are other characters.
  EXPECT_NE(ConvertBytes(Encode(text, TestEncoding::Cp949), CodePageDecoderFor("CP1252")), srt);
  EXPECT_EQ(ConvertBytes("", CodePageDecoderFor("CP1252")), "\xFF\xFE");
}

// The Windows build converts every golden input, every fuzzing input and the
// example to the same bytes as the Linux build, under a C and a Korean
// locale: one conversion core on both.
TEST(EndToEndGolden, WindowsBuildWritesWhatTheLinuxBuildWrites) {
  if (!TestingWindowsProgram()) GTEST_SKIP() << "compares the Windows build with this one";
  const std::string source = std::string(LUMENTRACE_TEST_DATA) + "/../..";
  std::vector<std::string> inputs;
  for (const char* folder : {"tests/data", "tests/data/languages", "tests/fuzz/corpus",
                             "tests/fuzz/regressions", "examples"}) {
    for (const std::string& name : ListDir(source + "/" + folder)) {
      const std::string path = source + "/" + folder + "/" + name;
      // Folders (tests/data/languages) are searched on their own.
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".srt") != 0 &&
          std::filesystem::is_regular_file(path)) {
        inputs.push_back(path);
      }
    }
  }
  ASSERT_GT(inputs.size(), 60u);
  // Inputs holding bytes that Windows' code page tables decode where glibc's
  // find no character convert as each platform decodes them: here a 0x80,
  // which is U+0080 in Windows' CP949 and invalid in glibc's.
  const std::vector<std::string> tableDifferences = {"nbsp_skip_into_tag_keeps_its_cr_2.smi"};
  for (const char* locale : {"LC_ALL=C", "LC_ALL=ko_KR.UTF-8"}) {
    for (const std::string& input : inputs) {
      const std::string name = input.substr(input.rfind('/') + 1);
      SCOPED_TRACE(name + " under " + locale);
      TempDir linux;
      TempDir windows;
      const std::string bytes = ReadFile(input);
      ASSERT_TRUE(WriteFile(linux / "in.smi", bytes));
      ASSERT_TRUE(WriteFile(windows / "in.smi", bytes));
      // The Linux build gets the Korean locale installed too, as Wine needs
      // it for the Windows build: case and white space then follow Unicode on both.
      std::vector<std::string> env = {locale};
      std::string locpath;
      if (std::string(locale) != "LC_ALL=C" &&
          BuildLocale("ko_KR", "UTF-8", locpath) == LocaleBuild::Built) {
        env.push_back("LOCPATH=" + locpath);
      }
      RunProgram({LUMENTRACE_NATIVE_BINARY, "in.smi"}, linux.path(), env);
      RunLumentrace({"in.smi"}, windows.path(), {locale});
      const bool same = ReadFile(linux / "in.srt") == ReadFile(windows / "in.srt");
      const bool expectedToDiffer = std::find(tableDifferences.begin(), tableDifferences.end(),
                                              name) != tableDifferences.end();
      EXPECT_TRUE(same || expectedToDiffer) << "the two builds differ";
    }
  }
}

// The count is of cues written: a merged run is one cue, a clearing block none.
TEST(ConvertBytes, CountsTheCuesItWrites) {
  struct Case {
    const char* sami;
    std::int32_t cues;
  };
  const Case cases[] = {
      {"", 0},
      {"<SYNC Start=1>&nbsp;<SYNC Start=2>&nbsp;", 0},
      {"<SYNC Start=1>a<SYNC Start=2>&nbsp;", 1},
      {"<SYNC Start=1>a<SYNC Start=2>a<SYNC Start=3>a<SYNC Start=4>b<SYNC Start=5>&nbsp;", 2},
      {"<SYNC Start=1>a<SYNC Start=2>b<SYNC Start=3>c", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sami);
    std::int32_t cues = -1;
    const std::string srt = ConvertBytes(c.sami, CodePageDecoderFor("CP1252"), &cues);
    EXPECT_EQ(cues, c.cues);
    EXPECT_EQ(srt, ConvertBytes(c.sami, CodePageDecoderFor("CP1252")));
  }
}

TEST(EndToEndGolden, EveryPairInTheDataFolderIsListed) {
  std::vector<std::string> listed(std::begin(kGoldenPairs), std::end(kGoldenPairs));
  std::vector<std::string> found;
  for (const std::string& file : ListDir(LUMENTRACE_TEST_DATA)) {
    const size_t dot = file.rfind('.');
    if (dot == std::string::npos) continue;
    const std::string stem = file.substr(0, dot);
    const std::string extension = file.substr(dot);
    if (extension == ".smi") found.push_back(stem);
    if (extension == ".smi" || extension == ".srt") {
      EXPECT_TRUE(FileExists(std::string(LUMENTRACE_TEST_DATA) + "/" + stem +
                             (extension == ".smi" ? ".srt" : ".smi")))
          << file << " has no partner";
    }
  }
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(found, listed);
}

}  // namespace
