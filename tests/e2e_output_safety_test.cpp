// End-to-end: the output step touches nothing that opening the .srt for
// writing would not touch, never loses an earlier .srt and leaves nothing
// behind, whoever planted what in the folder. Each case runs as root (when the
// tests do) and as an ordinary user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
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

// Runs a helper tool (setfacl, chattr, getfacl) in `cwd`; its standard
// output, or "" with `ok` false when it is missing or fails.
std::string Tool(const std::vector<std::string>& args, const std::string& cwd, bool* ok = nullptr) {
  const RunResult run = RunProgram(args, cwd, {});
  if (ok != nullptr) *ok = run.status == 0;
  return run.out;
}

bool HaveTool(const char* path) {
  return access(path, X_OK) == 0;
}

// A shared folder like /tmp (sticky, anyone may write) that belongs to someone else.
void MakeSharedFolder(const std::string& path) {
  ASSERT_EQ(mkdir(path.c_str(), 01777), 0);
  Share(path, 01777);
  ASSERT_EQ(chown(path.c_str(), kOtherUser, kOtherUser), 0);
}

// A link owned by a third user, neither the runner nor the shared folder's owner.
void PlantLink(const std::string& target, const std::string& link) {
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(lchown(link.c_str(), kOrdinaryUser + 1, kOtherUser), 0);
}

// A folder of the victim's with its own film.smi and an earlier film.srt that
// anyone may write, so that only the rules of the output keep it whole.
void MakePrivateFolder(const TempDir& dir) {
  ASSERT_EQ(mkdir((dir / "private").c_str(), 0777), 0);
  Share(dir / "private", 0777);
  ASSERT_TRUE(WriteFile(dir / "private/film.smi", kSmi));
  Share(dir / "private/film.smi", 0644);
  ASSERT_TRUE(WriteFile(dir / "private/film.srt", kOld));
  Share(dir / "private/film.srt", 0666);
}

enum class Outcome {
  kConverts,    // success line, status 0
  kRefused,     // no message, status 255
  kWriteError,  // the write error line, status 255
};

struct SafetyCase {
  const char* name;
  const char* folder;  // where film.smi is, below the test folder; "shared/" is a shared folder
  bool needsRoot;      // to plant files of other users, device nodes, attributes
  // Prepares film.srt and its surroundings (film.smi is there already).
  // Returns why the case cannot run here, or "".
  std::function<std::string(const TempDir&)> plant;
  Outcome root;  // as root
  Outcome user;  // as an ordinary user
  std::function<void(const TempDir&, bool converted)> check;
  // The argument, below the test folder; "" runs the directory search in
  // `cwd`. By default, film.smi in `folder`.
  const char* input = nullptr;
  const char* cwd = "";
  long long fileSizeLimit = -1;  // the output's writes fail past it
};

// Fills the output up to a small file size limit: the output is 88 bytes.
constexpr long long kTooSmall = 50;

