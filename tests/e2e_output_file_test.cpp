// End-to-end: how the .srt file is written, replaced, and left alone when
// writing it fails.
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

// Fifty cues, 100 ms apart, each followed by a clearing block.
std::string ManyCuesSmi() {
  std::string smi = "<SAMI><BODY>\r\n";
  for (int i = 1; i <= 50; ++i) {
    smi += "<SYNC Start=" + std::to_string(i * 100) + ">caption number " + std::to_string(i) +
           "\r\n<SYNC Start=" + std::to_string(i * 100 + 50) + ">&nbsp;\r\n";
  }
  return smi + "</BODY></SAMI>\r\n";
}

std::string TimeOf(int ms) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return buffer;
}

std::string ManyCuesSrt() {
  std::string text;
  for (int i = 1; i <= 50; ++i) {
    text += (i == 1 ? "" : "\n\n") + std::to_string(i) + "\n" + TimeOf(i * 100) + " --> " +
            TimeOf(i * 100 + 50) + "\ncaption number " + std::to_string(i);
  }
  return SrtBytes(text);
}

// ANSI input that reads as UTF-8 for megabytes of output and then has a byte
// that is not UTF-8: the first caption holds "é" in UTF-8, the last one "é" in
// CP1252. The whole file is then read in the code page, so the first caption
// comes out as CP1252 reads those two bytes.
constexpr int kLateCues = 12000;  // about 1.5 MB of output: a first piece reaches the file

std::string LateInvalidSmi() {
  std::string smi = "<SAMI><BODY>\r\n";
  for (int i = 1; i <= kLateCues; ++i) {
    const std::string caption = i == 1           ? "caf\xC3\xA9"
                                : i == kLateCues ? "caf\xE9"
                                                 : "caption number " + std::to_string(i);
    smi += "<SYNC Start=" + std::to_string(i * 100) + ">" + caption +
           "\r\n<SYNC Start=" + std::to_string(i * 100 + 50) + ">&nbsp;\r\n";
  }
  return smi + "</BODY></SAMI>\r\n";
}

std::string LateInvalidSrt() {
  std::string text;
  for (int i = 1; i <= kLateCues; ++i) {
    const std::string caption = i == 1           ? "caf\xC3\x83\xC2\xA9"  // "cafÃ©"
                                : i == kLateCues ? "caf\xC3\xA9"
                                                 : "caption number " + std::to_string(i);
    text += (i == 1 ? "" : "\n\n") + std::to_string(i) + "\n" + TimeOf(i * 100) + " --> " +
            TimeOf(i * 100 + 50) + "\n" + caption;
  }
  return SrtBytes(text);
}

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Sets the umask for one scope; the child inherits it.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }

 private:
  mode_t saved_;
};

TEST(EndToEndOutputFile, ReplacesAnExistingSrtKeepingItsPermissions) {
  SKIP_FOR_WINDOWS_PROGRAM("permission bits");
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "film.smi", ManyCuesSmi()));
  ASSERT_TRUE(WriteFile(dir / "film.srt", std::string(100000, 'x')));  // longer than the result
  ASSERT_EQ(chmod((dir / "film.srt").c_str(), 0604), 0);
  const RunResult run = RunLumentrace({"film.smi"}, dir.path());
  EXPECT_EQ(run.out, BannerText() + SuccessLine("film.smi"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / "film.srt"), ManyCuesSrt());
  EXPECT_EQ(ModeOf(dir / "film.srt"), 0604u);
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"film.smi", "film.srt"}));
}

TEST(EndToEndOutputFile, NewSrtGetsTheUmaskPermissions) {
  SKIP_FOR_WINDOWS_PROGRAM("the umask");
  for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
    SCOPED_TRACE(mask);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.smi", ManyCuesSmi()));
    RunResult run;
    {
      ScopedUmask scoped(mask);
      run = RunLumentrace({"film.smi"}, dir.path());
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ModeOf(dir / "film.srt"), 0666u & ~mask);
  }
}

