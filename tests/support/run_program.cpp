#include "tests/support/run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/test_text.h"

extern char** environ;

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/lumentrace-e2e-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string& name) const {
  return path_ + "/" + name;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

bool IsLocaleVariable(const char* entry) {
  return std::strncmp(entry, "LANG=", 5) == 0 || std::strncmp(entry, "LANGUAGE=", 9) == 0 ||
         std::strncmp(entry, "LOCPATH=", 8) == 0 || std::strncmp(entry, "LC_", 3) == 0;
}

// Reads both pipes until they close or the deadline passes; false on time-out.
// Closes each pipe it finishes and sets its entry to -1. Sends `signal` to
// `pid` once, at `signalAt`.
//
// Once the child has ended (reaped into `status`), whatever it wrote is in
// the pipes already: when they then hold nothing more, draining stops even
// if a process it started (Wine's background services) still holds them open.
bool Drain(int (&readEnds)[2], std::string& out, std::string& err,
           std::chrono::steady_clock::time_point deadline, pid_t pid, int signal,
           std::chrono::steady_clock::time_point signalAt, bool& reaped, int& status) {
  pollfd fds[2] = {{readEnds[0], POLLIN, 0}, {readEnds[1], POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  while (open > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (signal != 0 && now >= signalAt) {
      kill(pid, signal);
      signal = 0;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (left.count() <= 0) return false;
    if (signal != 0) {
      left = std::min(left, std::chrono::duration_cast<std::chrono::milliseconds>(signalAt - now) +
                                std::chrono::milliseconds(1));
    }
    left = std::min(left, std::chrono::milliseconds(reaped ? 20 : 100));
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (reaped) return true;
      reaped = waitpid(pid, &status, WNOHANG) == pid;
      continue;
    }
    if (ready < 0) throw std::runtime_error("poll failed");
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        readEnds[i] = -1;
        --open;
      }
    }
  }
  return true;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& args, const std::string& cwd,
                     const std::vector<std::string>& extraEnv, const RunOptions& options) {
  // Everything the child needs is built before fork(), so that the child only
  // makes async-signal-safe calls.
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!IsLocaleVariable(*entry)) envp.push_back(*entry);
  }
  for (const std::string& entry : extraEnv) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (options.terminal) {
    // The terminal's master side stands in for the pipe's read end.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    const int child = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode;
    if (child < 0 || tcgetattr(child, &mode) != 0) throw std::runtime_error("no pseudo-terminal");
    cfmakeraw(&mode);
    tcsetattr(child, TCSANOW, &mode);
    close(outPipe[0]);
    close(outPipe[1]);
    outPipe[0] = master;
    outPipe[1] = child;
  }
  // Run as another user, the program is started from a descriptor opened
  // now: that user may not be able to reach it by its path (a build folder
  // under a private temporary folder, say).
  const int program = options.uid >= 0 ? open(argv[0], O_RDONLY | O_CLOEXEC) : -1;
  if (options.uid >= 0 && program < 0) throw std::runtime_error("cannot open the program");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0 ||
        chdir(cwd.c_str()) != 0) {
      _exit(126);
    }
    if (options.uid >= 0) {
      const auto id = static_cast<uid_t>(options.uid);
      if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) _exit(126);
    }
    if (options.fileSizeLimit >= 0) {
      const rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit),
                            static_cast<rlim_t>(options.fileSizeLimit)};
      signal(SIGXFSZ, SIG_IGN);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (program >= 0) {
      fexecve(program, argv.data(), envp.data());
    } else {
      execve(argv[0], argv.data(), envp.data());
    }
    _exit(127);
  }
  if (program >= 0) close(program);
  close(outPipe[1]);
  close(errPipe[1]);

  RunResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  int readEnds[2] = {outPipe[0], errPipe[0]};
  const auto signalAt =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.signalAfterMs);
  bool reaped = false;
  int status = 0;
  if (!Drain(readEnds, result.out, result.err, deadline, pid, options.signal, signalAt, reaped,
             status)) {
    result.timedOut = true;
    if (!reaped) kill(pid, SIGKILL);
  }
  for (int fd : readEnds) {
    if (fd >= 0) close(fd);
  }
  while (!reaped && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

bool TestingWindowsProgram() {
  const std::string program = LUMENTRACE_BINARY;
  return program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

std::vector<std::string> LumentraceCommand() {
  std::vector<std::string> argv;
  if (std::string(LUMENTRACE_LAUNCHER).size() > 0) argv.push_back(LUMENTRACE_LAUNCHER);
  argv.push_back(LUMENTRACE_BINARY);
  return argv;
}

namespace {

// Wine takes the Windows code page from the Linux locale's language and
// territory, but only from a locale that is installed. A test that names
// ko_KR.UTF-8 or ko_KR.CP949 (say) for the Linux build, which reads the code
// page from the name alone, gets ko_KR.UTF-8 generated for the Windows build.
std::vector<std::string> WithInstalledLocale(const std::vector<std::string>& env) {
  std::vector<std::string> out;
  std::string locpath;
  for (const std::string& entry : env) {
    const size_t equals = entry.find('=');
    const std::string name = entry.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : entry.substr(equals + 1);
    const std::string base = value.substr(0, value.find_first_of(".@"));
    const bool localeVariable = name == "LANG" || name == "LC_ALL" || name == "LC_CTYPE";
    if (name == "LOCPATH") continue;
    if (localeVariable && base.size() == 5 && base[2] == '_' &&
        BuildLocale(base, "UTF-8", locpath) == LocaleBuild::Built) {
      out.push_back(name + "=" + base + ".UTF-8");
    } else {
      out.push_back(entry);
    }
  }
  if (!locpath.empty()) out.push_back("LOCPATH=" + locpath);
  return out;
}

// The program prints its banner on standard output before anything else, so
// status 1 with nothing there is Wine failing to start it (whatever Wine
// itself wrote on standard error), never the program's own outcome.
bool WineStartFailed(const RunResult& result) {
  return result.status == 1 && result.signal == 0 && !result.timedOut && result.out.empty();
}

void LogWineRetry(const std::vector<std::string>& argv, const RunResult& result) {
  const char* log = std::getenv("LUMENTRACE_WINE_RETRIES");
  if (log == nullptr || *log == '\0') return;
  std::string command;
  for (const std::string& arg : argv) command += (command.empty() ? "" : " ") + arg;
  // One line a retry: the log is counted in lines.
  std::string said = result.err.substr(0, 200);
  std::replace(said.begin(), said.end(), '\n', ' ');
  if (FILE* file = std::fopen(log, "a")) {
    std::fprintf(file, "%s: Wine start failed (status 1, no output; stderr: \"%s\"); tried again\n",
                 command.c_str(), said.c_str());
    std::fclose(file);
  }
}

}  // namespace

RunResult RunLumentrace(const std::vector<std::string>& args, const std::string& cwd,
                        const std::vector<std::string>& extraEnv, const RunOptions& options) {
  std::vector<std::string> argv = LumentraceCommand();
  argv.insert(argv.end(), args.begin(), args.end());
  const std::vector<std::string> env =
      TestingWindowsProgram() ? WithInstalledLocale(extraEnv) : extraEnv;
  // A limit is there to catch a hang. Each Wine start costs far more than a
  // native one, and more still on a loaded machine, so the Windows build gets
  // three times as long; a hang still fails.
  RunOptions limited = options;
  if (TestingWindowsProgram()) limited.timeoutSeconds *= 3;
  RunResult result = RunProgram(argv, cwd, env, limited);
  // Now and then Wine fails to start a program at all: status 1 and nothing
  // on standard output, where the program itself always prints its banner
  // first. Only that signature is tried again, twice at most, and each retry
  // is logged for the run's report; every other outcome counts as it is.
  for (int retry = 0; retry < 2 && TestingWindowsProgram() && WineStartFailed(result); ++retry) {
    LogWineRetry(argv, result);
    result = RunProgram(argv, cwd, env, limited);
  }
  if (TestingWindowsProgram()) {
    // Redirected console output of a Windows program ends its lines in CR LF;
    // the tests compare it in the LF form, and a line without its CR shows up.
    std::string out;
    for (size_t i = 0; i < result.out.size(); ++i) {
      if (result.out[i] == '\r' && i + 1 < result.out.size() && result.out[i + 1] == '\n') continue;
      if (result.out[i] == '\n' && (i == 0 || result.out[i - 1] != '\r')) out += "<LF without CR>";
      out += result.out[i];
    }
    result.out = out;
  }
  return result;
}
