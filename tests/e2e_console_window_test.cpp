// The Windows program in a console window of its own, as a double-click or a
// drop in Explorer starts it: the window shows the run and then waits for a
// key, and the exit status is the run's. (Every other end-to-end test runs
// the program with its output redirected, where it must not wait and prints
// nothing more than the run's lines.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/console_text.h"
#include "tests/support/run_program.h"

namespace {

const std::string kOneCueSmi = "<SAMI><BODY><SYNC Start=100><P>Hello<SYNC Start=200><P>&nbsp;";

// The output of tests/support/console_run_win32.cpp, run by Wine.
std::string RunInOwnConsole(const std::string& folder, const std::string& waitFor,
                            const std::vector<std::string>& args) {
  const std::string binary = LUMENTRACE_BINARY;
  std::string command = LumentraceCommand()[0] + " \"" + binary.substr(0, binary.rfind('/')) +
                        "/lumentrace_console_run.exe\" \"" + folder + "\" \"" + waitFor + "\" \"" +
                        binary + "\"";
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  // Wine makes a console window only with a display to put it on; without
  // one, CREATE_NEW_CONSOLE gives a console whose handles are no console.
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') command = "xvfb-run -a " + command;
  std::string output;
  FILE* run = popen((command + " 2>/dev/null").c_str(), "r");
  if (run == nullptr) return output;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, run)) > 0;)
    output.append(buffer, got);
  pclose(run);
  return output;
}

TEST(EndToEndConsoleWindow, WaitsForAKeyThenExitsWithTheRunsStatus) {
  if (!TestingWindowsProgram()) GTEST_SKIP() << "Windows only";
  const char* display = std::getenv("DISPLAY");
  if ((display == nullptr || *display == '\0') &&
      std::system("command -v xvfb-run >/dev/null") != 0) {
    GTEST_SKIP() << "needs an X display or xvfb-run (Debian: xvfb) for Wine's console window";
  }
  // The program waits for a key once film.srt is there and the run is over;
  // the launcher attaches to its console only then (attached earlier, it
  // would share the console and the program would rightly not wait).
  struct Case {
    const char* start;
    std::vector<std::string> args;
    std::string lines;
    const char* status;
  };
  const Case cases[] = {
      {"double-click in a folder of films", {}, SuccessLine("film.smi"), "0"},
      // 0xFFFFFFFF: the -1 a failed run returns.
      {"drop of a good file and a missing one",
       {"film.smi", "missing.smi"},
       SuccessLine("film.smi") + kOpenError,
       "4294967295"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "film.smi", kOneCueSmi));
    // Shift alone does not close the window; the letter that follows does.
    EXPECT_EQ(RunInOwnConsole(dir.path(), dir / "film.srt", c.args),
              "waiting\nwaiting after Shift\nwindow:\n" + BannerText() + c.lines +
                  "\nPress any key to close this window.\n\nexit status " + c.status + "\n");
    EXPECT_TRUE(FileExists(dir / "film.srt"));
  }
}

}  // namespace
