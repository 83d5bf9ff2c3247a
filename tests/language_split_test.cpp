// Splitting a file by language: each language's output is the program's
// output for the file with only that language's paragraphs, which the tests
// write out by hand, in every input encoding.
#include "convert/language_split.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "text/char_decoding.h"

namespace fs = std::filesystem;

namespace {

enum class Encoding { Utf8Bom, Utf8, Utf16Le, Cp949 };

std::u32string CodePoints(const std::string& utf8) {
  std::u32string points;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) {
    const DecodedChar c = DecodeUtf8(p + i, utf8.size() - i);
    points.push_back(c.codePoint);
    i += c.length;
  }
  return points;
}

std::string Utf16Le(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char32_t c : CodePoints(utf8)) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);  // the test text is all in the BMP
  }
  return bytes;
}

// CP949 bytes found through the same decoder the conversion reads with.
std::string Cp949(const std::string& utf8) {
  static std::map<char32_t, std::string> known;
  CodePageDecoder& decoder = CodePageDecoderFor("CP949");
  std::string bytes;
  for (char32_t c : CodePoints(utf8)) {
    if (c < 0x80) {
      bytes += static_cast<char>(c);
      continue;
    }
    for (int lead = 0x81; known[c].empty() && lead <= 0xFE; ++lead) {
      for (int trail = 0x41; trail <= 0xFE; ++trail) {
        const unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                       static_cast<unsigned char>(trail)};
        const DecodedChar d = DecodeCodePage(decoder, pair, 2);
        if (d.codePoint == c && d.length == 2) known[c] = std::string(pair, pair + 2);
      }
    }
    EXPECT_FALSE(known[c].empty()) << "not in CP949: U+" << std::hex << c;
    bytes += known[c];
  }
  return bytes;
}

std::string Encode(const std::string& utf8, Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf8Bom:
      return "\xEF\xBB\xBF" + utf8;
    case Encoding::Utf8:
      return utf8;
    case Encoding::Utf16Le:
      return Utf16Le(utf8);
    default:
      return Cp949(utf8);
  }
}

