// Paths on Windows: UTF-16 as the wide calls take them.
#include <windows.h>

#include <string>

#include "platform/native_path.h"

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