std::vector<SafetyCase> Cases() {
  return {
      {"link planted by another user in a shared sticky folder is refused", "shared/", true,
       [](const TempDir& dir) {
         EXPECT_TRUE(WriteFile(dir / "victim", kOld));
         Share(dir / "victim", 0666);
         PlantLink("../victim", dir / "shared/film.srt");
         return "";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir& dir, bool) {
         EXPECT_EQ(ReadFile(dir / "victim"), kOld);
         EXPECT_TRUE(S_ISLNK(StatOf(dir / "shared/film.srt").st_mode));
       }},
      {"the .srt's own link leads on to a link planted in a shared folder", "", true,
       [](const TempDir& dir) {
         MakeSharedFolder(dir / "shared");
         EXPECT_TRUE(WriteFile(dir / "victim", kOld));
         Share(dir / "victim", 0666);
         PlantLink("../victim", dir / "shared/film-out.srt");
         EXPECT_EQ(symlink("shared/film-out.srt", (dir / "film.srt").c_str()), 0);
         return "";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir& dir, bool) { EXPECT_EQ(ReadFile(dir / "victim"), kOld); }},
      {"a folder link planted in a shared folder, in the middle of the path", "shared/", true,
       [](const TempDir& dir) {
         MakePrivateFolder(dir);
         PlantLink("../private", dir / "shared/sub");
         return "";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir& dir, bool) { EXPECT_EQ(ReadFile(dir / "private/film.srt"), kOld); },
       "shared/sub/film.smi"},
      {"the directory search does not follow a folder link planted in a shared folder", "shared/",
       true,
       [](const TempDir& dir) {
         MakePrivateFolder(dir);
         PlantLink("../private", dir / "shared/sub");
         return "";
       },
       Outcome::kConverts, Outcome::kConverts,
       [](const TempDir& dir, bool) {
         EXPECT_EQ(ReadFile(dir / "shared/film.srt"), Srt());
         EXPECT_EQ(ReadFile(dir / "private/film.srt"), kOld);
       },
       "", "shared"},
      {"link of the shared folder's owner is followed", "shared/", true,
       [](const TempDir& dir) {
         EXPECT_TRUE(WriteFile(dir / "kept.srt", kOld));
         Share(dir / "kept.srt", 0666);
         EXPECT_EQ(symlink("../kept.srt", (dir / "shared/film.srt").c_str()), 0);
         EXPECT_EQ(lchown((dir / "shared/film.srt").c_str(), kOtherUser, kOtherUser), 0);
         return "";
       },
       Outcome::kConverts, Outcome::kConverts,
       [](const TempDir& dir, bool) { EXPECT_EQ(ReadFile(dir / "kept.srt"), Srt()); }},
      {"a link to itself ends the walk", "", false,
       [](const TempDir& dir) {
         EXPECT_EQ(symlink("film.srt", (dir / "film.srt").c_str()), 0);
         return "";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir& dir, bool) { EXPECT_TRUE(S_ISLNK(StatOf(dir / "film.srt").st_mode)); }},
      {"link to a device node", "", false,
       [](const TempDir& dir) {
         EXPECT_EQ(symlink("/dev/null", (dir / "film.srt").c_str()), 0);
         return "";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir&, bool) { EXPECT_TRUE(S_ISCHR(StatOf("/dev/null").st_mode)); }},
      {"a device node itself", "", true,
       [](const TempDir& dir) {
         EXPECT_EQ(mknod((dir / "film.srt").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
         return "";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir& dir, bool) { EXPECT_TRUE(S_ISCHR(StatOf(dir / "film.srt").st_mode)); }},
      {"link to a FIFO nobody reads", "", false,
       [](const TempDir& dir) {
         EXPECT_EQ(mkfifo((dir / "pipe").c_str(), 0666), 0);
         EXPECT_EQ(symlink("pipe", (dir / "film.srt").c_str()), 0);
         return "";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir& dir, bool) { EXPECT_TRUE(S_ISFIFO(StatOf(dir / "pipe").st_mode)); }},
      {"link to a file of the kernel's (procfs)", "", false,
       [](const TempDir& dir) {
         EXPECT_EQ(symlink("/proc/self/comm", (dir / "film.srt").c_str()), 0);
         return "";
       },
       Outcome::kRefused, Outcome::kRefused, nullptr},
      {"read-only .srt", "", false,
       [](const TempDir& dir) {
         EXPECT_TRUE(WriteFile(dir / "film.srt", kOld));
         Share(dir / "film.srt", 0444);
         return "";
       },
       // Root may write any file, so opening it for writing works for root.
       Outcome::kConverts, Outcome::kRefused,
       [](const TempDir& dir, bool converted) {
         EXPECT_EQ(ReadFile(dir / "film.srt"), converted ? Srt() : kOld);
       }},
      // Nobody may write an immutable file, root included: the check on the
      // file found says so before anything is made.
      {"immutable .srt", "", true,
       [](const TempDir& dir) -> std::string {
         EXPECT_TRUE(WriteFile(dir / "film.srt", kOld));
         Share(dir / "film.srt", 0666);
         bool ok = false;
         Tool({"/usr/bin/chattr", "+i", dir / "film.srt"}, "/", &ok);
         return ok ? "" : "chattr +i does not work here";
       },
       Outcome::kRefused, Outcome::kRefused,
       [](const TempDir& dir, bool) {
         Tool({"/usr/bin/chattr", "-i", dir / "film.srt"}, "/");
         EXPECT_EQ(ReadFile(dir / "film.srt"), kOld);
       }},
      {"folder not writable, .srt writable: written in place", "", false,
       [](const TempDir& dir) {
         EXPECT_TRUE(WriteFile(dir / "film.srt", std::string(100000, 'x')));
         Share(dir / "film.srt", 0666);
         Share(dir.path(), 0555);
         return "";
       },
       Outcome::kConverts, Outcome::kConverts,
       [](const TempDir& dir, bool) { EXPECT_EQ(ReadFile(dir / "film.srt"), Srt()); }},
      {"folder not writable, the write fails: the .srt is still whole", "", false,
       [](const TempDir& dir) {
         EXPECT_TRUE(WriteFile(dir / "film.srt", std::string(100000, 'x')));
         Share(dir / "film.srt", 0666);
         Share(dir.path(), 0555);
         return "";
       },
       Outcome::kWriteError, Outcome::kWriteError,
       [](const TempDir& dir, bool) {
         EXPECT_EQ(ReadFile(dir / "film.srt"), std::string(100000, 'x'));
       },
       nullptr, "", kTooSmall},
      {"dangling link, the write fails: its target is not created", "", false,
       [](const TempDir& dir) {
         EXPECT_EQ(symlink("made.srt", (dir / "film.srt").c_str()), 0);
         return "";
       },
       Outcome::kWriteError, Outcome::kWriteError,
       [](const TempDir& dir, bool) { EXPECT_FALSE(FileExists(dir / "made.srt")); }, nullptr, "",
       kTooSmall},
      {"append-only folder, earlier .srt: rewritten in place", "", true,
       [](const TempDir& dir) -> std::string {
         EXPECT_TRUE(WriteFile(dir / "film.srt", kOld));
         Share(dir / "film.srt", 0666);
         bool ok = false;
         Tool({"/usr/bin/chattr", "+a", dir.path()}, "/", &ok);
         return ok ? "" : "chattr +a does not work here";
       },
       Outcome::kConverts, Outcome::kConverts,
       [](const TempDir& dir, bool) {
         Tool({"/usr/bin/chattr", "-a", dir.path()}, "/");
         EXPECT_EQ(ReadFile(dir / "film.srt"), Srt());
       }},
      {"append-only folder, new .srt", "", true,
       [](const TempDir& dir) -> std::string {
         bool ok = false;
         Tool({"/usr/bin/chattr", "+a", dir.path()}, "/", &ok);
         return ok ? "" : "chattr +a does not work here";
       },
       Outcome::kConverts, Outcome::kConverts,
       [](const TempDir& dir, bool) {
         Tool({"/usr/bin/chattr", "-a", dir.path()}, "/");
         EXPECT_EQ(ReadFile(dir / "film.srt"), Srt());
       }},
      {"new .srt in a folder whose default access list gives others nothing", "", false,
       [](const TempDir& dir) -> std::string {
         if (!HaveTool("/usr/bin/setfacl")) return "setfacl is not installed (package acl)";
         bool ok = false;
         Tool({"/usr/bin/setfacl", "-d", "-m", "o::---", dir.path()}, "/", &ok);
         return ok ? "" : "the file system holds no access lists";
       },
       Outcome::kConverts, Outcome::kConverts,
       [](const TempDir& dir, bool) {
         // What a shell's > gives there: the default list, not the umask.
         EXPECT_EQ(StatOf(dir / "film.srt").st_mode & 0777, 0660u);
       }},
      {"replaced .srt keeps its access list", "", true,
       [](const TempDir& dir) -> std::string {
         if (!HaveTool("/usr/bin/setfacl")) return "setfacl is not installed (package acl)";
         EXPECT_TRUE(WriteFile(dir / "film.srt", kOld));
         Share(dir / "film.srt", 0644);
         EXPECT_EQ(chown((dir / "film.srt").c_str(), kOrdinaryUser, kOrdinaryUser), 0);
         bool ok = false;
         Tool({"/usr/bin/setfacl", "-m", "u:1235:rw,g::-,m::rw", "film.srt"}, dir.path(), &ok);
         return ok ? "" : "the file system holds no access lists";
       },
       Outcome::kConverts, Outcome::kConverts,
       [](const TempDir& dir, bool) {
         EXPECT_EQ(ReadFile(dir / "film.srt"), Srt());
         EXPECT_EQ(Tool({"/usr/bin/getfacl", "-n", "--omit-header", "film.srt"}, dir.path()),
                   "user::rw-\nuser:1235:rw-\ngroup::---\nmask::rw-\nother::r--\n\n");
       }},
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
      if (*c.folder != '\0') MakeSharedFolder(folder);
      ASSERT_TRUE(WriteFile(folder + "film.smi", kSmi));
      Share(folder + "film.smi", 0644);
      const std::string skip = c.plant(dir);
      if (!skip.empty()) {
        std::printf("[  SKIPPED ] %s: %s\n", c.name, skip.c_str());
        break;
      }
      const ino_t inodeBefore = StatOf(folder + "film.srt").st_ino;
      std::vector<std::string> expected = ListDir(folder);
      RunOptions options;
      if (ordinary && IsRoot()) options.uid = kOrdinaryUser;
      options.fileSizeLimit = c.fileSizeLimit;
      const Outcome outcome = ordinary ? c.user : c.root;
      std::vector<std::string> args;
      if (c.input == nullptr) args.push_back(std::string(c.folder) + "film.smi");
      if (c.input != nullptr && *c.input != '\0') args.push_back(c.input);
      const RunResult run = RunLumentrace(args, dir / c.cwd, {}, options);
      if (c.check) c.check(dir, outcome == Outcome::kConverts);
      Share(dir.path(), 0777);
      EXPECT_FALSE(run.timedOut);
      const bool converts = outcome == Outcome::kConverts;
      if (converts) {
        EXPECT_EQ(run.out, BannerText() + SuccessLine("film.smi"));
        EXPECT_EQ(run.status, 0);
      } else {
        EXPECT_EQ(run.out, BannerText() + (outcome == Outcome::kWriteError ? kWriteError : ""));
        EXPECT_EQ(run.status, 255);
      }
      if (converts && inodeBefore == 0) {
        expected.push_back("film.srt");
        std::sort(expected.begin(), expected.end());
      }
      EXPECT_EQ(ListDir(folder), expected) << "nothing else added, nothing removed";
      // Written in place only where the folder itself refused the ordinary user.
      if (ordinary &&
          c.name == std::string("folder not writable, .srt writable: written in place")) {
        EXPECT_EQ(StatOf(folder + "film.srt").st_ino, inodeBefore);
      }
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
// removed by every signal that ends the program and can be caught.
TEST(OutputFileTemporary, NamedOneIsRemovedOnASignal) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGXCPU, SIGPIPE}) {
    SCOPED_TRACE(strsignal(sig));
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.srt", kOld));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const struct rlimit noCore = {0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
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

// Writes of every size, small ones buffered and long ones written as they
// come, reach the file in the order they were made, also after a restart.
TEST(OutputFileWrites, ReachTheFileInTheirOrder) {
  const std::string small = "abc";
  const std::string mid(5000, 'm');
  const std::string large(70000, 'L');
  const std::vector<std::vector<const std::string*>> sequences = {
      {&large},
      {&mid, &small},
      {&small, &mid, &small},
      {&small, &large, &mid, &large, &small},
      {&mid, &mid, &mid, &small, &mid},
  };
  for (bool restart : {false, true}) {
    for (size_t k = 0; k < sequences.size(); ++k) {
      SCOPED_TRACE("sequence " + std::to_string(k) + (restart ? ", restarted" : ""));
      TempDir dir;
      OutputFile file;
      ASSERT_TRUE(CreateOutputFile(file, WidenFromLocale(dir / "film.srt")));
      if (restart) {
        WriteOutputBytes(file, large.data(), large.size());
        WriteOutputBytes(file, small.data(), small.size());
        ASSERT_TRUE(RestartOutput(file));
      }
      std::string expected;
      for (const std::string* piece : sequences[k]) {
        WriteOutputBytes(file, piece->data(), piece->size());
        expected += *piece;
      }
      ASSERT_TRUE(CommitOutputFile(file));
      EXPECT_TRUE(ReadFile(dir / "film.srt") == expected);
    }
  }
}

// The existing .srt is swapped, over and over, with a link to a FIFO that a
// reader holds open (so opening it for writing would work at once). The
// output is never opened by a name that may have changed meanwhile, so the
// FIFO is never opened for writing.
TEST(OutputFileRace, AFifoSwappedInIsNeverOpened) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0666), 0);
  const int reader = open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, (dir / "pipe").c_str(), IN_CLOSE_WRITE), 0);
  ASSERT_TRUE(WriteFile(dir / "film.srt", kOld));
  ASSERT_EQ(symlink("pipe", (dir / "swap").c_str()), 0);
  const int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  std::atomic<bool> stop{false};
  std::thread racer([&] {
    while (!stop) renameat2(folder, "film.srt", folder, "swap", RENAME_EXCHANGE);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  int runs = 0;
  int opened = 0;
  for (; runs < 4000 && std::chrono::steady_clock::now() < deadline; ++runs) {
    OutputFile file;
    if (CreateOutputFile(file, WidenFromLocale(dir / "film.srt"))) {
      ++opened;
      AbandonOutputFile(file);
    }
  }
  stop = true;
  racer.join();
  char events[4096];
  EXPECT_LE(read(watch, events, sizeof events), 0) << "the FIFO was opened for writing";
  EXPECT_GE(runs, 500);
  EXPECT_GT(opened, 0) << "the regular file was opened at least once";
  for (int descriptor : {folder, watch, reader}) close(descriptor);
}

}  // namespace

