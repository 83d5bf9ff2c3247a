#include <gtest/gtest.h>

#include "platform/console.h"

// The ways the program gets started, as the console looks to it at the end.
TEST(ConsolePause, OnlyAConsoleWindowOfItsOwnWithInputAndOutputPauses) {
  struct Case {
    const char* start;
    unsigned long count;
    bool window, input, output;
    bool pauses;
  };
  const Case cases[] = {
      {"double-click or drop in Explorer", 1, true, true, true, true},
      {"typed in cmd or PowerShell (the shell shares it)", 2, true, true, true, false},
      {"from a batch file run from cmd", 3, true, true, true, false},
      {"own window, input redirected", 1, true, false, true, false},
      {"own window, output redirected", 1, true, true, false, false},
      {"own window, both redirected", 1, true, false, false, false},
      {"no console at all (the count is 0)", 0, false, false, false, false},
      {"count unknown, handles look like a console", 0, true, true, true, false},
      {"Wine in a Unix terminal (no window)", 1, false, true, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShouldPauseBeforeExit(c.count, c.window, c.input, c.output), c.pauses) << c.start;
  }
}
