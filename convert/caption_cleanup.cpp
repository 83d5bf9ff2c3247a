#include "convert/caption_cleanup.h"

// Each step knows, from the last '>' (or ';') in the text, whether a '<' (or
// "&n") still has its closing character ahead, so an unterminated one costs
// nothing extra to detect; a caption of a million "&n" stays linear.
//
// No step makes the text longer, so each builds its result in place: the write
// index never passes the read index, and what is still to be read is intact.

namespace {

bool IsOneOf(WideView tag, const WideView* breakTags, size_t count) {
  for (size_t t = 0; t < count; ++t) {
    if (tag.size() == breakTags[t].size() && CompareNoCase(tag, breakTags[t]) == 0) return true;
  }
  return false;
}

// Moves text[from, to) down to `out` (never past it) and returns the new write index.
size_t MoveDown(WideString& text, size_t out, size_t from, size_t to) {
  if (out != from) std::char_traits<char16_t>::move(&text[out], &text[from], to - from);
  return out + (to - from);
}

void ReplaceTags(WideString& text, const WideView* breakTags, size_t count) {
  const size_t lastClose = text.rfind(u'>');
  if (lastClose == WideString::npos) return;
  const size_t size = text.size();
  size_t out = 0;
  size_t i = 0;
  for (;;) {
    // Text up to the next '<' that has a '>' after it is kept as it is.
    size_t open = text.find(u'<', i);
    if (open == WideString::npos || open > lastClose) open = size;
    out = MoveDown(text, out, i, open);
    if (open == size) break;
    const size_t close = text.find(u'>', open + 1);
    const WideView tag(text.data() + open, close + 1 - open);
    if (IsOneOf(tag, breakTags, count)) {
      text[out++] = u'\n';
    } else {
      out = MoveDown(text, out, open, close + 1);
    }
    i = close + 1;
  }
  text.resize(out);
}

}  // namespace

void ReplaceBreakTag(WideString& text, WideView breakTag) {
  ReplaceTags(text, &breakTag, 1);
}

bool IsBreakTag(WideView tag) {
  return IsOneOf(tag, kBreakTags, 3);
}

void ReplaceBreakTags(WideString& text) {
  ReplaceTags(text, kBreakTags, 3);
}

void StripMarkup(WideString& text) {
  if (text.empty()) return;
  const size_t noPosition = WideString::npos;
  const size_t lastClose = text.rfind(u'>');
  const size_t lastSemicolon = text.rfind(u';');
  size_t out = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c == u'<' && lastClose != noPosition && i < lastClose) {
      i = text.find(u'>', i + 1) + 1;
      continue;
    }
    if (c == u'&' && i + 1 < text.size() && text[i + 1] == u'n' && lastSemicolon != noPosition &&
        i + 1 < lastSemicolon) {
      i = text.find(u';', i + 2) + 1;
      continue;
    }
    text[out++] = c;
    ++i;
  }
  text.resize(out);
}

void TidyLines(WideString& text) {
  if (text.find(u'\n') == WideString::npos) {
    Trim(text);
    return;
  }
  size_t out = 0;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(u'\n', begin);
    const size_t stop = end == WideString::npos ? text.size() : end;
    size_t first = begin;
    size_t last = stop;
    TrimRange(text.data(), first, last);
    for (size_t k = first; k < last; ++k) text[out++] = text[k];
    if (end == WideString::npos) break;
    text[out++] = u'\n';
    begin = end + 1;
  }
  text.resize(out);
  Trim(text);
}
