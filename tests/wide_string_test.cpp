#include "text/wide_string.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/code_page.h"

TEST(WideString, SearchesReportMissesAsMinusOne) {
  const WideString text = u"<sync start=1>";
  EXPECT_EQ(Find(text, u"start"), 6);
  EXPECT_EQ(Find(text, u"<", 1), -1);
  EXPECT_EQ(Find(text, u"", static_cast<std::int64_t>(text.size())),
            static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(Find(text, u">", static_cast<std::int64_t>(text.size())), -1);
  EXPECT_EQ(Find(text, u"s", 99), -1);
  EXPECT_EQ(FindOneOf(text, u"=>"), 11);
  EXPECT_EQ(FindOneOf(text, u"#%"), -1);
  EXPECT_EQ(ReverseFind(text, u's'), 6);
  EXPECT_EQ(ReverseFind(text, u'#'), -1);
}

TEST(WideString, SubstringsClampToTheText) {
  const WideString text = u"abcdef";
  EXPECT_EQ(Left(text, ReverseFind(text, u'#')), u"");
  EXPECT_EQ(Left(text, 2), u"ab");
  EXPECT_EQ(Left(text, 60), u"abcdef");
  EXPECT_EQ(Right(text, 2), u"ef");
  EXPECT_EQ(Right(text, -3), u"");
  EXPECT_EQ(Right(text, 60), u"abcdef");
  EXPECT_EQ(Mid(text, 2, 3), u"cde");
  EXPECT_EQ(Mid(text, 4, 60), u"ef");
  EXPECT_EQ(Mid(text, -1, 2), u"ab");
  EXPECT_EQ(Mid(text, 9, 2), u"");
}

TEST(WideString, TrimRemovesOnlyOuterWhiteSpace) {
  struct Case {
    WideString in, out;
  } cases[] = {
      {u" \t\r\n\v\f", u""}, {u"", u""}, {u"  a b  ", u"a b"}, {u"\na\n", u"a"}, {u"x", u"x"},
  };
  for (Case& c : cases) {
    Trim(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(WideString, LowercasingLeavesSurrogatesAlone) {
  WideString text = u"<SYNC Start=10><P Class=X>\U0001F600";
  MakeLower(text);
  EXPECT_EQ(text, u"<sync start=10><p class=x>\U0001F600");
  EXPECT_EQ(CompareNoCase(u"<BR>", u"<br>"), 0);
  EXPECT_NE(CompareNoCase(u"<br >", u"<br>"), 0);
  EXPECT_NE(Compare(u"A", u"a"), 0);
  EXPECT_EQ(Compare(u"A", u"A"), 0);
}

TEST(WideString, CaseAndSpaceBeyondAsciiAskTheLocale) {
  // A Turkish-like locale: 'I' lowercases to a dotless i, the Kelvin sign to
  // 'k', and an ideographic space is white space.
  CharClasses turkish;
  turkish.isSpace = [](char16_t c) { return c == u'\u3000'; };
  turkish.toLower = [](char16_t c) -> std::uint32_t {
    if (c == u'I') return 0x131;
    if (c == 0x212A) return u'k';
    return c >= u'A' && c <= u'Z' ? c + 32u : c;
  };
  UseCharClasses(turkish);
  EXPECT_EQ(CompareNoCase(u"<I>", u"<\u0131>"), 0);
  EXPECT_GT(CompareNoCase(u"<I>", u"<i>"), 0);
  EXPECT_EQ(CompareNoCase(u"<br \u212A>", u"<BR k>"), 0);
  EXPECT_LT(CompareNoCase(u"a", u"B"), 0);
  EXPECT_GT(CompareNoCase(u"Z", u"a"), 0);
  EXPECT_LT(CompareNoCase(u"<br", u"<BR>"), 0);
  EXPECT_TRUE(IsWideSpace(u'\u3000'));
  EXPECT_TRUE(IsWideSpace(u'\v'));
  EXPECT_FALSE(IsWideSpace(u'\x1F'));
  EXPECT_FALSE(IsWideSpace(u'\u00A0'));
  EXPECT_FALSE(IsWideSpace(u'\xD800'));
  ConnectTextToSystem();
}

TEST(WideString, DecimalFormsMatchPrintf) {
  EXPECT_EQ(FormatDecimal(0), u"0");
  EXPECT_EQ(FormatDecimal(-42), u"-42");
  EXPECT_EQ(FormatDecimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(FormatZeroPadded(7, 2), u"07");
  EXPECT_EQ(FormatZeroPadded(7, 3), u"007");
  EXPECT_EQ(FormatZeroPadded(123, 2), u"123");
  EXPECT_EQ(FormatZeroPadded(-5, 3), u"-05");
}
