// Paths on POSIX systems: the bytes of the locale's codeset, with the bytes
// that did not decode given back exactly (see locale_text.h).
#include "platform/locale_text.h"
#include "platform/native_path.h"

NativePath ToNativePath(WideView path) {
  return NarrowToLocale(path);
}

WideString FromNative(const NativeChar* text) {
  return WidenFromLocale(text);
}
