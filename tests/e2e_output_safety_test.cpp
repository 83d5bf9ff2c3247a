// End-to-end: the output step touches nothing that opening the .srt for
// writing would not touch, never loses an earlier .srt and leaves nothing
// behind, whoever planted what in the folder. Each case runs as root (when the
// tests do) and as an ordinary user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/locale_text.h"
#include "platform/output_file.h"
#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/test_text.h"

namespace {

const std::string kSmi = "<SYNC Start=100>Hello<SYNC Start=200>&nbsp;";
const std::string kOld = "an earlier .srt";

std::string Srt() {
  return SrtBytes("1\n00:00:00,100 --> 00:00:00,200\nHello");
}

constexpr int kOrdinaryUser = 65534;  // nobody
constexpr int kOtherUser = 65533;

bool IsRoot() {
  return geteuid() == 0;
}

struct stat StatOf(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info;
}

// Everyone may enter and read the test folder; the ordinary user may write
// where a case says so.
void Share(const std::string& path, mode_t mode) {
  ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

struct SafetyCase {
  const char* name;
  const char* folder;  // where film.smi and film.srt are, below the test folder
  bool needsRoot;      // to plant files of other users or device nodes
  // Prepares film.srt and its surroundings (film.smi is there already).
  std::function<void(const TempDir&)> plant;
  // Whether it converts (success line and status 0) or is refused (no
  // message, status 255), as root and as an ordinary user.
  bool rootConverts;
  bool userConverts;
  std::function<void(const TempDir&, bool converted)> check;
};

std::vector<SafetyCase> Cases() {
  return {
      {"link planted by another user in a shared sticky folder is refused", "shared/", true,
       [](const TempDir& dir) {
         ASSERT_TRUE(WriteFile(dir / "victim", kOld));
         Share(dir / "victim", 0666);
         ASSERT_EQ(symlink("../victim", (dir / "shared/film.srt").c_str()), 0);
         ASSERT_EQ(lchown((dir / "shared/film.srt").c_str(), kOrdinaryUser + 1, kOtherUser), 0);
       },
       false, false,
       [](const TempDir& dir, bool) {
         EXPECT_EQ(ReadFile(dir / "victim"), kOld);
         EXPECT_TRUE(S_ISLNK(StatOf(dir / "shared/film.srt").st_mode));
       }},
      {"link of the shared folder's owner is followed", "shared/", true,
       [](const TempDir& dir) {
         ASSERT_TRUE(WriteFile(dir / "kept.srt", kOld));
         Share(dir / "kept.srt", 0666);
         ASSERT_EQ(symlink("../kept.srt", (dir / "shared/film.srt").c_str()), 0);
         ASSERT_EQ(lchown((dir / "shared/film.srt").c_str(), kOtherUser, kOtherUser), 0);
       },
       true, true, [](const TempDir& dir, bool) { EXPECT_EQ(ReadFile(dir / "kept.srt"), Srt()); }},
      {"link to a device node", "", false,
       [](const TempDir& dir) { ASSERT_EQ(symlink("/dev/null", (dir / "film.srt").c_str()), 0); },
       false, false,
       [](const TempDir&, bool) { EXPECT_TRUE(S_ISCHR(StatOf("/dev/null").st_mode)); }},
      {"a device node itself", "", true,
       [](const TempDir& dir) {
         ASSERT_EQ(mknod((dir / "film.srt").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
       },
       false, false,
       [](const TempDir& dir, bool) { EXPECT_TRUE(S_ISCHR(StatOf(dir / "film.srt").st_mode)); }},
      {"link to a FIFO nobody reads", "", false,
       [](const TempDir& dir) {
         ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0666), 0);
         ASSERT_EQ(symlink("pipe", (dir / "film.srt").c_str()), 0);
       },
       false, false,
       [](const TempDir& dir, bool) { EXPECT_TRUE(S_ISFIFO(StatOf(dir / "pipe").st_mode)); }},
      {"read-only .srt", "", false,
       [](const TempDir& dir) {
         ASSERT_TRUE(WriteFile(dir / "film.srt", kOld));
         Share(dir / "film.srt", 0444);
       },
       // Root may write any file, so opening it for writing works for root.
       true, false,
       [](const TempDir& dir, bool converted) {
         EXPECT_EQ(ReadFile(dir / "film.srt"), converted ? Srt() : kOld);
       }},
      {"folder not writable, .srt writable: written in place", "", false,
       [](const TempDir& dir) {
         ASSERT_TRUE(WriteFile(dir / "film.srt", std::string(100000, 'x')));
         Share(dir / "film.srt", 0666);
         Share(dir.path(), 0555);
       },
       true, true, [](const TempDir& dir, bool) { EXPECT_EQ(ReadFile(dir / "film.srt"), Srt()); }},
  };
}

TEST(EndToEndOutputSafety, TouchesOnlyWhatWritingTheSrtWould) {
  SKIP_FOR_WINDOWS_PROGRAM("users, sticky folders, device nodes and FIFOs");
  for (const SafetyCase& c : Cases()) {
    for (bool ordinary : {false, true}) {
      if (!IsRoot() && !ordinary) continue;  // without root, only the user's own run
      if (c.needsRoot && !IsRoot()) continue;
      SCOPED_TRACE(std::string(c.name) + (ordinary ? ", as an ordinary user" : ", as root"));
      TempDir dir;
      Share(dir.path(), 0777);
      const std::string folder = dir / c.folder;
      if (*c.folder != '\0') {
        // A shared folder like /tmp that belongs to someone else.
        ASSERT_EQ(mkdir(folder.c_str(), 01777), 0);
        Share(folder, 01777);
        ASSERT_EQ(chown(folder.c_str(), kOtherUser, kOtherUser), 0);
      }
      ASSERT_TRUE(WriteFile(folder + "film.smi", kSmi));
      Share(folder + "film.smi", 0644);
      c.plant(dir);
      const ino_t inodeBefore = StatOf(folder + "film.srt").st_ino;
      const std::vector<std::string> before = ListDir(folder);
      RunOptions options;
      if (ordinary && IsRoot()) options.uid = kOrdinaryUser;
      const RunResult run =
          RunLumentrace({std::string(c.folder) + "film.smi"}, dir.path(), {}, options);
      Share(dir.path(), 0777);
      EXPECT_FALSE(run.timedOut);
      const bool converts = ordinary ? c.userConverts : c.rootConverts;
      if (converts) {
        EXPECT_EQ(run.out, BannerText() + SuccessLine("film.smi"));
        EXPECT_EQ(run.status, 0);
      } else {
        EXPECT_EQ(run.out, BannerText());
        EXPECT_EQ(run.status, 255);
      }
      EXPECT_EQ(ListDir(folder), before) << "nothing added, nothing removed";
      // Written in place only where the folder itself refused the ordinary user.
      if (ordinary &&
          c.name == std::string("folder not writable, .srt writable: written in place")) {
        EXPECT_EQ(StatOf(folder + "film.srt").st_ino, inodeBefore);
      }
      c.check(dir, converts);
    }
  }
}

// A run ended by a signal, or by the file size limit of the shell that
// started it, leaves the earlier .srt whole and no temporary file.
TEST(EndToEndOutputSafety, InterruptedRunLeavesTheEarlierSrt) {
  SKIP_FOR_WINDOWS_PROGRAM("POSIX signals and ulimit");
  TempDir dir;
  std::string smi;
  smi.reserve(200u << 20);
  for (int i = 0; smi.size() < (200u << 20); ++i) {
    const std::string n = std::to_string(i);
    smi += "<SYNC Start=" + n + "><P>caption number " + n + "\r\n";
  }
  ASSERT_TRUE(WriteFile(dir / "film.smi", smi));
  smi.clear();
  smi.shrink_to_fit();
  ASSERT_TRUE(WriteFile(dir / "film.srt", kOld));
  const std::vector<std::string> before = ListDir(dir.path());
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    SCOPED_TRACE(strsignal(sig));
    RunOptions options;
    options.signal = sig;
    options.signalAfterMs = 500;  // the conversion of 200 MB takes well over a second
    options.timeoutSeconds = 120;
    const RunResult run = RunLumentrace({"film.smi"}, dir.path(), {}, options);
    EXPECT_EQ(run.signal, sig) << "ended by the signal, part way";
    EXPECT_EQ(ReadFile(dir / "film.srt"), kOld);
    EXPECT_EQ(ListDir(dir.path()), before);
  }
  // The shell's own limit, in its blocks: the program is not killed by it.
  // (It reads the whole input before it reports, which takes a while under
  // the sanitizers.)
  RunOptions slow;
  slow.timeoutSeconds = 300;
  const RunResult run =
      RunProgram({"/bin/sh", "-c", "ulimit -f 64 && exec \"$0\" film.smi", LUMENTRACE_BINARY},
                 dir.path(), {}, slow);
  EXPECT_EQ(run.out, BannerText() + kWriteError);
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(ReadFile(dir / "film.srt"), kOld);
  EXPECT_EQ(ListDir(dir.path()), before);
}

// Where the file system has no unnamed temporary files, the named one is
// removed by SIGINT, SIGTERM and SIGHUP before the program ends.
TEST(OutputFileTemporary, NamedOneIsRemovedOnASignal) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.srt", kOld));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::signal(sig, SIG_DFL);
      UseNamedTemporaryFiles(true);
      OutputFile file;
      if (!CreateOutputFile(file, WidenFromLocale(dir / "film.srt"))) _exit(1);
      WriteOutputBytes(file, "new", 3);
      if (ListDir(dir.path()).size() != 2) _exit(2);  // the named file is there
      raise(sig);
      _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"film.srt"});
    EXPECT_EQ(ReadFile(dir / "film.srt"), kOld);
  }
  // Committed and abandoned the same way as the unnamed kind.
  UseNamedTemporaryFiles(true);
  for (bool commit : {true, false}) {
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.srt", kOld));
    OutputFile file;
    ASSERT_TRUE(CreateOutputFile(file, WidenFromLocale(dir / "film.srt")));
    WriteOutputBytes(file, "new", 3);
    if (commit) {
      EXPECT_TRUE(CommitOutputFile(file));
    } else {
      AbandonOutputFile(file);
    }
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"film.srt"});
    EXPECT_EQ(ReadFile(dir / "film.srt"), commit ? "new" : kOld);
  }
  UseNamedTemporaryFiles(false);
}

