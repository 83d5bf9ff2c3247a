// End-to-end runs of the built program: the banner, which arguments are
// converted, the console lines and the exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/test_text.h"

namespace {

const std::string kOneCueSmi =
    "<SAMI>\r\n<BODY>\r\n<SYNC Start=100><P>Hello<br>World\r\n<SYNC Start=200><P>&nbsp;\r\n"
    "</BODY>\r\n</SAMI>\r\n";
const std::string kOneCueSrt = SrtBytes("1\n00:00:00,100 --> 00:00:00,200\nHello\nWorld");

TEST(EndToEndBanner, ElevenRowsOfFiftyTwoCharactersBeforeAnythingElse) {
  TempDir dir;
  const RunResult run = RunLumentrace({"notes.txt"}, dir.path());
  const std::string border(52, '*');
  const std::string blank = "*" + std::string(50, ' ') + "*";
  const std::vector<std::string> fixedRows = {
      border, blank, "*         Lumentrace converter by Orvando          *", blank,
      border, blank, "* Support document encode: ANSI, UNICODE, UTF-8    *",
  };
  std::vector<std::string> rows;
  size_t start = 0;
  for (size_t lf = run.out.find('\n'); lf != std::string::npos; lf = run.out.find('\n', start)) {
    rows.push_back(run.out.substr(start, lf - start));
    start = lf + 1;
  }
  EXPECT_EQ(start, run.out.size()) << "output ends with a line break";
  ASSERT_EQ(rows.size(), 11u) << run.out;
  for (size_t i = 0; i < fixedRows.size(); ++i) EXPECT_EQ(rows[i], fixedRows[i]) << "row " << i + 1;
  EXPECT_EQ(rows[9], blank);
  EXPECT_EQ(rows[10], border);
  // Rows 8 and 9 hold the project's addresses: label, then padding to the frame.
  const std::pair<size_t, std::string> labelled[] = {{7, "* WebSite: "}, {8, "* Contact/Feed: "}};
  for (const auto& [row, label] : labelled) {
    EXPECT_EQ(rows[row].size(), 52u);
    EXPECT_EQ(rows[row].rfind(label, 0), 0u) << rows[row];
    EXPECT_EQ(rows[row].back(), '*');
    EXPECT_NE(rows[row][label.size()], ' ') << "an address follows the label";
    EXPECT_NE(rows[row].find(".example."), std::string::npos) << rows[row];
  }
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

TEST(EndToEndArguments, PassesOverPathsThatAreNotSamiFiles) {
  TempDir dir;
  // Files with these names hold a valid SAMI text, so only the name decides.
  const std::vector<std::string> names = {"notes.txt", "film.sami", "film.smi.bak",
                                          "smi",       "film.smix", "folder.smi/inner"};
  ASSERT_EQ(mkdir((dir / "folder.smi").c_str(), 0755), 0);
  for (const std::string& name : names) ASSERT_TRUE(WriteFile(dir / name, kOneCueSmi));
  const std::vector<std::string> before = ListDir(dir.path());
  const RunResult run = RunLumentrace(names, dir.path());
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ListDir(dir.path()), before);
  EXPECT_EQ(ListDir(dir / "folder.smi"), std::vector<std::string>{"inner"});
}

TEST(EndToEndArguments, ConvertsInOrderWithTheFileNameInEachSuccessLine) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  // The extension test folds ASCII case; ".smi" alone is a SAMI file named ".srt".
  const std::vector<std::pair<std::string, std::string>> files = {
      {"notes.txt", ""},          {"sub/UPPER.SMI", "sub/UPPER.srt"},
      {"Mixed.Smi", "Mixed.srt"}, {"a.b.smi", "a.b.srt"},
      {".smi", ".srt"},
  };
  std::vector<std::string> args;
  std::string expected = BannerText();
  for (const auto& [input, output] : files) {
    ASSERT_TRUE(WriteFile(dir / input, kOneCueSmi));
    args.push_back(input);
    if (!output.empty()) expected += SuccessLine(input.substr(input.rfind('/') + 1));
  }
  const RunResult run = RunLumentrace(args, dir.path());
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.status, 0);
  for (const auto& [input, output] : files) {
    if (!output.empty()) {
      EXPECT_EQ(ReadFile(dir / output), kOneCueSrt) << output;
    }
  }
  EXPECT_EQ(ListDir(dir.path()),
            (std::vector<std::string>{".smi", ".srt", "Mixed.Smi", "Mixed.srt", "a.b.smi",
                                      "a.b.srt", "notes.txt", "sub"}));
  EXPECT_EQ(ListDir(dir / "sub"), (std::vector<std::string>{"UPPER.SMI", "UPPER.srt"}));
}

TEST(EndToEndArguments, AbsolutePathsConvertBesideTheInput) {
  TempDir dir;
  TempDir elsewhere;
  ASSERT_TRUE(WriteFile(dir / "film.smi", kOneCueSmi));
  const RunResult run = RunLumentrace({dir / "film.smi"}, elsewhere.path());
  EXPECT_EQ(run.out, BannerText() + SuccessLine("film.smi"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / "film.srt"), kOneCueSrt);
  EXPECT_TRUE(ListDir(elsewhere.path()).empty());
}

