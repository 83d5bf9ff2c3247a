// Replays the fuzzers' seed corpus and every input they ever failed on through
// the same checks the fuzzers run, in every code page they use and under a
// plain and a UTF-8 locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_entry.h"
#include "tests/support/test_locale.h"
#include "tests/support/utf16_bytes.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFuzzDir = fs::path(LUMENTRACE_TEST_DATA).parent_path() / "fuzz";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void ReplayAll(const fs::path& dir, size_t expectAtLeast) {
  const std::vector<fs::path> files = FilesIn(dir);
  ASSERT_GE(files.size(), expectAtLeast) << dir;
  std::vector<std::string> codePages = fuzzing::InterestingCodePages();
  for (const char* locale : {"C", "C.UTF-8"}) {
    if (!SelectTestLocale(locale)) continue;
    for (const fs::path& file : files) {
      const std::string bytes = ReadFile(file);
      const std::string failure = fuzzing::CheckOneInput(
          reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), codePages);
      EXPECT_EQ(failure, "") << file.filename() << " under " << locale;
    }
  }
  std::setlocale(LC_ALL, "C");
}

TEST(FuzzReplay, SeedCorpusPassesEveryCheck) {
  ReplayAll(kFuzzDir / "corpus", 40);
}

TEST(FuzzReplay, EveryRegressionInputPassesEveryCheck) {
  ReplayAll(kFuzzDir / "regressions", 0);
}

// The checks themselves must catch what they claim to: a broken output is
// told apart from a sound one.
TEST(FuzzReplay, ShapeCheckRejectsBrokenOutput) {
  const std::string bom = "\xFF\xFE";
  const std::string sound = bom + Utf16Bytes(u"1\r\n00:00:00,100 --> 00:00:00,200\r\nHi");
  EXPECT_EQ(fuzzing::CheckSrtShape(bom, 0), "");
  EXPECT_EQ(fuzzing::CheckSrtShape(sound, 40), "");
  const std::string broken[] = {
      "",
      Utf16Bytes(u"1\r\n"),                                     // no byte-order mark
      sound + "x",                                              // odd length
      bom + Utf16Bytes(u"1\n00:00:00,100 --> 00:00:00,200"),    // bare LF
      bom + Utf16Bytes(u"2\r\n00:00:00,100 --> 00:00:00,200"),  // first cue not 1
  };
  for (const std::string& srt : broken) EXPECT_NE(fuzzing::CheckSrtShape(srt, 40), "");
  const std::string huge = sound + Utf16Bytes(std::u16string(1000, u'x'));
  EXPECT_EQ(fuzzing::CheckSrtShape(huge, 100), "");
  EXPECT_NE(fuzzing::CheckSrtShape(huge, 0), "") << "output far larger than its input";
}

TEST(FuzzReplay, TranscodesOnlyWellFormedUtf8) {
  std::string utf16;
  // U+D55C HANGUL SYLLABLE HAN, U+1F600 GRINNING FACE (a surrogate pair).
  ASSERT_TRUE(fuzzing::TranscodeUtf8ToUtf16("a\xED\x95\x9C\xF0\x9F\x98\x80", utf16));
  EXPECT_EQ(utf16, std::string("a\0\x5C\xD5\x3D\xD8\x00\xDE", 8));
  for (const char* bad :
       {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE0\x80", "\x80", "\xF0\x9F\x98"}) {
    EXPECT_FALSE(fuzzing::TranscodeUtf8ToUtf16(bad, utf16)) << bad;
  }
}

}  // namespace
