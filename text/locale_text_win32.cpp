// Text crossing between the program and Windows: paths are UTF-16 as the
// wide calls take them, and console output is wide text on a console or the
// C runtime locale's code page when redirected.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <string>

#include "text/console.h"
#include "text/native_path.h"

namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

bool IsAsciiLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

NativePath Copy(WideView text) {
  NativePath copy(text.size(), L'\0');
  for (size_t i = 0; i < text.size(); ++i) copy[i] = static_cast<wchar_t>(text[i]);
  return copy;
}

}  // namespace

NativePath ToNativePath(WideView path) {
  NativePath native = Copy(path);
  // The path is made absolute first, as the system itself would resolve it:
  // the length limit counts the full path, and the prefix below only works
  // on one.
  if (!(path.size() >= 4 && path.substr(0, 4) == u"\\\\?\\")) {
    const DWORD length = GetFullPathNameW(native.c_str(), 0, nullptr, nullptr);
    if (length > 0) {
      NativePath full(length, L'\0');
      const DWORD written = GetFullPathNameW(native.c_str(), length, full.data(), nullptr);
      if (written > 0 && written < length) {
        full.resize(written);
        native = full;
        path = WideView(reinterpret_cast<const char16_t*>(native.data()), native.size());
      }
    }
  }
  // Without the prefix a path of MAX_PATH characters or more fails unless the
  // machine has long paths switched on, and a folder path cannot come within
  // 12 characters of MAX_PATH (room for an 8.3 name). Relative paths cannot
  // carry the prefix; a path that has it already is left alone.
  if (path.size() <= MAX_PATH - 12) return native;
  bool drive =
      path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == u':' && IsSeparator(path[2]);
  bool unc = path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
             !IsSeparator(path[2]) && path[2] != u'?' && path[2] != u'.';
  if (!drive && !unc) return native;
  // The \\?\ form is passed to the file system as it is: '/' is no longer
  // read as a separator there, so it is turned into '\' first.
  for (wchar_t& c : native) {
    if (c == L'/') c = L'\\';
  }
  if (drive) return L"\\\\?\\" + native;
  return L"\\\\?\\UNC\\" + native.substr(2);  // \\server\share -> \\?\UNC\server\share
}

WideString FromNative(const NativeChar* text) {
  WideString copy;
  for (; *text != L'\0'; ++text) copy.push_back(static_cast<char16_t>(*text));
  return copy;
}

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// The bytes msvcrt's wprintf would produce for `text` in the current locale,
// except that it stops at the first character the code page lacks, where
// this writes '?' and goes on.
std::string Narrow(WideView text) {
  std::string bytes;
  UINT codePage = ___lc_codepage_func();
  if (codePage == 0) {
    // The "C" locale passes characters up to U+00FF through as single bytes.
    for (char16_t c : text) bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return bytes;
  }
  std::wstring wide(text.begin(), text.end());
  if (wide.empty()) return bytes;
  // UTF-8 and a few other code pages refuse a default character.
  bool takesDefault = codePage != CP_UTF8 && codePage != CP_UTF7 && codePage < 50000;
  const char* fallback = takesDefault ? "?" : nullptr;
  int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, fallback, nullptr);
  if (length <= 0) return bytes;
  bytes.resize(static_cast<size_t>(length));
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), length,
                      fallback, nullptr);
  return bytes;
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
  std::string narrow = Narrow(text);
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

bool IsSpaceInLocale(char16_t c) {
  return std::iswspace(static_cast<wint_t>(c)) != 0;
}

std::uint32_t LowerInLocale(char16_t c) {
  // wint_t is 16 bits wide on Windows and 32 on Linux.
  return static_cast<std::uint32_t>(std::towlower(static_cast<wint_t>(c)));
}
