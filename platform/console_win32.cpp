// The console on Windows: wide text on a console window, or the C runtime
// locale's code page when standard output is redirected.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/locale_text.h"

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool ConsoleIsTerminal() {
  return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

void PrintToConsole(WideView text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (IsConsole(out)) {
    // The console shows every character whatever the code pages are; the
    // C runtime's text would be narrowed first. Anything stdio still holds
    // goes out before, so the order is kept.
    std::fflush(stdout);
    const wchar_t* units = reinterpret_cast<const wchar_t*>(text.data());
    size_t left = text.size();
    while (left > 0) {
      DWORD piece = left < 8192 ? static_cast<DWORD>(left) : 8192;
      DWORD written = 0;
      if (!WriteConsoleW(out, units, piece, &written, nullptr) || written == 0) return;
      units += written;
      left -= written;
    }
    return;
  }
  // Redirected: bytes in the locale's code page with CR LF line ends, the
  // same as the text-mode wprintf of the Windows tools a user compares with.
  // The CR is added here, so the stream is switched to binary for the write.
  std::string narrow = NarrowToLocale(text);
  std::string bytes;
  bytes.reserve(narrow.size() + narrow.size() / 16);
  for (char c : narrow) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  std::fflush(stdout);
  int previous = _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
  if (previous != -1) _setmode(_fileno(stdout), previous);
}

// The wait after a run in a console window of the program's own (a
// double-click or a drop in Explorer).
namespace {

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