// A file system that cannot hold modes or owners (FAT through FUSE answers
// ENOSYS), put in place of the C library's calls for this test binary only.
namespace {
bool gModesUnsupported = false;
}  // namespace

extern "C" int fchmod(int descriptor, mode_t mode) noexcept {
  if (gModesUnsupported) {
    errno = ENOSYS;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fchmod, descriptor, mode));
}

extern "C" int fchown(int descriptor, uid_t owner, gid_t group) noexcept {
  if (gModesUnsupported) {
    errno = ENOSYS;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fchown, descriptor, owner, group));
}

namespace {

TEST(OutputFileAttributes, AFileSystemWithoutModesStillTakesTheOutput) {
  gModesUnsupported = true;
  for (bool named : {false, true}) {
    for (bool existed : {false, true}) {
      SCOPED_TRACE(std::string(named ? "named" : "unnamed") + (existed ? ", replacing" : ", new"));
      UseNamedTemporaryFiles(named);
      TempDir dir;
      if (existed) {
        ASSERT_TRUE(WriteFile(dir / "film.srt", kOld));
      }
      OutputFile file;
      ASSERT_TRUE(CreateOutputFile(file, WidenFromLocale(dir / "film.srt")));
      WriteOutputBytes(file, "new", 3);
      EXPECT_TRUE(CommitOutputFile(file));
      EXPECT_EQ(ReadFile(dir / "film.srt"), "new");
      EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"film.srt"});
    }
  }
  gModesUnsupported = false;
  UseNamedTemporaryFiles(false);
}

