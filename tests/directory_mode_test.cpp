// End-to-end runs of the binary without arguments, in temporary folder trees.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"

namespace fs = std::filesystem;

namespace {

const std::string kSami =
    "<SAMI><BODY>\r\n<SYNC Start=1000><P>Hello\r\n<SYNC Start=2000><P>&nbsp;\r\n</BODY></SAMI>\r\n";
const std::string kErrorLine = "[ERROR] The data file could not be opened";

enum class Kind { Sami, Text, Dir, Link, Fifo };

struct Node {
  std::string path;  // relative to the tree's root
  Kind kind;
  std::string target = "";  // for links
};

void MakeTree(const TempDir& root, const std::vector<Node>& nodes) {
  for (const Node& node : nodes) {
    const std::string path = root / node.path;
    fs::create_directories(fs::path(path).parent_path());
    switch (node.kind) {
      case Kind::Sami:
        ASSERT_TRUE(WriteFile(path, kSami)) << path;
        break;
      case Kind::Text:
        ASSERT_TRUE(WriteFile(path, "not a subtitle\n")) << path;
        break;
      case Kind::Dir:
        fs::create_directories(path);
        break;
      case Kind::Link:
        fs::create_symlink(node.target, path);
        break;
      case Kind::Fifo:
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
        break;
    }
  }
}

std::vector<std::string> Lines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The file names of the success lines, in the order printed.
std::vector<std::string> ConvertedNames(const std::string& out) {
  const std::string head = "[SUCCESS] '";
  const std::string tail = "' conversion is complete!!";
  std::vector<std::string> names;
  for (const std::string& line : Lines(out)) {
    if (line.rfind(head, 0) == 0 && line.size() >= head.size() + tail.size() &&
        line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
      names.push_back(line.substr(head.size(), line.size() - head.size() - tail.size()));
    }
  }
  return names;
}

RunResult RunWithoutArguments(const TempDir& root) {
  return RunLumentrace({}, root.path(), {"LC_ALL=C.UTF-8"}, RunOptions{-1, 20});
}

// Runs the binary with no arguments in the directory open as `directory`.
// For working directories that a path cannot reach (removed, or deeper than
// PATH_MAX): the child enters it with fchdir.
RunResult RunInOpenDirectory(int directory) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  const char* argv[] = {LUMENTRACE_BINARY, nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    if (fchdir(directory) != 0 || dup2(out[1], 1) < 0) _exit(126);
    execv(argv[0], const_cast<char**>(argv));
    _exit(127);
  }
  close(out[1]);
  RunResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n > 0) {
      result.out.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

// Removes `name` inside `parent` with everything below it, by descriptors, so
// that trees deeper than PATH_MAX go too.
void RemoveAt(int parent, const char* name) {
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    unlinkat(parent, name, 0);
    return;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string entryName = entry->d_name;
    if (entryName != "." && entryName != "..") names.push_back(entryName);
  }
  for (const std::string& entryName : names) RemoveAt(dirfd(dir), entryName.c_str());
  closedir(dir);
  unlinkat(parent, name, AT_REMOVEDIR);
}

// A chain of directories below `root` whose path from the file system's root
// is at least `minLength` bytes long (and a little less than minLength + 200).
// Returns the deepest one, open; the chain starts at root/"chain".
int MakeDeepChain(const TempDir& root, size_t minLength) {
  int fd = open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  size_t length = root.path().size();
  std::string name = "chain";
  while (fd >= 0) {
    if (mkdirat(fd, name.c_str(), 0755) != 0) break;
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    length += 1 + name.size();
    if (length >= minLength) return fd;
    name.assign(std::min<size_t>(200, minLength - length), 'd');
  }
  if (fd >= 0) close(fd);
  return -1;
}

