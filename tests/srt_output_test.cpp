#include "convert/srt_output.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "convert/srt_kernels.h"
#include "text/utf16.h"

namespace {

struct Cue {
  std::int32_t start, end;
  std::u16string caption;
};

std::string Write(const std::vector<Cue>& cues, SrtEncoding encoding) {
  std::string bytes;
  SrtWriter writer;
  StartSrt(writer, StringSink(bytes), encoding);
  for (const Cue& cue : cues) WriteCue(writer, cue.start, cue.end, cue.caption);
  FinishSrt(writer);
  return bytes;
}

// UTF-16LE after its byte-order mark, re-encoded as UTF-8 unit by unit: a
// surrogate pair is one character, a lone surrogate U+FFFD.
std::string Utf16ToUtf8(const std::string& utf16) {
  std::u32string points;
  for (size_t i = 2; i + 1 < utf16.size(); i += 2) {
    const char32_t unit = static_cast<unsigned char>(utf16[i]) |
                          static_cast<char32_t>(static_cast<unsigned char>(utf16[i + 1])) << 8;
    if (!points.empty() && IsLeadSurrogate(points.back()) && IsTrailSurrogate(unit)) {
      points.back() = CombineSurrogates(points.back(), unit);
    } else {
      points.push_back(unit);
    }
  }
  std::string utf8;
  for (char32_t c : points) {
    if (IsSurrogate(c)) c = 0xFFFD;
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      utf8 += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
               static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      utf8 += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
               static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return utf8;
}

}  // namespace

TEST(SrtOutput, FormatsHoursMinutesSecondsAndMilliseconds) {
  struct Case {
    std::int32_t ms;
    const char* text;
  } cases[] = {
      {0, "00:00:00,000"},
      {1000, "00:00:01,000"},
      {59999, "00:00:59,999"},
      {60000, "00:01:00,000"},
      {3600000, "01:00:00,000"},
      {360000000, "100:00:00,000"},
      {INT32_MAX, "596:31:23,647"},
      // A minus sign in a time field is malformed SRT; negative times clamp to zero.
      {-500, "00:00:00,000"},
      {INT32_MIN, "00:00:00,000"},
  };
  for (const Case& c : cases) {
    const std::string expected = std::string("1\r\n") + c.text + " --> " + c.text + "\r\nx";
    EXPECT_EQ(Write({{c.ms, c.ms, u"x"}}, SrtEncoding::kUtf8), expected) << c.ms;
  }
}

TEST(SrtOutput, NumbersCuesAndSeparatesThemWithAnEmptyLine) {
  const std::string utf8 =
      Write({{1000, 2000, u"A\nB"}, {2000, 3500, u""}, {4000, 4000, u"C"}}, SrtEncoding::kUtf8);
  EXPECT_EQ(utf8,
            "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\nB\r\n\r\n"
            "2\r\n00:00:02,000 --> 00:00:03,500\r\n\r\n\r\n"
            "3\r\n00:00:04,000 --> 00:00:04,000\r\nC");
  const std::string utf16 = Write({{0, 1, u"a"}}, SrtEncoding::kUtf16Le);
  std::string ascii16 = "\xFF\xFE";
  for (char c : std::string("1\r\n00:00:00,000 --> 00:00:00,001\r\na")) ascii16 += {c, '\0'};
  EXPECT_EQ(utf16, ascii16);
  EXPECT_EQ(Write({}, SrtEncoding::kUtf16Le), "\xFF\xFE");
  EXPECT_EQ(Write({}, SrtEncoding::kUtf8), "");
}

TEST(SrtOutput, Utf8IsTheUtf16OutputReEncoded) {
  // Beyond ASCII, surrogate pairs, lone surrogates, NUL, and a caption long
  // enough to go out in pieces with a pair split at every piece boundary.
  std::u16string longCaption;
  while (longCaption.size() < 700000) longCaption += u"\uC9C0\uAE08 \xD83D\xDE00\nab\xD800";
  std::vector<Cue> cues = {{61000, 63500, u"\uC9C0\uAE08 \uC5B4\uB514\uC57C?\nWhere are you?"},
                           {0, 0, std::u16string(u"a\0b\xDC00", 4)},
                           {1, 2, u"\xD83D\xDE00\xD83D"},
                           {3, 4, longCaption},
                           {5, 6, u"\u00E9\u0800\uFFFD\uFFFF"}};
  for (size_t split = 0; split < 3; ++split) {
    // Shifts the long caption against the piece size.
    cues[3].caption.insert(0, 1, u'x');
    const std::string utf16 = Write(cues, SrtEncoding::kUtf16Le);
    EXPECT_EQ(Write(cues, SrtEncoding::kUtf8), Utf16ToUtf8(utf16)) << split;
  }
}

// The number line of every cue in UTF-8 output.
std::vector<std::string> NumberLines(const std::string& srt) {
  std::vector<std::string> numbers;
  size_t at = 0;
  while (at < srt.size()) {
    const size_t line = srt.find("\r\n", at);
    numbers.push_back(srt.substr(at, line - at));
    const size_t next = srt.find("\r\n\r\n", line);
    at = next == std::string::npos ? srt.size() : next + 4;
  }
  return numbers;
}

TEST(SrtOutput, RestartDropsEverythingWrittenAndNumbersFromOneAgain) {
  std::string bytes;
  SrtWriter writer;
  StartSrt(writer, StringSink(bytes), SrtEncoding::kUtf16Le);
  WriteCue(writer, 0, 1, u"dropped");
  FinishSrt(writer);
  RestartSrt(writer);
  WriteCue(writer, 0, 1, u"a");
  FinishSrt(writer);
  EXPECT_EQ(bytes, Write({{0, 1, u"a"}}, SrtEncoding::kUtf16Le));

  // Counted past 99 before the restart: the longer number left behind must
  // not leak into the new count's carries.
  StartSrt(writer, StringSink(bytes), SrtEncoding::kUtf8);
  for (int i = 0; i < 995; ++i) WriteCue(writer, 0, 1, u"x");
  RestartSrt(writer);
  for (int i = 0; i < 1001; ++i) WriteCue(writer, 0, 1, u"x");
  FinishSrt(writer);
  const std::vector<std::string> numbers = NumberLines(bytes);
  ASSERT_EQ(numbers.size(), 1001u);
  for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], std::to_string(i + 1)) << i;
}

