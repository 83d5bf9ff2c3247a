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
