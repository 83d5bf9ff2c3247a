// The three cleaning steps that turn a sync block into caption text, in the
// order they are applied: break tags to line breaks, markup removed, lines
// trimmed. Each works in one pass over the text.
#ifndef LUMENTRACE_CONVERT_CAPTION_CLEANUP_H_
#define LUMENTRACE_CONVERT_CAPTION_CLEANUP_H_

#include "text/wide_string.h"

// Replaces every tag (a '<' through the next '>') that equals `breakTag`
// ignoring case with one LF; other tags and text are kept. A '<' with no '>'
// after it is an ordinary character.
void ReplaceBreakTag(WideString& text, WideView breakTag);
// The same for "<br>", "</br>" and "<br/>" in one pass, with the same result
// as the three replacements one after another: a replacement leaves every
// other tag where it was.
void ReplaceBreakTags(WideString& text);

// The tags that break a line, in lowercase.
constexpr WideView kBreakTags[] = {u"<br>", u"</br>", u"<br/>"};

// True for "<br>", "</br>" and "<br/>" in any case.
bool IsBreakTag(WideView tag);

// Drops every tag, and every entity starting "&n" through the next ';' (so
// "&nbsp;" vanishes without leaving a space). Other entities ("&amp;",
// "&NBSP;") stay as written. A '<' with no later '>', and "&n" with no later
// ';', are ordinary characters: "Tom &nbsp Jerry" keeps Jerry.
void StripMarkup(WideString& text);

// Narrows text[first, last) to its part between white space at either end,
// white space being what `isSpace` (IsWideSpace, or a cache of its answers)
// says it is.
template <typename IsSpace>
void TrimRangeWith(const char16_t* text, size_t& first, size_t& last, IsSpace isSpace) {
  while (first < last && isSpace(text[first])) ++first;
  while (last > first && isSpace(text[last - 1])) --last;
}
inline void TrimRange(const char16_t* text, size_t& first, size_t& last) {
  TrimRangeWith(text, first, last, IsWideSpace);
}

// Trims every line (LF-separated) and then the whole text; a line that trims
// to nothing stays as an empty line between others.
void TidyLines(WideString& text);

#endif  // LUMENTRACE_CONVERT_CAPTION_CLEANUP_H_
