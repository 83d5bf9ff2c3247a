// End-to-end runs of the built program on inputs no subtitle tool meant to
// write: random bytes, files cut off anywhere, absurd sync values, huge and
// degenerate files, odd characters, and files and folders that refuse to be
// read or written. Each has one defined outcome: the exact console text and
// exit status, and the exact output wherever it is cheap to work out by hand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_entry.h"
#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/utf16_bytes.h"

namespace {

// An SRT file as the program writes it: byte-order mark, LF as CR LF.
std::string Srt(const std::u16string& text) {
  std::u16string crlf;
  for (char16_t unit : text) {
    if (unit == u'\n') crlf += u'\r';
    crlf += unit;
  }
  return "\xFF\xFE" + Utf16Bytes(crlf);
}

struct Cue {
  std::u16string times;
  std::u16string caption;
};

std::string SrtOf(const std::vector<Cue>& cues) {
  std::u16string text;
  int number = 1;
  for (const Cue& cue : cues) {
    if (number > 1) text += u"\n\n";
    for (char c : std::to_string(number++)) text += static_cast<char16_t>(c);
    text += u"\n" + cue.times + u"\n" + cue.caption;
  }
  return Srt(text);
}

// Each byte as one unit (Latin-1).
std::u16string Widen(const std::string& bytes) {
  std::u16string units;
  for (char c : bytes) units += static_cast<char16_t>(static_cast<unsigned char>(c));
  return units;
}

struct Outcome {
  RunResult run;
  std::string srt;
  std::vector<std::string> files;  // what the folder holds afterwards
};

// Converts the bytes as "in.smi" in a fresh folder.
Outcome Convert(const std::string& bytes, const std::vector<std::string>& env = {},
                int timeoutSeconds = 60) {
  TempDir dir;
  Outcome outcome;
  if (!WriteFile(dir / "in.smi", bytes)) {
    ADD_FAILURE() << "cannot write the input";
    return outcome;
  }
  RunOptions options;
  options.timeoutSeconds = timeoutSeconds;
  outcome.run = RunLumentrace({"in.smi"}, dir.path(), env, options);
  outcome.srt = ReadFile(dir / "in.srt");
  outcome.files = ListDir(dir.path());
  return outcome;
}

// The run converted the file and printed only the banner and its success line.
void ExpectConverted(const Outcome& outcome) {
  EXPECT_FALSE(outcome.run.timedOut);
  EXPECT_EQ(outcome.run.signal, 0);
  EXPECT_EQ(outcome.run.status, 0);
  EXPECT_EQ(outcome.run.out, BannerText() + SuccessLine("in.smi"));
  EXPECT_EQ(outcome.run.err, "");
  EXPECT_EQ(outcome.files, (std::vector<std::string>{"in.smi", "in.srt"}));
}

struct ExactCase {
  const char* label;
  std::string input;
  std::string srt;
  std::vector<std::string> env;
};

void RunExactCases(const std::vector<ExactCase>& cases) {
  for (const ExactCase& c : cases) {
    SCOPED_TRACE(c.label);
    const Outcome outcome = Convert(c.input, c.env);
    ExpectConverted(outcome);
    EXPECT_EQ(outcome.srt, c.srt);
  }
}

const std::string kBom16 = "\xFF\xFE";
const std::string kBom8 = "\xEF\xBB\xBF";
const std::u16string k100to100 = u"00:00:00,100 --> 00:00:00,100";
const std::u16string k100to200 = u"00:00:00,100 --> 00:00:00,200";
const std::u16string k200to200 = u"00:00:00,200 --> 00:00:00,200";
const std::u16string k200to300 = u"00:00:00,200 --> 00:00:00,300";

TEST(HostileInput, RandomBytesConvertExactlyAsTheLibraryDoes) {
  // Compared with this process's own conversion, which uses glibc's case
  // mapping, white space and code page tables: the Windows runtime's differ
  // for letters beyond ASCII that reach a caption through a tag, and for a
  // few code page bytes.
  SKIP_FOR_WINDOWS_PROGRAM("compared with glibc's character tables");
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> byte(0, 255);
  // Plain random bytes rarely form a sync tag; mixing in SAMI tokens makes
  // blocks, entities and tags common.
  const std::vector<std::string> tokens = {
      "<SYNC Start=", "<sync start=", "<br>", "&nbsp;",  "&n", ">", "<",
      "\r\n",         "<P>",          "123",  "\xFF\xFF"};
  for (const std::string& lead : {kBom16, kBom8, std::string("<")}) {
    std::string bytes = lead;
    while (bytes.size() < 200000) {
      const bool wide = lead == kBom16;  // tokens in UTF-16, random bytes in pairs
      if (byte(random) < 32) {
        const std::string& token = tokens[static_cast<size_t>(byte(random)) % tokens.size()];
        bytes += wide ? Utf16Bytes(Widen(token)) : token;
      } else {
        const int low = byte(random);
        // Half the units below U+0100, so that '>' closes tags now and then;
        // no U+FFFF, which would end the conversion (tested on its own below).
        const int high = !wide || byte(random) < 128 ? 0 : byte(random);
        bytes += static_cast<char>(low == 0xFF && high == 0xFF ? 0xFE : low);
        if (wide) bytes += static_cast<char>(high);
      }
    }
    SCOPED_TRACE("first byte " + std::to_string(static_cast<unsigned char>(lead[0])));
    const Outcome outcome = Convert(bytes);
    ExpectConverted(outcome);
    const StreamMode mode = lead == kBom16  ? StreamMode::Utf16Binary
                            : lead == kBom8 ? StreamMode::Utf8Text
                                            : StreamMode::AnsiText;
    const fuzzing::Conversion inProcess = fuzzing::ConvertInMode(bytes, mode, "CP1252");
    EXPECT_EQ(inProcess.failure, "");
    EXPECT_EQ(outcome.srt, inProcess.srt);
    EXPECT_GT(outcome.srt.size(), 1000u) << "the tokens made cues";
  }
}

TEST(HostileInput, RandomBytesWithoutATagGiveOnlyTheByteOrderMark) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const std::string& lead : {kBom16, kBom8, std::string("x")}) {
    std::string bytes = lead;
    while (bytes.size() < 100000) {
      const auto b = static_cast<char>(byte(random));
      if (b != '<') bytes += b;
    }
    const Outcome outcome = Convert(bytes);
    ExpectConverted(outcome);
    EXPECT_EQ(outcome.srt, kBom16);
  }
}

