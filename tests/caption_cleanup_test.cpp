#include "convert/caption_cleanup.h"

#include <gtest/gtest.h>

#include <string>

namespace {

WideString Clean(WideString text) {
  ReplaceBreakTag(text, u"<br>");
  ReplaceBreakTag(text, u"</br>");
  ReplaceBreakTag(text, u"<br/>");
  StripMarkup(text);
  TidyLines(text);
  return text;
}

}  // namespace

TEST(ReplaceBreakTag, OnlyTheExactFormsBreakLines) {
  struct Case {
    WideString in, out;
  } cases[] = {
      {u"a<br>b", u"a\nb"},       {u"a<BR>b", u"a\nb"}, {u"a</br>b<br/>c", u"a\nb\nc"},
      {u"a<br />b", u"ab"},                            // spaced form is an ordinary tag
      {u"a<p>b", u"ab"},          {u"a<br", u"a<br"},  // no '>' after it: ordinary characters
      {u"x < y <br> z", u"x  z"},  // a stray '<' runs to the next '>', swallowing the break
  };
  for (const Case& c : cases) EXPECT_EQ(Clean(c.in), c.out);
}

TEST(StripMarkup, DropsTagsAndEntitiesStartingWithN) {
  struct Case {
    WideString in, out;
  } cases[] = {
      {u"", u""},
      {u"&nbsp;", u""},
      {u"&NBSP;", u"&NBSP;"},
      {u"Tom&amp;Jerry", u"Tom&amp;Jerry"},
      {u"a&nbsp;b", u"ab"},
      {u"&&nbsp;x", u"&x"},
      {u"Tom &nbsp Jerry", u"Tom &nbsp Jerry"},  // no ';' ahead: kept
      {u"a&n", u"a&n"},
      {u"a&", u"a&"},
      {u"<b>bold</b> <i", u"bold <i"},
      {u"&nb<p>sp;x", u"x"},  // the entity runs through its ';', tags and all
  };
  for (Case& c : cases) {
    StripMarkup(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(TidyLines, TrimsEachLineAndKeepsInnerEmptyLines) {
  struct Case {
    WideString in, out;
  } cases[] = {
      {u"  plain  ", u"plain"},
      {u"a\n \nb", u"a\n\nb"},
      {u"\n\n a \n", u"a"},
      {u" a \n b ", u"a\nb"},
      {u"\n", u""},
  };
  for (Case& c : cases) {
    TidyLines(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(CaptionCleanup, UnterminatedMarkupStaysLinear) {
  // A million "&n" with no ';' anywhere, and a million '<' with no '>': each
  // step must decide once that nothing closes them.
  WideString entities;
  for (int i = 0; i < 1000000; ++i) entities += u"&n";
  WideString expected = entities;
  StripMarkup(entities);
  EXPECT_EQ(entities, expected);
  WideString opens(1000000, u'<');
  ReplaceBreakTag(opens, u"<br>");
  StripMarkup(opens);
  EXPECT_EQ(opens.size(), 1000000u);
}
