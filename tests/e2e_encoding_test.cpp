// End-to-end conversions of the same documents in every input encoding and
// under the locales that choose how a legacy file is decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/test_text.h"

namespace {

// Captions in a script the encoding can hold.
struct Captions {
  std::string a, b, x;
};

// U+C548 U+B155 U+D558 U+C138 U+C694 { HANGUL SYLLABLES AN NYEONG HA SE YO }.
const Captions kHangul = {
    "\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94",
    // Twenty syllables, GA NA DA RA MA BA SA A JA CHA KA TA PA HA GEO NEO DEO
    // REO MEO BEO: a whole line whose bytes outnumber its characters.
    "\xEA\xB0\x80\xEB\x82\x98\xEB\x8B\xA4\xEB\x9D\xBC\xEB\xA7\x88\xEB\xB0\x94\xEC\x82\xAC"
    "\xEC\x95\x84\xEC\x9E\x90\xEC\xB0\xA8\xEC\xB9\xB4\xED\x83\x80\xED\x8C\x8C\xED\x95\x98"
    "\xEA\xB1\xB0\xEB\x84\x88\xEB\x8D\x94\xEB\x9F\xAC\xEB\xA8\xB8\xEB\xB2\x84",
    "\xEC\xB2\x98\xEC\x9D\x8C",  // U+CC98 U+C74C { CHEO EUM }
};

// Accented Latin that CP1252 holds, none of it valid UTF-8 once encoded there;
// U+20AC EURO SIGN and U+2014 EM DASH sit where ISO-8859-1 has C1 controls.
const Captions kLatin = {
    "Caf\xC3\xA9 d\xC3\xA9j\xC3\xA0 vu",
    "\xC3\x87"
    "a a \xC3\xA9t\xC3\xA9 tr\xC3\xA8s fa\xC3\xA7ile \xC3\xA0 No\xC3\xABl, o\xC3\xB9 "
    "l'\xC3\xA2me co\xC3\xBBte 5 \xE2\x82\xAC \xE2\x80\x94 \xC3\x9C"
    "ber",
    "\xC2\xBFQu\xC3\xA9?",
};

struct Document {
  const char* label;
  std::string smi;       // UTF-8 before encoding
  std::string expected;  // the SRT text, UTF-8 with LF
};

std::string Cue(int number, const char* times, const std::string& text) {
  return (number == 1 ? "" : "\n\n") + std::to_string(number) + "\n" + times + "\n" + text;
}

std::vector<Document> Documents(const Captions& c) {
  const std::string body = "<SAMI>\r\n<BODY>\r\n";
  const std::string end = "</BODY>\r\n</SAMI>\r\n";
  auto line = [](int ms, const std::string& text) {
    return "<SYNC Start=" + std::to_string(ms) + "><P Class=CC>" + text + "\r\n";
  };
  return {
      {"A A A B",
       body + line(100, c.a) + line(200, c.a) + line(300, c.a) + line(400, c.b) +
           line(500, "&nbsp;") + end,
       Cue(1, "00:00:00,100 --> 00:00:00,400", c.a) + Cue(2, "00:00:00,400 --> 00:00:00,500", c.b)},
      {"A A B", body + line(100, c.a) + line(200, c.a) + line(300, c.b) + line(400, "&nbsp;") + end,
       Cue(1, "00:00:00,100 --> 00:00:00,300", c.a) + Cue(2, "00:00:00,300 --> 00:00:00,400", c.b)},
      {"X A A", body + line(100, c.x) + line(200, c.a) + line(300, c.a) + line(400, "&nbsp;") + end,
       Cue(1, "00:00:00,100 --> 00:00:00,200", c.x) + Cue(2, "00:00:00,200 --> 00:00:00,300", c.a) +
           Cue(3, "00:00:00,300 --> 00:00:00,400", c.a)},
      {"caption with a break tag", body + line(100, c.x + "<br>" + c.b) + line(200, "&nbsp;") + end,
       Cue(1, "00:00:00,100 --> 00:00:00,200", c.x + "\n" + c.b)},
      // The closing tag of the first block holds a line break: the move back
      // must land on its '<' however many bytes the break took.
      {"sync tag broken across lines",
       "<SYNC Start=1>" + c.a + "<SYNC Start=2\r\n>" + c.b + "<SYNC Start=3>" + c.x,
       Cue(1, "00:00:00,001 --> 00:00:00,002", c.a) + Cue(2, "00:00:00,002 --> 00:00:00,003", c.b) +
           Cue(3, "00:00:00,003 --> 00:00:00,003", c.x)},
      {"sync tags with text in an attribute",
       body + "<SYNC Start=100 Title=\"" + c.a + "\">" + c.x + "\r\n<SYNC Start=200 Title=\"" +
           c.b + "\">" + c.a + "\r\n<SYNC Start=300>&nbsp;\r\n" + end,
       Cue(1, "00:00:00,100 --> 00:00:00,200", c.x) + Cue(2, "00:00:00,200 --> 00:00:00,300", c.a)},
      // Only the start value of a sync tag counts; the long tag ends the run.
      {"run ended by a block with a long closing tag",
       body + line(100, c.a) + line(200, c.a) + line(300, c.b) +
           "<SYNC Start=400 End=123456789012345678901234567890 Title=\"" + c.b + "\">&nbsp;\r\n" +
           end,
       Cue(1, "00:00:00,100 --> 00:00:00,300", c.a) + Cue(2, "00:00:00,300 --> 00:00:00,400", c.b)},
      {"last block is text with nothing after it",
       "<SYNC Start=100>" + c.x + "\r\n<SYNC Start=500>" + c.b,
       Cue(1, "00:00:00,100 --> 00:00:00,500", c.x) + Cue(2, "00:00:00,500 --> 00:00:00,500", c.b)},
      {"only block is text with nothing after it", "<SYNC Start=500>" + c.b,
       Cue(1, "00:00:00,500 --> 00:00:00,500", c.b)},
      {"last block is a clearing block with nothing after it",
       "<SYNC Start=100>" + c.x + "\r\n<SYNC Start=500>&nbsp;",
       Cue(1, "00:00:00,100 --> 00:00:00,500", c.x)},
      {"only block is a clearing block with nothing after it", "<SYNC Start=500>&nbsp;", ""},
      // The run's span is the first block up to its last '<' and the last block
      // from its last '<': both captions, from 100 to 200.
      {"file ends in a repeat", "<SYNC Start=100>" + c.a + "<SYNC Start=200>" + c.a,
       Cue(1, "00:00:00,100 --> 00:00:00,200", c.a + c.a)},
  };
}

struct Setting {
  const char* label;
  TestEncoding encoding;
  std::vector<std::string> env;
  const Captions* captions;
  bool generatedCp949Locale = false;
  // Which locale variable wins is a C library matter; Windows has one code
  // page for the whole system.
  bool posixOnly = false;
};

TEST(EndToEndEncodings, SameDocumentsGiveTheSameCuesInEveryEncoding) {
  const std::vector<Setting> settings = {
      {"UTF-16LE, C locale", TestEncoding::Utf16LeBom, {}, &kHangul},
      {"UTF-16LE, ko_KR.UTF-8", TestEncoding::Utf16LeBom, {"LANG=ko_KR.UTF-8"}, &kHangul},
      {"UTF-8 with BOM, C locale", TestEncoding::Utf8Bom, {}, &kHangul},
      {"UTF-8 with BOM, en_US.UTF-8", TestEncoding::Utf8Bom, {"LANG=en_US.UTF-8"}, &kLatin},
      {"UTF-8 without BOM, C locale", TestEncoding::Utf8, {}, &kHangul},
      {"UTF-8 without BOM, ko_KR.UTF-8", TestEncoding::Utf8, {"LANG=ko_KR.UTF-8"}, &kHangul},
      {"UTF-8 without BOM, en_US.UTF-8", TestEncoding::Utf8, {"LANG=en_US.UTF-8"}, &kLatin},
      {"CP949, ko_KR.UTF-8", TestEncoding::Cp949, {"LANG=ko_KR.UTF-8"}, &kHangul},
      {"CP949, LC_CTYPE before LANG",
       TestEncoding::Cp949,
       {"LANG=en_US.UTF-8", "LC_CTYPE=ko_KR.UTF-8"},
       &kHangul,
       false,
       true},
      {"CP949, LC_ALL before LC_CTYPE",
       TestEncoding::Cp949,
       {"LC_CTYPE=en_US.UTF-8", "LC_ALL=ko_KR.UTF-8"},
       &kHangul},
      {"CP949, generated ko_KR.CP949", TestEncoding::Cp949, {"LANG=ko_KR.CP949"}, &kHangul, true},
      {"CP1252, en_US.UTF-8", TestEncoding::Cp1252, {"LANG=en_US.UTF-8"}, &kLatin},
      {"CP1252, C locale", TestEncoding::Cp1252, {}, &kLatin},
  };
  bool localedefMissing = false;
  for (const Setting& setting : settings) {
    if (setting.posixOnly && TestingWindowsProgram()) continue;
    std::vector<std::string> env = setting.env;
    if (setting.generatedCp949Locale) {
      std::string locpath;
      const LocaleBuild build = BuildKoreanCp949Locale(locpath);
      if (build == LocaleBuild::NoLocaledef) {
        localedefMissing = true;
        continue;
      }
      ASSERT_EQ(build, LocaleBuild::Built);
      env.push_back("LOCPATH=" + locpath);
    }
    for (const Document& document : Documents(*setting.captions)) {
      SCOPED_TRACE(std::string(setting.label) + ": " + document.label);
      TempDir dir;
      ASSERT_TRUE(WriteFile(dir / "film.smi", Encode(document.smi, setting.encoding)));
      RunOptions options;
      options.timeoutSeconds = 10;
      const RunResult run = RunLumentrace({"film.smi"}, dir.path(), env, options);
      ASSERT_FALSE(run.timedOut) << "the conversion must end";
      EXPECT_EQ(run.out, BannerText() + SuccessLine("film.smi"));
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(ReadFile(dir / "film.srt"), SrtBytes(document.expected));
    }
  }
  if (localedefMissing) GTEST_SKIP() << "localedef is not installed: ko_KR.CP949 not tried";
}

// The code page's decoder is made only when a file needs it, and then kept for
// the rest of the run: a legacy file must decode the same whether it comes
// first, or after files that never needed the decoder, and files read as
// UTF-8 must stay UTF-8 once the decoder exists.
TEST(EndToEndEncodings, FilesOfEveryEncodingInOneRun) {
  const std::string smi = "<SAMI><BODY>\r\n<SYNC Start=100><P>" + kHangul.a +
                          "\r\n<SYNC Start=200><P>&nbsp;\r\n</BODY></SAMI>\r\n";
  const std::string srt = SrtBytes("1\n00:00:00,100 --> 00:00:00,200\n" + kHangul.a);
  const std::vector<std::pair<std::string, TestEncoding>> files = {
      {"utf8.smi", TestEncoding::Utf8},        {"utf16.smi", TestEncoding::Utf16LeBom},
      {"cp949.smi", TestEncoding::Cp949},      {"utf8bom.smi", TestEncoding::Utf8Bom},
      {"cp949again.smi", TestEncoding::Cp949}, {"utf8again.smi", TestEncoding::Utf8},
  };
  for (const bool legacyFirst : {false, true}) {
    SCOPED_TRACE(legacyFirst ? "legacy file first" : "legacy file after UTF-8 and UTF-16");
    TempDir dir;
    std::vector<std::string> names;
    std::string expectedOut = BannerText();
    for (const auto& [name, encoding] : files) {
      ASSERT_TRUE(WriteFile(dir / name, Encode(smi, encoding)));
      names.push_back(name);
    }
    if (legacyFirst) std::rotate(names.begin(), names.begin() + 2, names.end());
    for (const std::string& name : names) expectedOut += SuccessLine(name);
    const RunResult run = RunLumentrace(names, dir.path(), {"LANG=ko_KR.UTF-8"});
    EXPECT_EQ(run.out, expectedOut);
    EXPECT_EQ(run.status, 0);
    for (const std::string& name : names) {
      EXPECT_EQ(ReadFile(dir / (name.substr(0, name.size() - 4) + ".srt")), srt) << name;
    }
  }
}

TEST(EndToEndEncodings, NamesAreReadAndPrintedInTheLocaleCodeset) {
  SKIP_FOR_WINDOWS_PROGRAM("names as bytes of a legacy codeset");
  std::string locpath;
  const LocaleBuild build = BuildKoreanCp949Locale(locpath);
  if (build == LocaleBuild::NoLocaledef) GTEST_SKIP() << "localedef is not installed";
  ASSERT_EQ(build, LocaleBuild::Built);
  TempDir dir;
  // U+C790 U+B9C9 { HANGUL SYLLABLE JA, HANGUL SYLLABLE MAG } named in CP949.
  const std::string name = Encode("\xEC\x9E\x90\xEB\xA7\x89", TestEncoding::Cp949);
  ASSERT_TRUE(WriteFile(
      dir / (name + ".smi"),
      Encode("<SYNC Start=100>" + kHangul.a + "\r\n<SYNC Start=200>&nbsp;", TestEncoding::Cp949)));
  const RunResult run =
      RunLumentrace({name + ".smi"}, dir.path(), {"LANG=ko_KR.CP949", "LOCPATH=" + locpath});
  EXPECT_EQ(run.out, BannerText() + SuccessLine(name + ".smi"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / (name + ".srt")),
            SrtBytes("1\n00:00:00,100 --> 00:00:00,200\n" + kHangul.a));
}

TEST(EndToEndEncodings, BytesThatDoNotDecodeBecomeReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
  const std::string gaCp949 = "\xB0\xA1";          // U+AC00 HANGUL SYLLABLE GA in CP949
  const std::string ga = "\xEA\xB0\x80";
  struct Case {
    const char* label;
    std::vector<std::string> env;
    std::string start;     // raw bytes before the first sync tag
    std::string caption;   // raw bytes
    std::string expected;  // UTF-8
    // Windows' own tables give a few bytes a character where glibc's give
    // none; empty when both agree.
    std::string windowsExpected = "";
  };
  const Case cases[] = {
      // 0xFF leads no CP949 character; decoding goes on after it.
      {"CP949",
       {"LANG=ko_KR.UTF-8"},
       "",
       gaCp949 + "\xFF" + gaCp949,
       ga + replacement + ga,
       ga + "\xEF\xA3\xB7" + ga},  // U+F8F7, a private-use character
      // 0x81 is unassigned in CP1252.
      {"CP1252",
       {"LANG=en_US.UTF-8"},
       "",
       "a\x81"
       "b\xE9",
       "a" + replacement + "b\xC3\xA9",
       "a\xC2\x81"
       "b\xC3\xA9"},  // U+0081, a C1 control
      // E2 82 is one maximal invalid subpart, C0 and the lone 80 one each.
      {"UTF-8 with BOM",
       {},
       "\xEF\xBB\xBF",
       "a\xE2\x82"
       "b\xC0\x80"
       "c",
       "a" + replacement + "b" + replacement + replacement + "c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "bad.smi", c.start + "<SYNC Start=100>" + c.caption +
                                               "\r\n<SYNC Start=200>&nbsp;\r\n"));
    const RunResult run = RunLumentrace({"bad.smi"}, dir.path(), c.env);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(dir / "bad.srt"),
              SrtBytes("1\n00:00:00,100 --> 00:00:00,200\n" +
                       (TestingWindowsProgram() && !c.windowsExpected.empty() ? c.windowsExpected
                                                                              : c.expected)));
  }
}

