// The one-pass conversion against the reference conversion: chosen inputs
// that reach each of its special paths, and many random markup texts, in
// every input mode, must give the same bytes.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/scan_kernels.h"
#include "tests/fuzz/fuzz_entry.h"
#include "tests/support/test_locale.h"
#include "tests/support/utf16_bytes.h"

namespace {

const std::vector<std::string> kCodePages = {"CP1252", "CP949", "CP932", "CP1258"};

// Converts in every mode (ANSI in each code page) both ways: the one-pass way
// through the portable loops must match the reference, and again through a
// small window; through each vector implementation of the loops, the portable
// loops' bytes. Returns the first difference, or an empty string.
std::string DifferenceInAnyMode(const std::string& bytes) {
  struct Mode {
    StreamMode mode;
    std::string codePage;
  };
  std::vector<Mode> modes = {{StreamMode::Utf16Binary, ""}, {StreamMode::Utf8Text, ""}};
  for (const std::string& page : kCodePages) modes.push_back({StreamMode::AnsiText, page});
  const ScanKernels& chosen = ChosenScanKernels();
  std::string difference;
  for (const Mode& m : modes) {
    const std::string where =
        " (mode " + std::to_string(static_cast<int>(m.mode)) + " " + m.codePage + ")";
    ChooseScanKernels(PortableScanKernels());
    std::string portable;
    if (!oracle::ConvertWith(bytes, m.mode, m.codePage, false, portable)) {
      difference = "write failed" + where;
      break;
    }
    difference = oracle::CompareWithReference(bytes, m.mode, m.codePage, portable);
    if (difference.empty())
      difference = oracle::CompareWindowedReads(bytes, m.mode, m.codePage, portable);
    if (!difference.empty()) {
      difference += where;
      break;
    }
    for (const ScanKernels* const* k = VectorScanKernels(); *k != nullptr; ++k) {
      ChooseScanKernels(**k);
      std::string srt;
      if (!oracle::ConvertWith(bytes, m.mode, m.codePage, false, srt) || srt != portable) {
        difference = std::string((*k)->name) + " loops differ from the portable ones" + where;
        break;
      }
    }
    if (!difference.empty()) break;
  }
  ChooseScanKernels(chosen);
  return difference;
}

TEST(FastConversion, MatchesTheReferenceOnChosenInputs) {
  const std::vector<std::string> inputs = {
      "",
      "no sync tag",
      "<SYNC Start=1>a<SYNC Start=2>b<SYNC Start=3>&nbsp;",
      // Break tags in every spelling, lines trimmed, empty lines kept inside.
      "<SYNC Start=1> a <BR> <br/>\tb </Br><SYNC Start=2>x",
      // "&n" whose ';' lies in a later tag or past a break: read the reference way.
      "<SYNC Start=1>Tom &nbsp Jerry<font color=a;b>x<SYNC Start=2>y",
      "<SYNC Start=1>&n<br>;z<SYNC Start=2>y",
      "<SYNC Start=1>&nb x<p>y;<SYNC Start=2>q",
      "<SYNC Start=1>&nb x<SYNC Start=2;>q",
      "<SYNC Start=1>&nb x &nc; y<SYNC Start=2>q",
      "<SYNC Start=1>&n\r\nbsp;a &N; &amp;<SYNC Start=2>q",
      // Merged runs, ended by a block and by the end of the input.
      "<SYNC Start=1>same<SYNC Start=2>same<SYNC Start=3>same<SYNC Start=4>other<SYNC Start=5>",
      "<SYNC Start=1>same<SYNC Start=2>same<SYNC Start=3>same",
      "<SYNC Start=1><p>same<SYNC Start=2><i>same</i><SYNC Start=3>x<SYNC Start=4>x",
      // A merged run's cue is built from its scans, except where swapping
      // the closing tags could change more than the end: a run that goes on
      // to the end (ending in closing tags, in text, or in a tag cut off), a
      // closing sync tag holding a '<', an "&n" a closing tag's ';' ends.
      "<SYNC Start=1>same<SYNC Start=2>same</BODY></SAMI>",
      "<SYNC Start=1>same<SYNC Start=2>sa<p>me",
      "<SYNC Start=1>same<SYNC Start=2>same<p",
      "<SYNC Start=1>same<SYNC Start=2 <x>same<SYNC Start=3>other",
      "<SYNC Start=1 <b>same<SYNC Start=2>same<SYNC Start=3>other",
      "<SYNC Start=1>same<SYNC Start=2>same<p <SYNC Start=3>other<SYNC Start=4>",
      "<SYNC Start=1>&nb x<SYNC Start=2>&&nb;nb x<SYNC Start=3;>z<SYNC Start=4>",
      "<SYNC Start=1>&nb x<SYNC Start=2;>><SYNC Start=3>z",
      "<SYNC Start=1>a<SYNC Start=x>a<SYNC Start=3>a<SYNC Start=y>b<SYNC Start=9>",
      // Tags with a '<' inside, cut off by the end, broken over lines.
      "<SYNC Start=1 <x>a<SYNC Start=2 <y>b<p <SYNC Start=7>c",
      "<SYNC Start=1>a<SYNC Start=2\r\n>b<SYNC Start=3\r>c<p",
      "<SYNC Start=1>text<SYNC Start=2",
      // U+FFFF stops a read without ending the input; a seek lands past it.
      "<SYNC Start=1>a\xEF\xBF\xBF<SYNC Start=2>b\xEF\xBF\xBF\xC3\xA9<SYNC Start=3>c",
      "<HEAD \xEF\xBF\xBF><SYNC Start=1>a<SYNC Start=2>",
      "\xEF\xBF\xBF\xEF\xBF\xBF<SYNC Start=1>a",
      // Characters beyond U+FFFF, invalid UTF-8, lone CR, NUL.
      "<SYNC Start=1>\xF0\x9F\x98\x80 <B>\xF0\x9F\x98\x80</B><SYNC Start=2>",
      "<SYNC Start=1>\xC0\xAF\xED\xA0\x80\xE2\x82<SYNC Start=2>\r<p>\r\n",
      std::string("<SYNC Start=1>a\0b<SYNC Start=2>", 31),
      // White space beyond ASCII (U+3000) at the ends of lines, beside
      // characters the trimming's cache of answers keeps in the same place.
      "<SYNC Start=1>\xE3\x80\x80"
      "0a\xE3\x80\x80<br>\xE3\x80\x80"
      "0\xE3\x80\x80<br>0\xE3\x80\x80"
      "<SYNC Start=2>",
      // Times: quotes, signs, saturation, white space, an end that does not scan.
      "<SYNC Start=\"1500\">a<SYNC Start='-20'>b<SYNC Start= 99999999999999>c<SYNC Start=x>d",
      // Korean in CP949 (UTF-8 where it is valid): syllables, spaces between
      // them, a lead byte with no trail byte and one cut off by the end.
      "<SYNC Start=1>\xB0\xA1 \xB0\xA1  \xB0\xA1 x\xB0\xA1\xB0 y<SYNC Start=2>\xB0\xA1 \xB0",
      // Line ends between tags, doubled, lone, and cut off by the end.
      "<SYNC Start=1><P>a</P>\r\n<SYNC Start=2><P>b</P>\r\n\r\n<BR>\r\n<i>\r\r\n<SYNC "
      "Start=3>\r\n<",
      "<SYNC Start=1>a</P>\n\r<SYNC Start=2>b</P>\r\n",
      "<SYNC Start=1>a</P>\r\n<SYNC Start=2>b</P>\r",
      // Only the opening tag: a block that is not read again.
      "<SYNC Start=9>alone",
  };
  for (const std::string& input : inputs) {
    EXPECT_EQ(DifferenceInAnyMode(input), "") << input;
    EXPECT_EQ(DifferenceInAnyMode("\xEF\xBB\xBF" + input), "") << "BOM + " << input;
  }
  // UTF-16 with surrogates, CR and LF units, and a lone last byte.
  const std::string utf16 =
      "\xFF\xFE" + Utf16Bytes(u"<SYNC Start=1>\xD83D\xDE00\r\n<BR>a<SYNC Start=2>") + "x";
  EXPECT_EQ(DifferenceInAnyMode(utf16), "");
  // Captions longer than the room the caption first gets, with units that
  // stop the copy on either side of where it runs out, and a lone last byte.
  for (const size_t length :
       {size_t{250}, size_t{255}, size_t{256}, size_t{257}, size_t{300}, size_t{700}}) {
    const std::u16string text =
        std::u16string(length, u'\xAC00') + u"&amp;\r\n;x&nbsp;<b>" + std::u16string(length, u'y');
    const std::string bytes = "\xFF\xFE" + Utf16Bytes(u"<SYNC Start=1>" + text + u"<SYNC Start=2>" +
                                                      text + u"\xFFFF" + text);
    EXPECT_EQ(DifferenceInAnyMode(bytes), "") << length;
    EXPECT_EQ(DifferenceInAnyMode(bytes + "z"), "") << length << ", odd";
  }
}

TEST(FastConversion, TextRunsMatchWhereverTheirSpecialCharactersFall) {
  // Caption text is read up to 16 bytes (8 UTF-16 units) a step: each unit
  // that ends a run, is dropped or marks an entity, and its look-alikes, at
  // each place in a step.
  const std::u16string specials[] = {u"<",      u"\xFFFF", u"\r",     u"\n",     u"&",
                                     u";",      u"&n;",    u"\t",     u"8",      u"?",
                                     u"\xFFFE", u"\xFFF8", u"\xD83D", u"\r\r\n", u"\n\r<"};
  for (const std::u16string& special : specials) {
    for (size_t lead = 0; lead < 9; ++lead) {
      const std::u16string text = std::u16string(lead, u'x') + special + u"abcdefg&nbsp;hij\r\n";
      const std::string body =
          Utf16Bytes(u"<SYNC Start=1>" + text + u"<SYNC Start=2>" + text + u"<br>" + text);
      EXPECT_EQ(DifferenceInAnyMode("\xFF\xFE" + body), "") << "lead " << lead;
      // Shifted by one byte, every unit is read another way.
      EXPECT_EQ(DifferenceInAnyMode("\xFF\xFE<" + body), "") << "lead " << lead;
    }
  }
  // The same for bytes, with the characters beyond ASCII that UTF-8 text
  // decodes in the run (two and three bytes) or leaves to the character
  // reader (U+FFFF, four bytes, overlong forms, surrogates, stray or missing
  // continuation bytes, a character cut off by the end); in the code pages,
  // two-byte characters, a lead byte before ASCII, bytes that begin none.
  const std::string byteSpecials[] = {"<",
                                      "\r",
                                      "\n",
                                      "&",
                                      ";",
                                      "&n;",
                                      "\xC3\xA9",
                                      "\xEC\xA7\x80",
                                      "\xEF\xBF\xBF",
                                      "\xEF\xBF\xBE",
                                      "\xF0\x9F\x98\x80",
                                      "\xE0\x9F\xBF",
                                      "\xE0\xA0\x80",
                                      "\xED\xA0\x80",
                                      "\xED\x9F\xBF",
                                      "\xC1\xBF",
                                      "\x80",
                                      "\xE1\x80",
                                      "\xC2",
                                      "\xB0\xA1\x81\x41",
                                      "\xB0<",
                                      "\xA1\r",
                                      "\xC9\xA1",
                                      "\xFF\xA0",
                                      "\xEF\xBF\xBD",
                                      "\xEE\x80\x80",
                                      "\xEA\xB0\x80 \xED\x9E\xA3  \xEC\xA7\x80 x\xC3\xA9",
                                      "\xDF\xBF\xC2\x80\xD0\x96",
                                      "\xC3\xC3\xA9",
                                      "\xE0\xA0x",
                                      "\xED\xBF\xBF"};
  for (const std::string& special : byteSpecials) {
    for (size_t lead = 0; lead < 17; ++lead) {
      const std::string text = std::string(lead, 'x') + special +
                               "\xEA\xB0\x80"
                               "bcdefghijklmnopq&nbsp;" +
                               special + "\r\n";
      const std::string body = "<SYNC Start=1>" + text + "<SYNC Start=2>" + text + "<br>" + text;
      EXPECT_EQ(DifferenceInAnyMode(body), "") << "lead " << lead;
      // What each vector loop tells of a run (its end, units and marks), not
      // only the output, is the portable loop's.
      EXPECT_EQ(fuzzing::CompareScanKernels(text + "<b>" + text), "") << "lead " << lead;
      EXPECT_EQ(DifferenceInAnyMode(body + std::string(lead, 'y') + special.substr(0, 1)), "")
          << "lead " << lead << ", cut off";
    }
  }
}

TEST(FastConversion, TagsMatchWhateverTheyHoldAndWhereverTheyEnd) {
  // Most tags are told apart without being collected, their '>' found 16
  // bytes a step from the '<' on; a tag with anything unusual in it is read
  // in full. Each kind after text of several lengths, closed and cut off by
  // the end, in UTF-8 and UTF-16.
  const std::string tags[] = {"<SYNC Start=12>",
                              "<sync START = '+7'>",
                              "<SYNC Start=\"-99999999999\">",
                              "<SYNC Start=x>",
                              "<SYNC Start=>",
                              "<SYNC Startx=5>",
                              "<SYNC Start=5 <p>",
                              "<p <SYNC Start=6>",
                              "<sYnC sTaRt=3>",
                              "<SYNC Start=987654321>",
                              "<SYNC Start=999999999>",
                              "<SYNC Start=1234567890>",
                              "<SYNC Start=12345678>",
                              "<SYNC Start=87654321x>",
                              "<SYNC Start=98765432 1>",
                              "<SYNC Start=123456789z>",
                              "<SYNC Start=9>",
                              "<SYNC Start=0012>",
                              "<SYNC Start=7 >",
                              "<FONT COLOR=\"#FFFFFF\">",
                              "<SYNC Start=2147483648>",
                              "<SYNC Start=42949672961>",
                              "<SYNC Start=12x>",
                              "<SYNC Start>",
                              "<SYNC\tStart=4>",
                              "<BR>",
                              "<bR/>",
                              "<BR/>",
                              "<b/r>",
                              "<bx>",
                              "</Br>",
                              "<br >",
                              "<b>",
                              "<>",
                              "<SYNC Start=1\r\n2>",
                              "<SYNC Start=\t3\n>",
                              std::string("<SYNC Start=4\0>", 15),
                              "<SYNC St\xC3\xA1rt=8>",
                              "<SYNC Start=\xEF\xBF\xBF"
                              "9>",
                              "<SYNC Start=\xED\xA0\x80"
                              "1>",
                              "<font color=a;b>",
                              "<SYNC STARTİ=1>",
                              "<SYNC Start=１>"};
  for (const char* locale : {"C", "tr_TR.UTF-8"}) {
    if (!SelectTestLocale(locale)) continue;
    for (const std::string& tag : tags) {
      for (size_t lead = 0; lead < 9; ++lead) {
        const std::string pad(lead, 'x');
        const std::string text = "<SYNC Start=1>" + pad + "&nb" + tag + "a;b<SYNC Start=2>" + pad +
                                 tag + "c" + tag + "<SYNC Start=3>";
        EXPECT_EQ(DifferenceInAnyMode(text), "") << tag << " after " << lead;
        EXPECT_EQ(DifferenceInAnyMode(text + pad + tag.substr(0, tag.size() - 1)), "")
            << tag << " cut off after " << lead;
        EXPECT_EQ(DifferenceInAnyMode(text + pad + tag), "") << tag << " last, after " << lead;
        std::u16string wide;
        // Beyond ASCII: U+FFFF, a lone surrogate, a Latin letter or a syllable.
        for (char c : text) {
          const auto b = static_cast<unsigned char>(c);
          wide += b < 0x80    ? b
                  : b == 0xEF ? u'\xFFFF'
                  : b == 0xED ? u'\xD800'
                  : b == 0xC3 ? u'\x00E1'
                  : b == 0xC4 ? u'\x0130'
                              : u'\xAC00';
        }
        EXPECT_EQ(DifferenceInAnyMode("\xFF\xFE" + Utf16Bytes(wide)), "")
            << tag << " after " << lead;
        EXPECT_EQ(DifferenceInAnyMode("\xFF\xFE" + Utf16Bytes(wide.substr(0, wide.size() - 1))), "")
            << tag << " cut off after " << lead;
      }
    }
  }
  std::setlocale(LC_ALL, "C");
  // A long UTF-16 tag's '>' is looked for many units a step: a unit that
  // stops the search (or one whose low byte alone would) at each place.
  for (const char16_t unit : {u'\x00E9', u'\x0130', u'\x3E00', u'\x0D00', u'\x3C00', u'\x7FFF',
                              u'\x8000', u'\xFFFF', u'>', u'\r', u'\0'}) {
    for (size_t place = 1; place < 42; ++place) {
      std::u16string tag = u"<font color=\"#FFFFFF\" face=\"a long name\">";
      tag.insert(place, 1, unit);
      const std::string bytes =
          "\xFF\xFE" + Utf16Bytes(u"<SYNC Start=1>a" + tag + u"b<SYNC Start=2>" + tag + u"c");
      EXPECT_EQ(fuzzing::CompareScanKernels(bytes), "") << int{unit} << " at " << place;
      EXPECT_EQ(DifferenceInAnyMode(bytes), "") << int{unit} << " at " << place;
    }
  }
}

TEST(FastConversion, AnsiInputFoundInvalidLateStartsOverInTheCodePage) {
  // Valid UTF-8 for well over a megabyte of output, then one CP949 syllable:
  // the whole file is read in CP949, as the reference reads it.
  std::string smi;
  for (int i = 0; i < 30000; ++i)
    smi += "<SYNC Start=" + std::to_string(i * 10) + ">caption number " + std::to_string(i) +
           " \xEC\xA7\x80\xEA\xB8\x88\r\n";
  smi += "<SYNC Start=999999>\xB0\xA1<SYNC Start=1000000>";
  std::string srt;
  ASSERT_TRUE(oracle::ConvertWith(smi, StreamMode::AnsiText, "CP949", false, srt));
  EXPECT_EQ(oracle::CompareWithReference(smi, StreamMode::AnsiText, "CP949", srt), "");
  EXPECT_GT(srt.size(), size_t{1} << 21);
}

TEST(FastConversion, TextLoopsDecodeRunsOfTwoAndThreeByteCharacters) {
  // Runs of two- and three-byte characters, and ASCII between them, with one
  // sequence the byte reader turns down (or a character at its limits) at
  // every place of two vectors; each vector loop must stop, or go on, where
  // the portable loop does, from every start (so at every cut by the vector).
  const std::string run =
      "\xC3\xA9\xEA\xB0\x80\xD0\x96\xEC\xA7\x80\xC2\xA0"
      "a\xED\x9E\xA3\xDF\xBF\xE3\x80\x80"
      "\xC3\xA9\xC3\xA9\xC3\xA9\xEA\xB0\x80\xEA\xB0\x80 \xD7\x90\xEF\xBF\xBD";
  const std::string sequences[] = {"\xC0\x80",  // overlong forms of two and three bytes
                                   "\xC1\xBF",
                                   "\xE0\x80\x80",
                                   "\xE0\x9F\xBF",
                                   "\xE0\xA0\x80",  // the first character of three bytes
                                   "\xED\xA0\x80",  // surrogates
                                   "\xED\xBF\xBF",
                                   "\xED\x9F\xBF",  // the last character before them
                                   "\xEE\x80\x80",
                                   "\xEF\xBF\xBF",  // U+FFFF
                                   "\xEF\xBF\xBE",
                                   "\xC2\x80",  // the first and last characters of two bytes
                                   "\xDF\xBF",
                                   "\xC3",  // a first byte without its continuation
                                   "\xC3\xC3\xA9",
                                   "\xE1\x80",
                                   "\xE1\x80x",
                                   "\xE1x\x80",
                                   "\xA9",  // a continuation byte alone, and one too many
                                   "\xC3\xA9\xA9",
                                   "\xEA\xB0\x80\x80",
                                   "\xF0\x9F\x98\x80",  // four bytes, left to the byte reader
                                   "\xF8\x88\x80\x80\x80",
                                   "\xFF",
                                   "<",
                                   "\r\n&;"};
  for (const std::string& sequence : sequences) {
    for (size_t place = 0; place <= 32; ++place) {
      const std::string text = run.substr(0, place) + sequence + run + run;
      EXPECT_EQ(fuzzing::CompareScanKernels(text), "") << "at " << place;
    }
  }
}

// Random SAMI-like text from pieces that reach the reader's special cases.
class Pieces {
 public:
  explicit Pieces(std::uint64_t seed) : state_(seed) {}
  std::string Text(size_t pieces) {
    static const char* const kPieces[] = {"<SYNC Start=",
                                          "<sync start=\"",
                                          "<SYNC  Start=1>",
                                          "<SYNC Start=1 <x>",
                                          "100",
                                          "2",
                                          ">",
                                          "<",
                                          "<br>",
                                          "</BR>",
                                          "<Br/>",
                                          "<br >",
                                          "<p class=kr>",
                                          "</p>",
                                          "&nbsp;",
                                          "&n",
                                          "&",
                                          "n",
                                          ";",
                                          "&NBSP;",
                                          "&amp;",
                                          " ",
                                          "\t",
                                          "\r\n",
                                          "\r",
                                          "\n",
                                          "a",
                                          "Tom",
                                          "'",
                                          "-",
                                          "\xEC\xA7\x80",
                                          "\xC3\xA9",
                                          "\xF0\x9F\x98\x80",
                                          "\xEF\xBF\xBF",
                                          "\xB0\xA1",
                                          "\xC0",
                                          "\x80",
                                          "\xC4\xB0",
                                          "I",
                                          "\xE3\x80\x80",
                                          "<font color=\"#ffff00\">",
                                          "same",
                                          "same",
                                          "same"};
    constexpr size_t kCount = sizeof kPieces / sizeof *kPieces;
    std::string text;
    for (size_t i = 0; i < pieces; ++i) text += kPieces[Next() % kCount];
    return text;
  }

 private:
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint64_t state_;
};

TEST(FastConversion, MatchesTheReferenceOnRandomMarkup) {
  for (const char* locale : {"C", "C.UTF-8", "tr_TR.UTF-8"}) {
    if (!SelectTestLocale(locale)) continue;
    Pieces pieces(20240917);
    for (int i = 0; i < 1500; ++i) {
      const std::string input = pieces.Text(1 + static_cast<size_t>(i % 60));
      const std::string difference = DifferenceInAnyMode(input);
      ASSERT_EQ(difference, "") << "case " << i << " under " << locale << ": " << input;
    }
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