TEST(HostileInput, FilesCutOffAnywhere) {
  const std::string twoBlocks = "<SYNC Start=100>A<SYNC Start=200>B";
  // U+1F600 GRINNING FACE, U+D55C HANGUL SYLLABLE HAN.
  const std::u16string grin = u"\U0001F600";
  RunExactCases({
      // A tag cut off by the end is dropped; the block before it is the last one.
      {"inside a tag after blocks",
       twoBlocks + "<SYNC Sta",
       SrtOf({{k100to200, u"A"}, {k200to200, u"B"}}),
       {}},
      {"inside a caption's tag",
       twoBlocks + "<i",
       SrtOf({{k100to200, u"A"}, {k200to200, u"B"}}),
       {}},
      {"inside the header", "<SAMI><HEAD><TITLE", kBom16, {}},
      {"inside the first sync tag", "<SAMI><BODY><SYNC Start=1", kBom16, {}},
      // An "&n" with no ';' after it is ordinary text.
      {"inside an entity",
       "<SYNC Start=100>Tom &nbsp Jerry<SYNC Start=200>x &nb",
       SrtOf({{k100to200, u"Tom &nbsp Jerry"}, {k200to200, u"x &nb"}}),
       {}},
      {"inside a surrogate pair",
       kBom16 + Utf16Bytes(u"<SYNC Start=100>A" + grin.substr(0, 1)),
       SrtOf({{k100to100, u"A" + grin.substr(0, 1)}}),
       {}},
      {"inside a 4-byte UTF-8 character",
       kBom8 + "<SYNC Start=100>A\xF0\x9F\x98",
       SrtOf({{k100to100, u"A\uFFFD"}}),
       {}},
      {"inside a 3-byte UTF-8 character",
       kBom8 + "<SYNC Start=100>A\xED\x95",
       SrtOf({{k100to100, u"A\uFFFD"}}),
       {}},
      // Without a byte-order mark, cut UTF-8 is no longer valid UTF-8: it reads
      // in the code page (CP1252 here: LATIN SMALL LETTER I WITH ACUTE, BULLET).
      {"inside UTF-8 without a byte-order mark",
       "<SYNC Start=100>A\xED\x95",
       SrtOf({{k100to100, u"A\u00ED\u2022"}}),
       {}},
      // CP949: the first byte of U+D55C alone (0xC7 0xD1 in full).
      {"inside a CP949 character",
       "<SYNC Start=100>A\xC7",
       SrtOf({{k100to100, u"A\uFFFD"}}),
       {"LANG=ko_KR.UTF-8"}},
      {"inside a CP949 character, complete",
       "<SYNC Start=100>A\xC7\xD1",
       SrtOf({{k100to100, u"A\uD55C"}}),
       {"LANG=ko_KR.UTF-8"}},
      // A lone last byte in UTF-16 reads as the end.
      {"odd-length UTF-16",
       kBom16 + Utf16Bytes(u"<SYNC Start=100>AB") + "C",
       SrtOf({{k100to100, u"AB"}}),
       {}},
      {"UTF-16 byte-order mark only", kBom16, kBom16, {}},
      {"UTF-8 byte-order mark only", kBom8, kBom16, {}},
      {"half a byte-order mark", "\xFF", kBom16, {}},
      {"big-endian byte-order mark only", "\xFE\xFF", kBom16, {}},
  });
}

