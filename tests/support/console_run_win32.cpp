// Starts a program in a console window of its own, as Explorer does for a
// double-click or a drop, and plays the user at that window.
//
//   lumentrace_console_run FOLDER WAIT_FOR PROGRAM ARGS...
//
// Runs PROGRAM with ARGS in FOLDER with CREATE_NEW_CONSOLE. Once the file
// WAIT_FOR exists and a further moment has passed, the program should be
// waiting for a key. Only then does this attach to its console:
// attached earlier, it would share the console and the program would rightly
// not wait. Prints, one per line, what it saw:
//   "waiting" or "exited"          whether the program was still running
//   "waiting after Shift"          when a Shift press did not end the wait
//   "exit status N"                after a key press (N as an unsigned number)
//   "window:" and the window's lines, right-trimmed, up to the cursor's line
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

std::wstring Quoted(const wchar_t* argument) {
  return L"\"" + std::wstring(argument) + L"\"";
}

bool Running(HANDLE process) {
  return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

bool FileExists(const wchar_t* path) {
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWindow(HANDLE screen) {
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (!GetConsoleScreenBufferInfo(screen, &info)) return "(unreadable)\n";
  std::string lines;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring line(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, line.data(), static_cast<DWORD>(line.size()), {0, row},
                                &read);
    line.resize(read);
    while (!line.empty() && line.back() == L' ') line.pop_back();
    lines += Utf8(line) + "\n";
  }
  return lines;
}

void PressKey(HANDLE input, WORD virtualKey, wchar_t character) {
  INPUT_RECORD records[2] = {};
  for (int i = 0; i < 2; ++i) {
    records[i].EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
    key.bKeyDown = i == 0;
    key.wRepeatCount = 1;
    key.wVirtualKeyCode = virtualKey;
    key.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    key.uChar.UnicodeChar = character;
  }
  DWORD written = 0;
  WriteConsoleInputW(input, records, 2, &written);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  _setmode(_fileno(stdout), _O_BINARY);  // LF lines, as the test compares them
  std::wstring command = Quoted(argv[3]);
  for (int i = 4; i < argc; ++i) command += L" " + Quoted(argv[i]);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessW(argv[3], command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      argv[1], &startup, &child)) {
    Say("cannot start");
    return 1;
  }
  for (int i = 0; i < 1200 && !FileExists(argv[2]) && Running(child.hProcess); ++i) Sleep(50);
  // The file is in place before the program prints its line and looks at
  // its console; a loaded machine may need a while for those few steps.
  Sleep(3000);
  Say(Running(child.hProcess) ? "waiting" : "exited");
  FreeConsole();
  if (Running(child.hProcess) && AttachConsole(child.dwProcessId)) {
    const HANDLE input =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE screen =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string window = ReadWindow(screen);
    PressKey(input, VK_SHIFT, L'\0');
    Sleep(1000);
    if (Running(child.hProcess)) Say("waiting after Shift");
    PressKey(input, 'X', L'x');
    if (WaitForSingleObject(child.hProcess, 20000) != WAIT_OBJECT_0) {
      Say("still waiting after a key");
      TerminateProcess(child.hProcess, 1);
    }
    Say("window:\n" + window);
  }
  // A program that never exits is ended, so that no run outlives the test.
  if (WaitForSingleObject(child.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(child.hProcess, 1);
  }
  DWORD status = 0;
  GetExitCodeProcess(child.hProcess, &status);
  Say("exit status " + std::to_string(status));
  return 0;
}
