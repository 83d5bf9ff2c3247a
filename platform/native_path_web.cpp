// The web page opens nothing by name (files reach it as bytes): a path's
// native form is its narrow form, which every call that takes one then fails
// to open, as file_system_web.cpp and output_file_web.cpp do.
#include "platform/locale_text.h"
#include "platform/native_path.h"

NativePath ToNativePath(WideView path) {
  return NarrowToLocale(path);
}

WideString FromNative(const NativeChar* text) {
  return WidenFromLocale(text);
}