TEST(HostileInput, SyncValuesThatHardlyScan) {
  struct Value {
    const char* text;
    const char16_t* asStart;  // the block's start time
    const char16_t* asEnd;    // the end time of the block it closes (start 1000)
  };
  // 2^31 - 1 ms is 596 hours, 31 minutes, 23.647 seconds; negative times
  // write as zero; a value that does not scan starts at 0 and, closing a
  // block, leaves that block's end at its start.
  const Value values[] = {
      {"123456789012345678901234567890", u"596:31:23,647", u"596:31:23,647"},
      {"-123456789012345678901234567890", u"00:00:00,000", u"00:00:00,000"},
      {"2147483648", u"596:31:23,647", u"596:31:23,647"},
      {"+1500", u"00:00:01,500", u"00:00:01,500"},
      {"-1500", u"00:00:00,000", u"00:00:00,000"},
      {"\"2500\"", u"00:00:02,500", u"00:00:02,500"},
      {"'2500'", u"00:00:02,500", u"00:00:02,500"},
      {"   3000", u"00:00:03,000", u"00:00:03,000"},
      {"1e3", u"00:00:00,001", u"00:00:00,001"},
      {"", u"00:00:00,000", u"00:00:01,000"},
      {"abc", u"00:00:00,000", u"00:00:01,000"},
      {"\" 100\"", u"00:00:00,000", u"00:00:01,000"},
      {"--5", u"00:00:00,000", u"00:00:01,000"},
  };
  std::vector<ExactCase> cases;
  for (const Value& v : values) {
    const std::string value = v.text;
    cases.push_back(
        {v.text,
         "<SAMI><BODY><SYNC Start=1000>a<SYNC Start=" + value + ">b<SYNC Start=9000>&nbsp;",
         SrtOf({{u"00:00:01,000 --> " + std::u16string(v.asEnd), u"a"},
                {std::u16string(v.asStart) + u" --> 00:00:09,000", u"b"}}),
         {}});
  }
  // Not sync tags at all: their text belongs to the block before them.
  for (const char* tag : {"<SYNC  Start=200>", "<SYNC Start =200>", "<SYNC\nStart=200>"}) {
    cases.push_back({tag,
                     std::string("<SYNC Start=100>a") + tag + "b<SYNC Start=300>&nbsp;",
                     SrtOf({{u"00:00:00,100 --> 00:00:00,300", u"ab"}}),
                     {}});
  }
  RunExactCases(cases);
}