TEST(EndToEndArguments, StopsAtTheFirstFileThatCannotBeOpened) {
  struct Case {
    const char* label;
    void (*make)(const std::string& path);
  };
  const Case cases[] = {
      {"missing file", [](const std::string&) {}},
      {"directory", [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); }},
      // Opening a FIFO for reading would wait for a writer for ever.
      {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }},
      {"dangling symbolic link",
       [](const std::string& path) { ASSERT_EQ(symlink("nowhere.smi", path.c_str()), 0); }},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  // Root reads every file whatever its permissions.
  if (geteuid() != 0) {
    all.push_back({"unreadable file", [](const std::string& path) {
                     ASSERT_TRUE(WriteFile(path, kOneCueSmi));
                     ASSERT_EQ(chmod(path.c_str(), 0), 0);
                   }});
  }
  for (const Case& c : all) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "first.smi", kOneCueSmi));
    ASSERT_TRUE(WriteFile(dir / "good.smi", kOneCueSmi));
    c.make(dir / "x.smi");
    RunOptions options;
    options.timeoutSeconds = 10;
    const RunResult run =
        RunLumentrace({"skip.txt", "first.smi", "x.smi", "good.smi"}, dir.path(), {}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.out, BannerText() + SuccessLine("first.smi") + kOpenError);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(ReadFile(dir / "first.srt"), kOneCueSrt);
    EXPECT_FALSE(FileExists(dir / "good.srt")) << "files after the failure are not looked at";
    EXPECT_FALSE(FileExists(dir / "x.srt"));
  }
}

TEST(EndToEndArguments, EmptyFileGivesOnlyTheByteOrderMark) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "empty.smi", ""));
  const RunResult run = RunLumentrace({"empty.smi"}, dir.path());
  EXPECT_EQ(run.out, BannerText() + SuccessLine("empty.smi"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / "empty.srt"), "\xFF\xFE");
}

TEST(EndToEndArguments, FileNamesOutsideAsciiConvertAndPrintAsTheirBytes) {
  TempDir dir;
  // U+C790 U+B9C9 { HANGUL SYLLABLE JA, HANGUL SYLLABLE MAG }, and a name that
  // is not valid UTF-8 at all.
  const std::string hangul = "\xEC\x9E\x90\xEB\xA7\x89";
  const std::string bad = "bad\xFF\xFEname";
  std::vector<std::string> names = {hangul + ".smi", bad + ".smi"};
  // Windows names are UTF-16, never raw bytes; a name outside the ANSI code
  // page (CP1252 here) opens all the same and prints with '?' for what the
  // code page cannot show.
  if (TestingWindowsProgram()) names.pop_back();
  std::string expected = BannerText();
  for (const std::string& name : names) {
    ASSERT_TRUE(WriteFile(dir / name, kOneCueSmi));
    expected += SuccessLine(TestingWindowsProgram() && name == hangul + ".smi" ? "??.smi" : name);
  }
  const RunResult run = RunLumentrace(names, dir.path(), {"LANG=C.UTF-8"});
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / (hangul + ".srt")), kOneCueSrt);
  if (!TestingWindowsProgram()) {
    EXPECT_EQ(ReadFile(dir / (bad + ".srt")), kOneCueSrt);
  }
}

// Windows only: what the Windows build refuses where the POSIX one has no
// such case.
TEST(EndToEndWindows, FileHeldOpenWithoutSharingAndReadOnlySrt) {
  if (!TestingWindowsProgram()) GTEST_SKIP() << "Windows only";
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "held.smi", kOneCueSmi));
  ASSERT_TRUE(WriteFile(dir / "next.smi", kOneCueSmi));
  // Another program has the file open without sharing (still writing it,
  // say): the probe cannot open it.
  const std::string holder =
      std::string(LUMENTRACE_BINARY).substr(0, std::string(LUMENTRACE_BINARY).rfind('/')) +
      "/lumentrace_hold_file.exe";
  const std::string command =
      LumentraceCommand()[0] + " \"" + holder + "\" \"" + (dir / "held.smi") + "\" 4000";
  FILE* held = popen(command.c_str(), "r");
  ASSERT_NE(held, nullptr);
  char line[16] = {};
  ASSERT_NE(std::fgets(line, sizeof line, held), nullptr);
  EXPECT_STREQ(line, "held\r\n");  // a Windows program's text-mode line
  RunResult run = RunLumentrace({"held.smi", "next.smi"}, dir.path());
  pclose(held);
  EXPECT_EQ(run.out, BannerText() + kOpenError);
  EXPECT_EQ(run.status, 255);
  EXPECT_FALSE(FileExists(dir / "next.srt"));
  // A read-only .srt cannot be opened for writing: no message, nothing replaced.
  ASSERT_TRUE(WriteFile(dir / "next.srt", "kept"));
  ASSERT_EQ(chmod((dir / "next.srt").c_str(), 0444), 0);
  run = RunLumentrace({"next.smi"}, dir.path());
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(ReadFile(dir / "next.srt"), "kept");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"held.smi", "next.smi", "next.srt"}));
}

}  // namespace
