// A small harness for the end-to-end tests: temporary folders, files, and runs
// of a program with a chosen argv, working folder and environment.
#ifndef LUMENTRACE_TESTS_SUPPORT_RUN_PROGRAM_H_
#define LUMENTRACE_TESTS_SUPPORT_RUN_PROGRAM_H_

#include <string>
#include <vector>

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the value goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// Writes the bytes to the file, creating or replacing it; false on failure.
bool WriteFile(const std::string& path, const std::string& bytes);
// The file's bytes; an empty string when it cannot be read (see FileExists).
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListDir(const std::string& path);

struct RunResult {
  std::string out;  // everything written to standard output
  std::string err;  // everything written to standard error
  // The exit status (0-255) when the program exited, otherwise -1.
  int status = -1;
  int signal = 0;         // the signal that ended it, 0 when it exited
  bool timedOut = false;  // killed after the time limit
};

struct RunOptions {
  // RLIMIT_FSIZE in bytes for the child, with SIGXFSZ ignored so that a write
  // past it fails with EFBIG instead of killing the process; -1 leaves it.
  long long fileSizeLimit = -1;
  int timeoutSeconds = 30;
  // Runs the child as this user and group (no supplementary groups); needs
  // root. -1 keeps the test's own ids.
  int uid = -1;
  // Standard output is a pseudo-terminal (raw: LF stays LF) instead of a pipe.
  bool terminal = false;
  // Sends this signal to the child once it has run for signalAfterMs.
  int signal = 0;
  int signalAfterMs = 0;
};

// Runs args[0] (a path, not searched in PATH) with argv = args, in folder cwd.
// The child gets this process's environment without LANG, LANGUAGE, LOCPATH
// and LC_*, plus extraEnv ("NAME=value" entries), so each test chooses its
// locale. Standard input is /dev/null.
RunResult RunProgram(const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& extraEnv, const RunOptions& options = {});

// Whether the program under test is a Windows build (run through a launcher
// such as Wine): cases that only exist on POSIX systems are then skipped.
bool TestingWindowsProgram();

// Skips the rest of a test when the program under test is a Windows build.
#define SKIP_FOR_WINDOWS_PROGRAM(reason) \
  if (TestingWindowsProgram()) GTEST_SKIP() << "POSIX only: " << reason

// The command that starts the program under test: the launcher, if any, then
// the program.
std::vector<std::string> LumentraceCommand();

// RunProgram with the program under test, followed by args. A Windows
// program's CR LF console lines are given back as LF lines.
RunResult RunLumentrace(const std::vector<std::string>& args, const std::string& cwd,
                        const std::vector<std::string>& extraEnv = {},
                        const RunOptions& options = {});

#endif  // LUMENTRACE_TESTS_SUPPORT_RUN_PROGRAM_H_