TEST(EndToEndOutputFile, WritesThroughASymbolicLink) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "store").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "store/real.srt", "old"));
  ASSERT_EQ(chmod((dir / "store/real.srt").c_str(), 0640), 0);
  ASSERT_EQ(symlink("store/real.srt", (dir / "film.srt").c_str()), 0);
  ASSERT_TRUE(WriteFile(dir / "film.smi", ManyCuesSmi()));
  const RunResult run = RunLumentrace({"film.smi"}, dir.path());
  EXPECT_EQ(run.status, 0);
  struct stat info;
  ASSERT_EQ(lstat((dir / "film.srt").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
  EXPECT_EQ(ReadFile(dir / "store/real.srt"), ManyCuesSrt());
  if (!TestingWindowsProgram()) {
    EXPECT_EQ(ModeOf(dir / "store/real.srt"), 0640u);
  }
  EXPECT_EQ(ListDir(dir / "store"), std::vector<std::string>{"real.srt"});
}

TEST(EndToEndOutputFile, FileSizeLimitLosesNothing) {
  const std::string expected = ManyCuesSrt();
  const long long size = static_cast<long long>(expected.size());
  // Exactly the output's size is enough; one byte less fails the write.
  {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.smi", ManyCuesSmi()));
    RunOptions options;
    options.fileSizeLimit = size;
    const RunResult run = RunLumentrace({"film.smi"}, dir.path(), {}, options);
    EXPECT_EQ(run.out, BannerText() + SuccessLine("film.smi"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(dir / "film.srt"), expected);
  }
  for (bool earlierSrt : {false, true}) {
    SCOPED_TRACE(earlierSrt ? "an earlier .srt exists" : "no earlier .srt");
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.smi", ManyCuesSmi()));
    ASSERT_TRUE(WriteFile(dir / "next.smi", ManyCuesSmi()));
    if (earlierSrt) {
      ASSERT_TRUE(WriteFile(dir / "film.srt", "earlier output"));
    }
    const std::vector<std::string> before = ListDir(dir.path());
    RunOptions options;
    options.fileSizeLimit = size - 1;
    const RunResult run = RunLumentrace({"film.smi", "next.smi"}, dir.path(), {}, options);
    EXPECT_EQ(run.signal, 0) << "SIGXFSZ is ignored; the write fails instead";
    EXPECT_EQ(run.out, BannerText() + kWriteError);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(ListDir(dir.path()), before) << "no temporary file, no next.srt";
    if (earlierSrt) {
      EXPECT_EQ(ReadFile(dir / "film.srt"), "earlier output");
    }
  }
}

// A folder where the .srt would go cannot be opened as the output, as if the
// file were opened for writing directly: -1 with no message, nothing touched.
TEST(EndToEndOutputFile, SrtPathThatIsAFolderCannotBeOpened) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "film.smi", ManyCuesSmi()));
  ASSERT_EQ(mkdir((dir / "film.srt").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "film.srt/keep", "kept"));
  const RunResult run = RunLumentrace({"film.smi"}, dir.path());
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"film.smi", "film.srt"}));
  EXPECT_EQ(ReadFile(dir / "film.srt/keep"), "kept");
}

TEST(EndToEndOutputFile, UnwritableFolderFailsWithoutAMessage) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "ro").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "ro/film.smi", ManyCuesSmi()));
  ASSERT_EQ(chmod((dir / "ro").c_str(), 0555), 0);
  const RunResult run = RunLumentrace({"ro/film.smi"}, dir.path());
  chmod((dir / "ro").c_str(), 0755);
  EXPECT_EQ(run.out, BannerText());
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(ListDir(dir / "ro"), std::vector<std::string>{"film.smi"});
}

// The conversion starts over when a late byte is not UTF-8, after some of the
// output has reached the file: what the .srt holds in the end is the code
// page's conversion alone, nothing of the first attempt before or after it.
TEST(EndToEndOutputFile, LateInvalidUtf8StartsTheOutputOver) {
  const std::string expected = LateInvalidSrt();
  const std::string longer(expected.size() + 100000, 'x');
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "replacing a longer .srt" : "a new .srt");
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "late.smi", LateInvalidSmi()));
    if (existing) {
      ASSERT_TRUE(WriteFile(dir / "late.srt", longer));
    }
    const RunResult run = RunLumentrace({"late.smi"}, dir.path(), {"LANG=en_US.UTF-8"});
    EXPECT_EQ(run.out, BannerText() + SuccessLine("late.smi"));
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(ReadFile(dir / "late.srt") == expected) << "the .srt differs from the expected";
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"late.smi", "late.srt"}));
  }
}

// The same where the folder may not be written but the .srt may: the start
// over empties the file it rewrites in place.
TEST(EndToEndOutputFile, LateInvalidUtf8StartsAnInPlaceRewriteOver) {
  SKIP_FOR_WINDOWS_PROGRAM("folder permissions");
  const std::string expected = LateInvalidSrt();
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "late.smi", LateInvalidSmi()));
  ASSERT_TRUE(WriteFile(dir / "late.srt", std::string(expected.size() + 100000, 'x')));
  ASSERT_EQ(chmod((dir / "late.smi").c_str(), 0644), 0);
  ASSERT_EQ(chmod((dir / "late.srt").c_str(), 0666), 0);
  struct stat before {};
  ASSERT_EQ(stat((dir / "late.srt").c_str(), &before), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  RunOptions options;
  if (geteuid() == 0) options.uid = 65534;  // nobody: root could write into the folder
  const RunResult run = RunLumentrace({"late.smi"}, dir.path(), {"LANG=en_US.UTF-8"}, options);
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(run.out, BannerText() + SuccessLine("late.smi"));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(ReadFile(dir / "late.srt") == expected) << "the .srt differs from the expected";
  struct stat after {};
  ASSERT_EQ(stat((dir / "late.srt").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten in place, not replaced";
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"late.smi", "late.srt"}));
}

}  // namespace