// Names of 255 bytes (the longest a folder holds) and paths just short of
// PATH_MAX convert: the temporary file's name does not grow with them.
TEST(EndToEndOutputSafety, LongNamesAndDeepPaths) {
  TempDir dir;
  std::string hangul;
  for (int i = 0; i < 81; ++i) hangul += "\xED\x95\x9C";  // U+D55C HANGUL SYLLABLE HAN
  const std::vector<std::string> names = {std::string(251, 'n') + ".smi", hangul + ".smi"};
  for (const std::string& name : names) {
    ASSERT_TRUE(WriteFile(dir / name, kSmi));
    for (const char* locale : {"LC_ALL=C", "LC_ALL=C.UTF-8"}) {
      SCOPED_TRACE(locale);
      // Wine hands a Windows program its arguments through the Linux
      // locale's codeset: under C, Hangul cannot even reach it.
      if (TestingWindowsProgram() && locale == std::string("LC_ALL=C") && name[0] != 'n') continue;
      const RunResult run = RunLumentrace({name}, dir.path(), {locale});
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(ReadFile(dir / (name.substr(0, name.size() - 4) + ".srt")), Srt());
    }
  }
  // Folders of 200 bytes down to a path 10 bytes short of PATH_MAX.
  std::string path = dir.path();
  // Under Wine a path also goes through the prefix's drive link, so its
  // Windows build is given one far past MAX_PATH (260) instead.
  const size_t target = TestingWindowsProgram() ? 3000 : PATH_MAX - 10;
  const std::string file = "/film.smi";
  while (path.size() + 1 + 200 + file.size() < target) {
    path += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  const size_t last = target - path.size() - 1 - file.size();
  path += "/" + std::string(last, 'e');
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  ASSERT_EQ((path + file).size(), target);
  ASSERT_TRUE(WriteFile(path + file, kSmi));
  const RunResult run = RunLumentrace({path + file}, dir.path());
  EXPECT_EQ(run.out, BannerText() + SuccessLine("film.smi"));
  EXPECT_EQ(ReadFile(path + "/film.srt"), Srt());
}

// Thousands of links to one folder cost one lookup each, not one listing.
TEST(EndToEndOutputSafety, ManyLinksToOneFolder) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "films").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "films/a.smi", kSmi));
  for (int i = 0; i < 4000; ++i) {
    ASSERT_EQ(symlink(".", (dir / ("l" + std::to_string(i))).c_str()), 0);
  }
  ASSERT_EQ(symlink("..", (dir / "films/up").c_str()), 0);
  RunOptions options;
  options.timeoutSeconds = 20;
  const RunResult run = RunLumentrace({}, dir.path(), {}, options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.out, BannerText() + SuccessLine("a.smi"));
  EXPECT_EQ(run.status, 0);
}

