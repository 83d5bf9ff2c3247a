#include "driver/path_names.h"

#include "platform/native_path.h"

WideView FindFileName(WideView path) {
  size_t start = path.size();
  while (start > 0 && !IsPathSeparator(path[start - 1])) --start;
  return path.substr(start);
}

WideView FindExtension(WideView path) {
  const WideView name = FindFileName(path);
  const size_t dot = name.rfind(u'.');
  return dot == WideView::npos ? WideView() : name.substr(dot);
}

bool HasSamiExtension(WideView path) {
  const WideView extension = FindExtension(path);
  const WideView sami = u".smi";
  if (extension.size() != sami.size()) return false;
  for (size_t i = 0; i < sami.size(); ++i) {
    char16_t c = extension[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != sami[i]) return false;
  }
  return true;
}

WideString OutputPathFor(WideView path) {
  const size_t dot = path.rfind(u'.');
  WideString out(path.substr(0, dot == WideView::npos ? path.size() : dot));
  out += u".srt";
  return out;
}