TEST(HostileInput, OddCharacters) {
  const std::u16string highAlone = u"a" + std::u16string(1, 0xD800) + u"b";
  const std::u16string lowAlone = std::u16string(1, 0xDC00) + u"c";
  const std::string nul("a\0b", 3);
  RunExactCases({
      // Lone surrogates in UTF-16 pass through as they are.
      {"lone surrogates in UTF-16",
       kBom16 + Utf16Bytes(u"<SYNC Start=100>" + highAlone + lowAlone + u"<SYNC Start=200>&nbsp;"),
       SrtOf({{k100to200, highAlone + lowAlone}}),
       {}},
      // An encoded surrogate is not UTF-8: one U+FFFD per maximal invalid part.
      {"encoded surrogate in UTF-8",
       kBom8 + "<SYNC Start=100>a\xED\xA0\x80"
               "b",
       SrtOf({{k100to100, u"a\uFFFD\uFFFD\uFFFDb"}}),
       {}},
      // U+FFFF ends the read like the end of input, and reading goes on after
      // it: the block ends at it and what follows before the next sync tag is lost.
      {"U+FFFF in UTF-16",
       kBom16 + Utf16Bytes(u"<SYNC Start=100>ab\uFFFFcd<SYNC Start=200>ef<SYNC Start=300>&nbsp;"),
       SrtOf({{k100to100, u"ab"}, {k200to300, u"ef"}}),
       {}},
      {"U+FFFF in UTF-8",
       kBom8 + "<SYNC Start=100>ab\xEF\xBF\xBF"
               "cd<SYNC Start=200>ef<SYNC Start=300>&nbsp;",
       SrtOf({{k100to100, u"ab"}, {k200to300, u"ef"}}),
       {}},
      // Where the next read meets it before any sync tag, that read finds no
      // block, as at the end of the input: the empty lookahead's one-unit move
      // lands past the next tag's '<', and that block is not seen.
      {"U+FFFF after a block's last tag",
       kBom16 + Utf16Bytes(u"<SYNC Start=100>ab</p>\uFFFF<SYNC Start=200>cd<SYNC Start=300>ef"),
       SrtOf({{k100to100, u"ab"}, {u"00:00:00,300 --> 00:00:00,300", u"ef"}}),
       {}},
      {"NUL in ANSI text",
       "<SYNC Start=100>" + nul + "<SYNC Start=200>&nbsp;",
       SrtOf({{k100to200, std::u16string(u"a\0b", 3)}}),
       {}},
      {"NUL in UTF-16",
       kBom16 + Utf16Bytes(u"<SYNC Start=100>" + std::u16string(u"a\0b", 3)),
       SrtOf({{k100to100, std::u16string(u"a\0b", 3)}}),
       {}},
      // Lone CRs are line breaks of the source: dropped, the words join.
      {"CR-only line ends",
       "<SAMI>\r<BODY>\r<SYNC Start=100><P>Hello\rWorld\r<SYNC Start=200><P>&nbsp;\r</BODY>\r"
       "</SAMI>\r",
       SrtOf({{k100to200, u"HelloWorld"}}),
       {}},
      {"CR-only line ends in UTF-16",
       kBom16 + Utf16Bytes(u"<SYNC Start=100>Hello\rWorld\r<SYNC Start=200>&nbsp;\r"),
       SrtOf({{k100to200, u"HelloWorld"}}),
       {}},
  });
}

TEST(HostileInput, TagsThousandsOfCharactersLong) {
  const std::string longClass = "<P Class=\"" + std::string(5000, 'k') + "\">";
  std::string longSync = "<SYNC Start=200";
  for (int i = 0; i < 2000; ++i) longSync += " x=1";
  longSync += ">";
  const std::string longComment = "<!--" + std::string(20000, '-') + " <p> -->";
  const std::string longBreak = "<br" + std::string(3000, ' ') + "/>";
  RunExactCases({
      {"long tags in blocks",
       "<SAMI>" + longComment + "<BODY><SYNC Start=100>" + longClass + "Hi" + longSync + "there" +
           longBreak + "again<SYNC Start=300>&nbsp;</BODY></SAMI>",
       SrtOf({{k100to200, u"Hi"}, {k200to300, u"thereagain"}}),
       {}},
      // A repeat ended by a block whose sync tag is long: each caption once.
      {"long tag ending a merged run",
       "<SYNC Start=100>A<SYNC Start=200>A<SYNC Start=300 End=" + std::string(4000, '9') +
           ">B<SYNC Start=400>&nbsp;",
       SrtOf({{u"00:00:00,100 --> 00:00:00,300", u"A"}, {u"00:00:00,300 --> 00:00:00,400", u"B"}}),
       {}},
      // A '<' in the caption runs to the next '>', swallowing the sync tag.
      {"a tag thousands of characters long swallows a sync tag",
       "<SYNC Start=100>a<" + std::string(5000, 'z') + "<SYNC Start=200>b<SYNC Start=300>c",
       SrtOf({{u"00:00:00,100 --> 00:00:00,300", u"ab"}, {u"00:00:00,300 --> 00:00:00,300", u"c"}}),
       {}},
  });
}