// UTF-16 in big-endian order, for ASCII text.
std::string BigEndian(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += '\0';
    out += c;
  }
  return out;
}

TEST(EndToEndEncodings, UnusualFirstBytesChooseTheReadingAsTheFirstByteSays) {
  TempDir dir;
  // UTF-16 without a byte-order mark starts with the byte of '<': read as a
  // one-byte text, its NUL bytes hide every sync tag and no cue comes out.
  ASSERT_TRUE(WriteFile(
      dir / "nobom.smi",
      Encode("<SYNC Start=100>a\r\n<SYNC Start=200>&nbsp;", TestEncoding::Utf16LeBom).substr(2)));
  // A lone final byte in UTF-16 reads as the end of the input.
  ASSERT_TRUE(
      WriteFile(dir / "odd.smi",
                Encode("<SYNC Start=100>a<SYNC Start=200>b", TestEncoding::Utf16LeBom) + "<"));
  // FE FF (big-endian order) is still read as little-endian: each unit is
  // swapped, so no sync tag is seen.
  ASSERT_TRUE(WriteFile(dir / "bigendian.smi",
                        "\xFE\xFF" + BigEndian("<SYNC Start=100>a<SYNC Start=200>&nbsp;")));
  const RunResult run = RunLumentrace({"nobom.smi", "odd.smi", "bigendian.smi"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / "nobom.srt"), "\xFF\xFE");
  EXPECT_EQ(ReadFile(dir / "odd.srt"),
            SrtBytes("1\n00:00:00,100 --> 00:00:00,200\na\n\n2\n00:00:00,200 --> 00:00:00,200\nb"));
  EXPECT_EQ(ReadFile(dir / "bigendian.srt"), "\xFF\xFE");
}

}  // namespace