void WriteAt(int directory, const char* name, const std::string& bytes) {
  const int fd = openat(directory, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << name;
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

bool ExistsAt(int directory, const char* name) {
  struct stat st;
  return fstatat(directory, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

TEST(DirectoryMode, ConvertsBreadthFirstInByteOrderOfNames) {
  TempDir root;
  // Byte order, not collation: "C" before "a", U+00E9 (LATIN SMALL LETTER E
  // WITH ACUTE, C3 A9 in UTF-8) after "b", a hidden ".h" before "d1".
  MakeTree(root, {
                     {"d2/e2/g.smi", Kind::Sami},
                     {"d1/e1/f.smi", Kind::Sami},
                     {"d2/d.smi", Kind::Sami},
                     {"d1/c.smi", Kind::Sami},
                     {".h/h.smi", Kind::Sami},
                     {"b.smi", Kind::Sami},
                     {"\xC3\xA9.smi", Kind::Sami},
                     {"a.smi", Kind::Sami},
                     {"C.smi", Kind::Sami},
                 });
  const RunResult run = RunWithoutArguments(root);
  EXPECT_EQ(run.status, 0);
  // A Windows program prints names in the ANSI code page (CP1252 here).
  const std::string eAcute = TestingWindowsProgram() ? "\xE9" : "\xC3\xA9";
  EXPECT_EQ(ConvertedNames(run.out),
            (std::vector<std::string>{"C.smi", "a.smi", "b.smi", eAcute + ".smi", "h.smi", "c.smi",
                                      "d.smi", "f.smi", "g.smi"}));
  EXPECT_TRUE(FileExists(root / "d2/e2/g.srt"));
  EXPECT_TRUE(FileExists(root / ".h/h.srt"));
}

TEST(DirectoryMode, ConvertsOnlyFilesNamedSmi) {
  TempDir root;
  MakeTree(root, {
                     {"upper.SMI", Kind::Sami},
                     {"mixed.sMi", Kind::Sami},
                     {"long.sami", Kind::Sami},
                     {"double.smi.txt", Kind::Sami},
                     {"smi", Kind::Sami},
                     {"notes.txt", Kind::Text},
                     {"folder.smi/inner.smi", Kind::Sami},
                     {"empty.smi", Kind::Dir},
                 });
  const RunResult run = RunWithoutArguments(root);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.find("[ERROR]"), std::string::npos) << run.out;
  EXPECT_EQ(ConvertedNames(run.out),
            (std::vector<std::string>{"mixed.sMi", "upper.SMI", "inner.smi"}));
  EXPECT_TRUE(FileExists(root / "upper.srt"));
  EXPECT_TRUE(FileExists(root / "folder.smi/inner.srt"));
  EXPECT_FALSE(FileExists(root / "folder.srt"));
  EXPECT_FALSE(FileExists(root / "long.srt"));
  EXPECT_FALSE(FileExists(root / "double.smi.srt"));
}

TEST(DirectoryMode, StopsAtTheFirstFileThatCannotBeOpened) {
  SKIP_FOR_WINDOWS_PROGRAM("FIFOs and dangling links");
  struct Case {
    const char* label;
    Node unopenable;
  };
  const Case cases[] = {
      {"fifo", {"b.smi", Kind::Fifo}},
      {"dangling link", {"b.smi", Kind::Link, "missing.smi"}},
      {"link to a fifo", {"b.smi", Kind::Link, "pipe"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir root;
    MakeTree(root, {{"a.smi", Kind::Sami},
                    c.unopenable,
                    {"c.smi", Kind::Sami},
                    {"pipe", Kind::Fifo},
                    {"sub/d.smi", Kind::Sami}});
    const RunResult run = RunWithoutArguments(root);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(ConvertedNames(run.out), (std::vector<std::string>{"a.smi"}));
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), kErrorLine);
    EXPECT_FALSE(FileExists(root / "c.srt"));
    EXPECT_FALSE(FileExists(root / "sub/d.srt"));
  }
}

TEST(DirectoryMode, SearchesEachLinkedDirectoryOnce) {
  TempDir root;
  TempDir outside;
  MakeTree(outside, {{"o.smi", Kind::Sami}});
  // "l" reaches "real" first; "real" itself and the way back up through
  // "real/up" are the same directories again, so the walk must stop there.
  // "ext" leads out of the tree, and is followed like any directory.
  MakeTree(root, {
                     {"ext", Kind::Link, outside.path()},
                     {"real/r.smi", Kind::Sami},
                     {"real/up", Kind::Link, ".."},
                     {"real/self", Kind::Link, "."},
                     {"l", Kind::Link, "real"},
                     {"linked.smi", Kind::Link, "real/r.smi"},
                 });
  const RunResult run = RunWithoutArguments(root);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ConvertedNames(run.out), (std::vector<std::string>{"linked.smi", "o.smi", "r.smi"}));
  EXPECT_TRUE(FileExists(outside / "o.srt"));
  EXPECT_TRUE(FileExists(root / "linked.srt"));
  EXPECT_TRUE(FileExists(root / "real/r.srt"));
}

// A link that leads to a folder when the search sees it, and elsewhere by the
// time the folder's turn comes, does not make that folder go unsearched: "a"
// is flipped between "real" and "decoy" all through the runs, and "real",
// passed over because "a" led there first, must still be searched.
TEST(DirectoryMode, ALinkRepointedDuringTheSearchLosesNoFolder) {
  SKIP_FOR_WINDOWS_PROGRAM("a link re-pointed by rename");
  TempDir root;
  TempDir spare;  // the links swapped in, outside the searched tree
  MakeTree(root, {{"real/x.smi", Kind::Sami}, {"decoy", Kind::Dir}, {"a", Kind::Link, "real"}});
  MakeTree(spare,
           {{"to-real", Kind::Link, root / "real"}, {"to-decoy", Kind::Link, root / "decoy"}});
  const int top = open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int aside = open(spare.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(top, 0);
  ASSERT_GE(aside, 0);
  std::atomic<bool> stop{false};
  std::thread racer([&] {
    // Each exchange swaps "a" with one of the spare links.
    for (bool real = true; !stop; real = !real) {
      renameat2(top, "a", aside, real ? "to-decoy" : "to-real", RENAME_EXCHANGE);
    }
  });
  // At least 20 runs meet the race, however slow the machine; more while
  // time allows.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int runs = 0;
  for (; runs < 300 && (runs < 20 || std::chrono::steady_clock::now() < deadline); ++runs) {
    const RunResult run = RunWithoutArguments(root);
    // Found, it is converted, or fails to open (with or without the error
    // line, by the step that meets the change) when the link has moved on
    // again by then; lost, the run ends with nothing converted and status 0.
    const bool found = !(run.status == 0 && ConvertedNames(run.out).empty());
    if (!found) {
      ADD_FAILURE() << "run " << runs << " converted:\n" << run.out;
      break;
    }
  }
  stop = true;
  racer.join();
  close(top);
  close(aside);
}

TEST(DirectoryMode, PassesOverADirectoryThatCannotBeListed) {
  // A directory whose path is PATH_MAX bytes or more cannot be opened by path,
  // for root too (permission bits would not stop root). Its sibling with a
  // short name, queued after it, is still searched.
  TempDir root;
  MakeTree(root, {{"a.smi", Kind::Sami}});
  const int parent = MakeDeepChain(root, PATH_MAX - 100);
  ASSERT_GE(parent, 0);
  const std::string longName(150, 'L');
  ASSERT_EQ(mkdirat(parent, longName.c_str(), 0755), 0);
  ASSERT_EQ(mkdirat(parent, "s", 0755), 0);
  const int unreachable = openat(parent, longName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int sibling = openat(parent, "s", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  WriteAt(unreachable, "lost.smi", kSami);
  WriteAt(sibling, "s.smi", kSami);

  const RunResult run = RunWithoutArguments(root);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ConvertedNames(run.out), (std::vector<std::string>{"a.smi", "s.smi"}));
  EXPECT_TRUE(ExistsAt(sibling, "s.srt"));
  EXPECT_FALSE(ExistsAt(unreachable, "lost.srt"));
  for (int fd : {unreachable, sibling, parent}) close(fd);
  const int top = open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  RemoveAt(top, "chain");
  close(top);
}

TEST(DirectoryMode, SearchIsCompleteBeforeTheFirstConversion) {
  SKIP_FOR_WINDOWS_PROGRAM("a dangling symbolic link as the output");
  TempDir root;
  // Converting a.smi writes through the link a.srt and so creates sub/late.smi,
  // in a directory that comes later in the walk.
  MakeTree(root, {
                     {"a.smi", Kind::Sami},
                     {"a.srt", Kind::Link, "sub/late.smi"},
                     {"sub", Kind::Dir},
                 });
  const RunResult run = RunWithoutArguments(root);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ConvertedNames(run.out), (std::vector<std::string>{"a.smi"}));
  EXPECT_TRUE(FileExists(root / "sub/late.smi"));
  EXPECT_FALSE(FileExists(root / "sub/late.srt"));
}

TEST(DirectoryMode, SearchesTheCurrentDirectoryWhenItsPathIsUnavailable) {
  SKIP_FOR_WINDOWS_PROGRAM("working directories deeper than PATH_MAX or removed");
  {
    SCOPED_TRACE("deeper than PATH_MAX");
    TempDir root;
    const int deep = MakeDeepChain(root, PATH_MAX + 10);
    ASSERT_GE(deep, 0);
    WriteAt(deep, "a.smi", kSami);
    ASSERT_EQ(mkdirat(deep, "sub", 0755), 0);
    const int sub = openat(deep, "sub", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    WriteAt(sub, "b.smi", kSami);
    const RunResult run = RunInOpenDirectory(deep);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ConvertedNames(run.out), (std::vector<std::string>{"a.smi", "b.smi"}));
    EXPECT_TRUE(ExistsAt(deep, "a.srt"));
    EXPECT_TRUE(ExistsAt(sub, "b.srt"));
    close(sub);
    close(deep);
    const int top = open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    RemoveAt(top, "chain");
    close(top);
  }
  {
    SCOPED_TRACE("removed");
    TempDir root;
    MakeTree(root, {{"outside.smi", Kind::Sami}, {"gone", Kind::Dir}});
    const int gone = open((root / "gone").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(gone, 0);
    ASSERT_EQ(rmdir((root / "gone").c_str()), 0);
    const RunResult run = RunInOpenDirectory(gone);
    close(gone);
    EXPECT_EQ(run.status, 0);
    // Nothing can be in a removed directory: the banner alone, and nothing
    // from the folders around it.
    EXPECT_EQ(Lines(run.out).size(), 11u) << run.out;
    EXPECT_FALSE(FileExists(root / "outside.srt"));
  }
}

namespace {

// The bytes of a gzip file, decompressed by gzip itself; fails the test when it cannot.
std::string Gunzip(const std::string& path) {
  const RunResult run = RunProgram({"/bin/sh", "-c", "gzip -dc \"$0\"", path}, "/", {});
  EXPECT_EQ(run.status, 0) << path << ": " << run.err;
  return run.out;
}

// gzip -n: no file name and no time stamp in the header, so the bytes depend
// on the text alone.
void ExpectReproducibleGzip(const std::string& path) {
  const std::string bytes = ReadFile(path);
  ASSERT_GE(bytes.size(), 10u) << path;
  EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b") << path;
  EXPECT_EQ(static_cast<unsigned char>(bytes[3]) & 0x08, 0) << path << " holds a file name";
  EXPECT_EQ(bytes.substr(4, 4), std::string(4, '\0')) << path << " holds a time stamp";
}

}  // namespace

TEST(Install, PutsTheCommandItsManualPageAndItsLicenceUnderThePrefix) {
  SKIP_FOR_WINDOWS_PROGRAM("the Linux install tree");
  TempDir prefix;
  const std::string build = fs::path(LUMENTRACE_BINARY).parent_path().string();
  const std::string source = std::string(LUMENTRACE_TEST_DATA) + "/../..";
  const RunResult install =
      RunProgram({"/bin/sh", "-c", "cmake --install \"$0\" --prefix \"$1\"", build, prefix.path()},
                 "/", {}, RunOptions{-1, 60});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  struct stat st;
  ASSERT_EQ(stat((prefix / "bin/lumentrace").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) != 0);

  // The manual page goes in compressed, as Debian wants it, and otherwise as written.
  const std::string pagePath = prefix / "share/man/man1/lumentrace.1.gz";
  EXPECT_FALSE(FileExists(prefix / "share/man/man1/lumentrace.1"));
  ExpectReproducibleGzip(pagePath);
  const std::string page = Gunzip(pagePath);
  EXPECT_EQ(page, ReadFile(source + "/doc/lumentrace.1"));
  EXPECT_NE(page.find(".TH LUMENTRACE 1"), std::string::npos);

  // The licence: its holder and every line of its text in the copyright file.
  const std::string copyright = ReadFile(prefix / "share/doc/lumentrace/copyright");
  std::istringstream licence(ReadFile(source + "/LICENSE"));
  std::string line;
  bool sawHolder = false;
  while (std::getline(licence, line)) {
    const std::string holderPrefix = "Copyright (c) ";
    if (line.rfind(holderPrefix, 0) == 0) {
      sawHolder = true;
      EXPECT_NE(copyright.find("\nCopyright: " + line.substr(holderPrefix.size()) + "\n"),
                std::string::npos);
    } else if (sawHolder && !line.empty()) {
      EXPECT_NE(copyright.find("\n " + line + "\n"), std::string::npos) << line;
    }
  }
  EXPECT_TRUE(sawHolder);
  EXPECT_EQ(copyright.rfind("Format: ", 0), 0u);

  const std::string changelogPath = prefix / "share/doc/lumentrace/changelog.Debian.gz";
  ExpectReproducibleGzip(changelogPath);
  EXPECT_EQ(Gunzip(changelogPath).rfind("lumentrace (", 0), 0u);

  // The installed command runs: no arguments in an empty folder is the banner.
  TempDir empty;
  const RunResult run = RunProgram({prefix / "bin/lumentrace"}, empty.path(), {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out).size(), 11u);
}