TEST(SrtOutput, NumbersStopAtTheLargestThereIs) {
  std::string bytes;
  SrtWriter writer;
  StartSrt(writer, StringSink(bytes), SrtEncoding::kUtf8);
  WriteCue(writer, 0, 1, u"x");
  writer.next = INT32_MAX - 2;
  for (int i = 0; i < 4; ++i) WriteCue(writer, 0, 1, u"x");
  FinishSrt(writer);
  const std::vector<std::string> expected = {"1", "2147483645", "2147483646", "2147483647",
                                             "2147483647"};
  EXPECT_EQ(NumberLines(bytes), expected);
  EXPECT_EQ(writer.next, INT32_MAX);
}

// Caption units as the writer's loops must write them, built the plain way.
std::string ExpectedUnits(std::u16string_view units, bool utf8) {
  std::string bytes;
  if (!utf8) {
    for (char16_t u : units) {
      if (u == u'\n') bytes += std::string("\r\0", 2);
      bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    }
    return bytes;
  }
  size_t from = 0;
  for (size_t line = units.find(u'\n'); line != std::u16string_view::npos;
       from = line + 1, line = units.find(u'\n', from)) {
    AppendUtf8(bytes, units.substr(from, line - from));
    bytes += "\r\n";
  }
  AppendUtf8(bytes, units.substr(from));
  return bytes;
}

TEST(SrtOutput, EveryKernelWritesWhatThePlainEncodingGives) {
  // Line breaks, non-ASCII, surrogates (paired, lone, a pair across the
  // vector step) and NUL at every offset against the 8-unit steps.
  const std::u16string marks[] = {
      u"\n",     u"\n\n", u"\uC9C0", u"\u00E9", u"\xD83D\xDE00",         u"\xD800",
      u"\xDC00", u"\x7F", u"\x80",   u"\xFFFF", std::u16string(1, u'\0')};
  std::vector<std::u16string> inputs = {u"", u"\uC9C0\uAE08 \uC5B4\uB514\uC57C?\nWhere are you?"};
  for (const std::u16string& mark : marks) {
    for (size_t at = 0; at < 20; ++at) {
      std::u16string text(24, u'a');
      text.insert(at, mark);
      inputs.push_back(text);
      inputs.push_back(text.substr(0, at + mark.size()));
    }
  }
  std::vector<const SrtKernels*> kernels = {&PortableSrtKernels()};
  for (const SrtKernels* const* k = VectorSrtKernels(); *k != nullptr; ++k) kernels.push_back(*k);
  std::string ascii(kSrtAsciiBlock, '\0');
  for (size_t i = 0; i < ascii.size(); ++i) ascii[i] = static_cast<char>(i * 37 % 128);
  for (const SrtKernels* k : kernels) {
    std::string wide(2 * kSrtAsciiBlock, '?');
    k->widenAscii(ascii.data(), &wide[0]);
    EXPECT_EQ(wide, ExpectedUnits(std::u16string(ascii.begin(), ascii.end()), false)) << k->name;
    for (const std::u16string& units : inputs) {
      for (bool utf8 : {false, true}) {
        std::string out(utf8 ? SrtUtf8Room(units.size()) : SrtUtf16Room(units.size()), '?');
        char* end = (utf8 ? k->utf8Out : k->utf16Out)(units.data(), units.size(), &out[0]);
        out.resize(static_cast<size_t>(end - out.data()));
        EXPECT_EQ(out, ExpectedUnits(units, utf8))
            << k->name << " utf8=" << utf8 << " size " << units.size();
      }
    }
  }
}