// A codeset that reads two byte sequences as one character (WINDOWS-31J has
// NEC's and IBM's copies of some kanji) must not turn a name into the other
// file's name.
TEST(EndToEndOutputSafety, NamesOpenByTheirOwnBytes) {
  SKIP_FOR_WINDOWS_PROGRAM("names as raw bytes");
  std::string locpath;
  const LocaleBuild build = BuildLocale("ja_JP", "WINDOWS-31J", locpath);
  if (build == LocaleBuild::NoLocaledef) GTEST_SKIP() << "no localedef";
  ASSERT_EQ(build, LocaleBuild::Built);
  TempDir dir;
  const std::string nec = "\xED\x40";  // U+7E8A, also written FA 5C
  const std::string ibm = "\xFA\x5C";
  ASSERT_TRUE(WriteFile(dir / (nec + ".smi"), kSmi));
  ASSERT_TRUE(WriteFile(dir / (ibm + ".smi"), "<SYNC Start=1>other"));
  const RunResult run =
      RunLumentrace({nec + ".smi"}, dir.path(), {"LOCPATH=" + locpath, "LC_ALL=ja_JP.WINDOWS-31J"});
  EXPECT_EQ(run.out, BannerText() + SuccessLine(nec + ".smi"));
  EXPECT_EQ(ReadFile(dir / (nec + ".srt")), Srt());
  EXPECT_FALSE(FileExists(dir / (ibm + ".srt")));
}

// On a terminal a name cannot move the cursor, clear the screen or write the
// clipboard; redirected, the name's bytes are kept as they are.
TEST(EndToEndOutputSafety, ControlCharactersInNamesOnATerminal) {
  SKIP_FOR_WINDOWS_PROGRAM("a pseudo-terminal");
  TempDir dir;
  const std::string name =
      "\x1b[2J\x1b]52;c;aGk=\x07\x7f\xc2\x9b"
      "6n.smi";
  ASSERT_TRUE(WriteFile(dir / name, kSmi));
  for (bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    RunOptions options;
    options.terminal = terminal;
    const RunResult run = RunLumentrace({name}, dir.path(), {"LC_ALL=C.UTF-8"}, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, BannerText() + SuccessLine(terminal ? "?[2J?]52;c;aGk=???6n.smi" : name));
  }
}

}  // namespace