// Many blocks, every one distinct: each pass writes two cues.
TEST(HostileInputLarge, ThreeHundredThousandBlocks) {
  constexpr int kBlocks = 300000;
  std::string smi = "<SAMI><BODY>\r\n";
  std::vector<Cue> cues;
  const auto time = [](int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60,
                  ms / 1000 % 60, ms % 1000);
    return Widen(text);
  };
  for (int i = 0; i < kBlocks; ++i) {
    smi += "<SYNC Start=" + std::to_string(i * 10) + "><P>c" + std::to_string(i) + "\r\n";
    const int end = i + 1 < kBlocks ? (i + 1) * 10 : i * 10;
    cues.push_back({time(i * 10) + u" --> " + time(end), u"c" + Widen(std::to_string(i))});
  }
  smi += "</BODY></SAMI>\r\n";
  const Outcome outcome = Convert(smi, {}, 300);
  ExpectConverted(outcome);
  EXPECT_TRUE(outcome.srt == SrtOf(cues)) << "sizes " << outcome.srt.size();
}

TEST(HostileInputLarge, TenThousandIdenticalCaptionsMergeIntoOneCue) {
  std::string smi = "<SAMI><BODY>\r\n";
  for (int i = 1; i <= 10000; ++i) {
    smi += "<SYNC Start=" + std::to_string(i * 100) + "><P Class=KRCC><b>same</b><br>\r\n";
  }
  smi += "<SYNC Start=1000100><P>&nbsp;\r\n</BODY></SAMI>\r\n";
  const Outcome outcome = Convert(smi, {}, 300);
  ExpectConverted(outcome);
  // 1,000,100 ms is 16 minutes 40.1 seconds.
  EXPECT_EQ(outcome.srt, SrtOf({{u"00:00:00,100 --> 00:16:40,100", u"same"}}));
}

// One block of 50 MB, heavy with tags and entities; and a caption of a
// million "&n" with no ';', which a scan for the ';' at each one would make
// quadratic. Both must finish in a few seconds.
TEST(HostileInputLarge, FiftyMegabyteBlockAndAMillionUnterminatedEntities) {
  const std::string unit = "word &amp; <i>it</i> ";
  const size_t repeats = 50 * 1000 * 1000 / unit.size();
  std::string smi = "<SYNC Start=1000><P>";
  smi.reserve(repeats * unit.size() + 100);
  for (size_t i = 0; i < repeats; ++i) smi += unit;
  smi += "<SYNC Start=2000>&nbsp;";
  std::u16string caption;
  caption.reserve(repeats * 14);
  for (size_t i = 0; i < repeats; ++i) caption += u"word &amp; it ";
  caption.pop_back();  // trimmed
  {
    const Outcome outcome = Convert(smi, {}, 300);
    ExpectConverted(outcome);
    EXPECT_TRUE(outcome.srt == SrtOf({{u"00:00:01,000 --> 00:00:02,000", caption}}))
        << "sizes " << outcome.srt.size();
  }
  std::string entities;
  for (int i = 0; i < 1000000; ++i) entities += "&n";
  const Outcome outcome = Convert("<SYNC Start=1000>" + entities, {}, 300);
  ExpectConverted(outcome);
  EXPECT_TRUE(outcome.srt == SrtOf({{u"00:00:01,000 --> 00:00:01,000", Widen(entities)}}));
}

// ---- Files and folders that refuse ----

const std::string kSmallSmi = "<SYNC Start=100>Hello<SYNC Start=200>&nbsp;";
const std::string kSmallSrt = SrtOf({{k100to200, u"Hello"}});

constexpr uid_t kNobody = 65534;