// The named temporary file is private while written, and ends with what a
// plain create would have given it: here the folder's default access list,
// not the umask.
TEST(OutputFileAttributes, NamedTemporaryFileEndsAsAPlainCreateWould) {
  if (access("/usr/bin/setfacl", X_OK) != 0)
    GTEST_SKIP() << "setfacl is not installed (package acl)";
  TempDir dir;
  Share(dir.path(), 0777);  // the default list then gives the group rw
  const RunResult set = RunProgram({"/usr/bin/setfacl", "-d", "-m", "o::---", dir.path()}, "/", {});
  if (set.status != 0) GTEST_SKIP() << "the file system holds no access lists";
  UseNamedTemporaryFiles(true);
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(file, WidenFromLocale(dir / "film.srt")));
  WriteOutputBytes(file, "new", 3);
  const std::vector<std::string> names = ListDir(dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(StatOf(dir / names[0]).st_mode & 0777, 0600u);
  EXPECT_TRUE(CommitOutputFile(file));
  UseNamedTemporaryFiles(false);
  EXPECT_EQ(StatOf(dir / "film.srt").st_mode & 0777, 0660u);
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

// On a terminal a name cannot move the cursor, clear the screen, write the
// clipboard or reorder the line it is shown on; redirected, the name's bytes are kept as they are.
TEST(EndToEndOutputSafety, ControlCharactersInNamesOnATerminal) {
  SKIP_FOR_WINDOWS_PROGRAM("a pseudo-terminal");
  TempDir dir;
  const std::string name =
      "\x1b[2J\x1b]52;c;aGk=\x07\x7f\xc2\x9b"
      "6n"
      "\xe2\x80\xaetxt\xe2\x81\xa6\xe2\x80\x8f.smi";  // U+202E, U+2066, U+200F: bidi controls
  ASSERT_TRUE(WriteFile(dir / name, kSmi));
  for (bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    RunOptions options;
    options.terminal = terminal;
    const RunResult run = RunLumentrace({name}, dir.path(), {"LC_ALL=C.UTF-8"}, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              BannerText() + SuccessLine(terminal ? "?[2J?]52;c;aGk=???6n?txt??.smi" : name));
  }
}

}  // namespace
