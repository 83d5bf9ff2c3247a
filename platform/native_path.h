// Paths as the operating system takes them. The program holds every path as a
// WideString and turns it into the native form only at the system call: on
// POSIX systems the bytes of the locale's codeset (bytes that did not decode
// come back exactly, see locale_text.h), on Windows UTF-16.
//
// This is the one header that differs between the platforms at compile time.
#ifndef LUMENTRACE_PLATFORM_NATIVE_PATH_H_
#define LUMENTRACE_PLATFORM_NATIVE_PATH_H_

#include <string>

#include "text/wide_string.h"

#ifdef _WIN32
using NativeChar = wchar_t;
constexpr char16_t kPathSeparator = u'\\';
// Where a file name starts: after the last '\', '/' or the ':' of a drive.
inline bool IsPathSeparator(char16_t c) {
  return c == u'\\' || c == u'/' || c == u':';
}
#else
using NativeChar = char;
constexpr char16_t kPathSeparator = u'/';
inline bool IsPathSeparator(char16_t c) {
  return c == u'/';
}
#endif

using NativePath = std::basic_string<NativeChar>;

// The native form of a path (or an argument, or any text bound for the system).
NativePath ToNativePath(WideView path);

// A native string (an argument, a directory entry's name) as a WideString.
WideString FromNative(const NativeChar* text);

#endif  // LUMENTRACE_PLATFORM_NATIVE_PATH_H_