// An .srt file's bytes: UTF-16LE with a byte-order mark, LF as CR LF.
std::string Srt(const std::string& utf8) {
  std::string crlf;
  for (char c : utf8) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return Utf16Le(crlf);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Suffixes(const std::vector<SamiLanguage>& languages) {
  std::string joined;
  for (const SamiLanguage& language : languages) joined += language.suffix + " ";
  return joined;
}

const char kStyle[] =
    "<SAMI>\r\n<HEAD>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
    "P { margin-left:8pt; font-size:14.5pt; text-align:center; }\r\n"
    ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\r\n"
    ".ENCC { Name:English; lang:en-US; SAMIType:CC; }\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n";

struct SplitCase {
  const char* what;
  std::string both;
  std::string korean;  // `both` split by hand
  std::string english;
  const char* names;
  const char* koreanSrt;
  const char* englishSrt;
};

TEST(LanguageSplit, EachLanguageConvertsAsItsHandSplitFile) {
  const std::string header = kStyle;
  const SplitCase cases[] = {
      {"blocks with both, one or no language; text before the first <P>; <P> with no class",
       header +
           "<SYNC Start=1000><P Class=KRCC>안녕하세요.<br>반갑습니다.\r\n"
           "<P Class=ENCC>Hello.<br>Nice to meet you.\r\n"
           "<SYNC Start=3000><P Class=KRCC>&nbsp;\r\n<P Class=ENCC>&nbsp;\r\n"
           "<SYNC Start=4000><P Class=KRCC>한국어만\r\n"
           "<SYNC Start=5000><P Class=ENCC>English only\r\n"
           "<SYNC Start=6000>♪ <P>(음악)\r\n"
           "<SYNC Start=7000><P Class=KRCC>&nbsp;<P Class=ENCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n",
       header + "<SYNC Start=1000><P Class=KRCC>안녕하세요.<br>반갑습니다.\r\n"
                "<SYNC Start=3000><P Class=KRCC>&nbsp;\r\n"
                "<SYNC Start=4000><P Class=KRCC>한국어만\r\n"
                "<SYNC Start=5000><SYNC Start=6000>♪ <P>(음악)\r\n"
                "<SYNC Start=7000><P Class=KRCC>&nbsp;</BODY>\r\n</SAMI>\r\n",
       header + "<SYNC Start=1000><P Class=ENCC>Hello.<br>Nice to meet you.\r\n"
                "<SYNC Start=3000><P Class=ENCC>&nbsp;\r\n"
                "<SYNC Start=4000><SYNC Start=5000><P Class=ENCC>English only\r\n"
                "<SYNC Start=6000>♪ <P>(음악)\r\n"
                "<SYNC Start=7000><P Class=ENCC>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n",
       "ko en ",
       "1\n00:00:01,000 --> 00:00:03,000\n안녕하세요.\n반갑습니다.\n\n"
       "2\n00:00:04,000 --> 00:00:05,000\n한국어만\n\n3\n00:00:06,000 --> 00:00:07,000\n♪ (음악)",
       "1\n00:00:01,000 --> 00:00:03,000\nHello.\nNice to meet you.\n\n"
       "2\n00:00:05,000 --> 00:00:06,000\nEnglish only\n\n3\n00:00:06,000 --> 00:00:07,000\n♪ "
       "(음악)"},
      {"a repeat merged in one language while the other changes",
       "<SYNC Start=100><P Class=KRCC>가<P Class=ENCC>w<SYNC Start=200><P Class=KRCC>가"
       "<P Class=ENCC>x<SYNC Start=300><P Class=KRCC>가<P Class=ENCC>y<SYNC Start=400>"
       "<P Class=KRCC>나<P Class=ENCC>z<SYNC Start=500><P Class=KRCC>&nbsp;<P Class=ENCC>&nbsp;",
       "<SYNC Start=100><P Class=KRCC>가<SYNC Start=200><P Class=KRCC>가<SYNC Start=300>"
       "<P Class=KRCC>가<SYNC Start=400><P Class=KRCC>나<SYNC Start=500><P Class=KRCC>&nbsp;",
       "<SYNC Start=100><P Class=ENCC>w<SYNC Start=200><P Class=ENCC>x<SYNC Start=300>"
       "<P Class=ENCC>y<SYNC Start=400><P Class=ENCC>z<SYNC Start=500><P Class=ENCC>&nbsp;",
       "krcc encc ", "1\n00:00:00,100 --> 00:00:00,400\n가\n\n2\n00:00:00,400 --> 00:00:00,500\n나",
       "1\n00:00:00,100 --> 00:00:00,200\nw\n\n2\n00:00:00,200 --> 00:00:00,300\nx\n\n"
       "3\n00:00:00,300 --> 00:00:00,400\ny\n\n4\n00:00:00,400 --> 00:00:00,500\nz"},
      {"classes in any case, quoted or not; only <P>, <SYNC> and </BODY> end a paragraph",
       "<sync start=1><p class=\"krcc\">가<PRE>나<P\tCLASS = 'EnCc'>a<Sync Start=2>"
       "<P class=KRCC >다<p class=ENCC>b</Body><P class=KRCC>라",
       "<sync start=1><p class=\"krcc\">가<PRE>나<Sync Start=2><P class=KRCC >다</Body>"
       "<P class=KRCC>라",
       "<sync start=1><P\tCLASS = 'EnCc'>a<Sync Start=2><p class=ENCC>b</Body>", "krcc encc ",
       "1\n00:00:00,001 --> 00:00:00,002\n가나\n\n2\n00:00:00,002 --> 00:00:00,002\n다라",
       "1\n00:00:00,001 --> 00:00:00,002\na\n\n2\n00:00:00,002 --> 00:00:00,002\nb"},
  };
  CodePageDecoder& cp949 = CodePageDecoderFor("CP949");
  for (const SplitCase& c : cases) {
    for (Encoding encoding :
         {Encoding::Utf8Bom, Encoding::Utf8, Encoding::Utf16Le, Encoding::Cp949}) {
      SCOPED_TRACE(std::string(c.what) + ", encoding " +
                   std::to_string(static_cast<int>(encoding)));
      const std::string both = Encode(c.both, encoding);
      const std::vector<SamiLanguage> languages = FindLanguages(both, cp949);
      ASSERT_EQ(Suffixes(languages), c.names);
      const std::string* byHand[] = {&c.korean, &c.english};
      const char* expected[] = {c.koreanSrt, c.englishSrt};
      for (size_t i = 0; i < 2; ++i) {
        const std::string single = Encode(*byHand[i], encoding);
        EXPECT_EQ(KeepLanguage(both, cp949, languages[i].className), single);
        std::int32_t cues = -1;
        std::int32_t singleCues = -2;
        const std::string srt = ConvertLanguage(both, cp949, languages[i].className, &cues);
        EXPECT_EQ(srt, ConvertBytes(single, cp949, &singleCues));
        EXPECT_EQ(cues, singleCues);
        EXPECT_EQ(srt, Srt(expected[i]));
      }
    }
  }
}

// Not split: the page converts these as one file, as the program does.
TEST(LanguageSplit, FewerThanTwoClassesIsNotSplit) {
  const char* const inputs[] = {
      "",
      "<SYNC Start=1>a<SYNC Start=2>b",
      "<SYNC Start=1><P Class=KRCC>a<P>b<P class=krcc>c",
      "<SYNC Start=1><P Class=KRCC>a<P Class=>b<P Class=\"\">c<P Class>d",
      // Before the first sync tag nothing is a paragraph.
      "<BODY><P Class=ENCC>x<SYNC Start=1><P Class=KRCC>a",
      // "1 < 2<P Class=ENCC>" is one tag that runs to its '>', not a paragraph.
      "<SYNC Start=1><P Class=KRCC>1 < 2<P Class=ENCC>b<SYNC Start=2>",
  };
  for (const char* input : inputs) {
    SCOPED_TRACE(input);
    EXPECT_TRUE(FindLanguages(input, CodePageDecoderFor("CP1252")).empty());
    EXPECT_EQ(KeepLanguage(input, CodePageDecoderFor("CP1252"), u"KRCC"), input);
  }
}

TEST(LanguageSplit, OutputNames) {
  const std::string body = "<SYNC Start=1><P Class=KRCC>a<P Class=ENCC>b";
  struct Case {
    std::string sami;
    const char* names;
  };
  const Case cases[] = {
      {"<STYLE>P.KRCC { LANG : KO-kr } .ENCC {lang:fr_FR;lang:EN-GB}</STYLE>" + body, "ko en "},
      {"<STYLE>.KRCC {lang:ko-KR} .ENCC {lang:ko}</STYLE>" + body, "ko.krcc ko.encc "},
      {"<STYLE>.KRCC {lang:123} .ENCC {lang:englishes-x; Name:English}</STYLE>" + body,
       "krcc encc "},
      {"<STYLE>.KRCC {lang:ko-KR}</STYLE>" + body + "<P Class=ko>c", "ko encc ko.2 "},
      {"<SYNC Start=1><P Class=\"../X\">a<P Class='..\\x'>b", "___x ___x.2 "},
      {"<SYNC Start=1><P Class=A234567890123456789012345678901234567890>a<P Class=b>b",
       "a2345678901234567890123456789012 b "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sami);
    EXPECT_EQ(Suffixes(FindLanguages(c.sami, CodePageDecoderFor("CP1252"))), c.names);
  }
}

TEST(LanguageSplit, HostileMarkupHasADefinedOutcome) {
  CodePageDecoder& cp1252 = CodePageDecoderFor("CP1252");
  // Past kMaxLanguages classes a file is not split; up to it, it is.
  for (size_t classes : {kMaxLanguages, kMaxLanguages + 1, size_t{1000}}) {
    std::string sami = "<SYNC Start=1>";
    for (size_t i = 0; i < classes; ++i) sami += "<P Class=C" + std::to_string(i) + ">x";
    EXPECT_EQ(FindLanguages(sami, cp1252).size(), classes <= kMaxLanguages ? classes : 0);
    EXPECT_EQ(KeepLanguage(sami, cp1252, u"C0"), "<SYNC Start=1><P Class=C0>x");
  }
  // "Class=" with no value belongs to every language; an unclosed quote runs to
  // the '>'; a '<' with no '>' after it is text of the paragraph it stands in.
  const std::string sami = "<SYNC Start=1><P Class=>all<P Class=\"A>a<P Class=B>b<P Class=A x";
  EXPECT_EQ(Suffixes(FindLanguages(sami, cp1252)), "a b ");
  EXPECT_EQ(KeepLanguage(sami, cp1252, u"a"), "<SYNC Start=1><P Class=>all<P Class=\"A>a");
  EXPECT_EQ(KeepLanguage(sami, cp1252, u"B"),
            "<SYNC Start=1><P Class=>all<P Class=B>b<P Class=A x");
}

// Tags are found among characters, not bytes: a UTF-16 unit may hold the
// byte of '<', and CP949's second bytes include ASCII letters (never '<' or
// '>': they lie in 41-5A, 61-7A and 81-FE).
TEST(LanguageSplit, TagsAreFoundInTheFilesOwnCharacters) {
  // U+3C50 U+3E20 { CJK IDEOGRAPHS whose UTF-16LE bytes are 50 3C and 20 3E }
  const std::string utf16 =
      Utf16Le("<SYNC Start=1><P Class=A>\xE3\xB1\x90P Class=B\xE3\xB8\xA0<P Class=B>b");
  CodePageDecoder& cp949 = CodePageDecoderFor("CP949");
  EXPECT_EQ(KeepLanguage(utf16, cp949, u"A"),
            Utf16Le("<SYNC Start=1><P Class=A>\xE3\xB1\x90P Class=B\xE3\xB8\xA0"));
  // 81 50 and 81 73 are Hangul syllables; a lone first byte 81 before '<'
  // is a character of its own and leaves the '<' whole.
  const std::string cp949Bytes = "<SYNC Start=1><P Class=A>\x81P\x81s\x81<P Class=B>\x81Pb";
  EXPECT_EQ(KeepLanguage(cp949Bytes, cp949, u"A"), "<SYNC Start=1><P Class=A>\x81P\x81s\x81");
  EXPECT_EQ(KeepLanguage(cp949Bytes, cp949, u"B"), "<SYNC Start=1><P Class=B>\x81Pb");
}

// A CP949 file is not valid UTF-8 as a whole, but the English part alone can
// be: CA A1 is a hanja in CP949 and U+02A1 in UTF-8. It is still read in CP949.
TEST(LanguageSplit, KeepsTheWholeFilesReading) {
  CodePageDecoder& cp949 = CodePageDecoderFor("CP949");
  const std::string sami =
      "<SYNC Start=1><P Class=KRCC>\xC7\xD1<P Class=ENCC>\xCA\xA1<SYNC Start=2>&nbsp;";
  const std::string english = KeepLanguage(sami, cp949, u"ENCC");
  ASSERT_EQ(english, "<SYNC Start=1><P Class=ENCC>\xCA\xA1<SYNC Start=2>&nbsp;");
  const DecodedChar hanja =
      DecodeCodePage(cp949, reinterpret_cast<const unsigned char*>("\xCA\xA1"), 2);
  std::string expected = Srt("1\n00:00:00,001 --> 00:00:00,002\n");
  expected += static_cast<char>(hanja.codePoint & 0xFF);
  expected += static_cast<char>(hanja.codePoint >> 8);
  EXPECT_EQ(ConvertLanguage(sami, cp949, u"ENCC"), expected);
  EXPECT_NE(ConvertBytes(english, cp949), expected);
}

// Realistic bilingual files, written for these tests, with their outputs
// checked by eye once: tests/data/languages/NAME.smi splits into NAME.SUFFIX.srt.
TEST(LanguageSplit, GoldenFiles) {
  const fs::path folder = fs::path(LUMENTRACE_TEST_DATA) / "languages";
  struct Golden {
    const char* name;
    const char* suffixes;
  };
  const Golden goldens[] = {
      {"drama_cp949", "ko en "},                    // CP949, CR LF, a repeat in one language
      {"lecture_utf8", "ko en.enuscc en.engbcc "},  // UTF-8 with BOM, two kinds of English
  };
  size_t outputs = 0;
  for (const Golden& golden : goldens) {
    SCOPED_TRACE(golden.name);
    const std::string sami = ReadFile(folder / (std::string(golden.name) + ".smi"));
    const std::vector<SamiLanguage> languages = FindLanguages(sami, CodePageDecoderFor("CP949"));
    EXPECT_EQ(Suffixes(languages), golden.suffixes);
    for (const SamiLanguage& language : languages) {
      const fs::path srt = folder / (std::string(golden.name) + "." + language.suffix + ".srt");
      EXPECT_EQ(ConvertLanguage(sami, CodePageDecoderFor("CP949"), language.className),
                ReadFile(srt))
          << srt;
      ++outputs;
    }
  }
  size_t files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".srt") ++files;
  }
  EXPECT_EQ(files, outputs) << "every output in the folder is checked";
}

}  // namespace