// Runs the program as an ordinary user even when the tests run as root, where
// permissions would not stop it.
RunResult RunAsOrdinaryUser(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv;
  if (geteuid() == 0) {
    argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kNobody),
            "--regid=" + std::to_string(kNobody), "--clear-groups", LUMENTRACE_BINARY};
  } else {
    argv = {LUMENTRACE_BINARY};
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, cwd, {});
}

bool CanRunAsOrdinaryUser() {
  return geteuid() != 0 || access("/usr/bin/setpriv", X_OK) == 0;
}

TEST(HostileFailure, UnreadableInputStopsTheRunEvenForRoot) {
  SKIP_FOR_WINDOWS_PROGRAM("switching to another user");
  if (!CanRunAsOrdinaryUser()) GTEST_SKIP() << "no setpriv to leave root with";
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // the ordinary user may enter
  ASSERT_TRUE(WriteFile(dir / "locked.smi", kSmallSmi));
  ASSERT_TRUE(WriteFile(dir / "good.smi", kSmallSmi));
  ASSERT_EQ(chmod((dir / "locked.smi").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir / "good.smi").c_str(), 0644), 0);
  const RunResult run = RunAsOrdinaryUser({"locked.smi", "good.smi"}, dir.path());
  EXPECT_EQ(run.out, BannerText() + kOpenError);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"good.smi", "locked.smi"}));
}

TEST(HostileFailure, UnwritableFolderFailsWithoutAMessageEvenForRoot) {
  SKIP_FOR_WINDOWS_PROGRAM("switching to another user");
  if (!CanRunAsOrdinaryUser()) GTEST_SKIP() << "no setpriv to leave root with";
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "ro").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "ro/film.smi", kSmallSmi));
  ASSERT_EQ(chmod((dir / "ro/film.smi").c_str(), 0644), 0);
  ASSERT_EQ(chmod((dir / "ro").c_str(), 0555), 0);
  const RunResult run = RunAsOrdinaryUser({"ro/film.smi"}, dir.path());
  chmod((dir / "ro").c_str(), 0755);
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(ListDir(dir / "ro"), std::vector<std::string>{"film.smi"});
}

// Where the .srt is a link into a folder that is really a file, or that does
// not exist, no one can create it, root included.
TEST(HostileFailure, OutputWhoseFolderCannotHoldItFailsWithoutAMessage) {
  SKIP_FOR_WINDOWS_PROGRAM("dangling symbolic links");
  for (const char* target : {"plain-file/film.srt", "no-such-folder/film.srt"}) {
    SCOPED_TRACE(target);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.smi", kSmallSmi));
    ASSERT_TRUE(WriteFile(dir / "plain-file", "not a folder"));
    ASSERT_EQ(symlink(target, (dir / "film.srt").c_str()), 0);
    ASSERT_TRUE(WriteFile(dir / "next.smi", kSmallSmi));
    const RunResult run = RunLumentrace({"film.smi", "next.smi"}, dir.path());
    EXPECT_EQ(run.out, BannerText());
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"film.smi", "film.srt", "next.smi", "plain-file"}));
    EXPECT_EQ(ReadFile(dir / "plain-file"), "not a folder");
  }
}

// The output is written in large pieces; a limit met after some of them have
// reached the disk must still leave the earlier .srt whole and nothing else.
TEST(HostileFailure, WriteFailingPartWayLeavesTheEarlierSrt) {
  std::string smi;
  for (int i = 0; i < 20000; ++i) {
    smi += "<SYNC Start=" + std::to_string(i * 100) + "><P>caption number " + std::to_string(i) +
           "\r\n";
  }
  // Limits inside the first, the second and a later piece (the first one
  // is over 64 KiB); valgrind, when it runs the program, needs a few hundred
  // bytes of its own, so no limit is smaller than that.
  for (long long limit : {1024LL, 100000LL, 300000LL}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.smi", smi));
    const std::string earlier = "an earlier conversion";
    ASSERT_TRUE(WriteFile(dir / "film.srt", earlier));
    RunOptions options;
    options.fileSizeLimit = limit;
    const RunResult run = RunLumentrace({"film.smi"}, dir.path(), {}, options);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.out, BannerText() + kWriteError);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(ReadFile(dir / "film.srt"), earlier);
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"film.smi", "film.srt"}));
  }
}

}  // namespace
