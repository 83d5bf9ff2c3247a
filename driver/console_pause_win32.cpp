// The pause after a run in a console window of the program's own (a
// double-click or a drop in Explorer).
#include <windows.h>

#include "driver/console_pause.h"
#include "text/console.h"

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Keys that are only ever pressed on the way to something else: Alt or the
// Windows key to switch to another window, Shift or Ctrl before a letter.
// None of them closes the window.
bool IsModifierKey(WORD virtualKey) {
  switch (virtualKey) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_APPS:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

}  // namespace

void PauseIfConsoleIsOwn() {
  // The count of processes attached to the console is all that is asked for:
  // with a list of one entry the call still returns the full count.
  DWORD ids[1] = {};
  const DWORD count = GetConsoleProcessList(ids, 1);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!ShouldPauseBeforeExit(count, GetConsoleWindow() != nullptr, IsConsole(input),
                             IsConsole(output))) {
    return;
  }
  // Keys pressed while the files were converting were not an answer to a
  // question not yet asked.
  FlushConsoleInputBuffer(input);
  PrintToConsole(kPausePrompt);
  // Ctrl+C closes the window like any other key, as a key and not as a
  // signal that would end the process with a status of its own.
  DWORD mode = 0;
  GetConsoleMode(input, &mode);
  SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
  for (;;) {
    INPUT_RECORD record = {};
    DWORD read = 0;
    // A console that fails to answer ends the wait rather than hanging.
    if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) break;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        !IsModifierKey(record.Event.KeyEvent.wVirtualKeyCode)) {
      break;
    }
  }
  SetConsoleMode(input, mode);
}
