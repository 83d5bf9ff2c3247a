// Runs one command and reports its wall time, CPU time and peak resident
// memory (from wait4), on one line that the benchmark script reads:
//
//   lumentrace_measure [--cwd DIR] [--stdout FILE] -- COMMAND [ARG...]
//   wall=0.123456 user=0.100000 sys=0.020000 maxrss_kib=12345 status=0
//
// The command's standard output goes to FILE (default /dev/null), so that a
// console never slows the run down.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  std::string directory;
  std::string standardOutput = "/dev/null";
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(argv[i], "--cwd") == 0 && i + 1 < argc) {
      directory = argv[++i];
    } else if (std::strcmp(argv[i], "--stdout") == 0 && i + 1 < argc) {
      standardOutput = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--cwd DIR] [--stdout FILE] -- COMMAND [ARG...]\n", argv[0]);
      return 2;
    }
  }
  if (i >= argc) return 2;

  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    const int out = open(standardOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(126);
    close(out);
    execvp(argv[i], argv + i);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) {
    std::perror("wait4");
    return 1;
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("wall=%.6f user=%.6f sys=%.6f maxrss_kib=%ld status=%d\n", wall,
              Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss, code);
  return 0;
}
