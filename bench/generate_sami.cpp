// Writes SAMI files for the benchmark: realistic films and the shapes that
// would expose work growing faster than the input.
//
//   lumentrace_samigen SHAPE ENCODING BYTES OUTPUT [--split N]
//
// SHAPE     film     captions of one or two lines in Hangul and English, with
//                    <br>, <font> tags, entities, "&nbsp;" clearing blocks and
//                    short runs of repeated captions
//           run      one run of identical captions filling the file
//           block    one caption block of BYTES bytes, then a clearing block
//           tiny     the smallest blocks there are, one a line
//           repeat   a film whose every caption stays for 2 to 6 consecutive
//                    blocks, as karaoke-like or re-timed files have them, so
//                    that nearly every cue is a merged run
//           real     the markup of files found in the wild: a header with
//                    comments and a title, <P Class=KRCC> on its own line
//                    with the text below, tags in mixed case, <font> colours
//                    and faces, <b> and <i>, stray </P> and </SYNC>, spaces
//                    and tabs, "&nbsp;" in text, other entities, now and then
//                    a comment between blocks; mostly Hangul, some English
// ENCODING  utf16 (UTF-16LE with a byte-order mark), utf8bom, utf8 (no
//           byte-order mark) or cp949
// BYTES     approximate size of the body text before re-encoding
// --split N also writes N files whose concatenation is OUTPUT, in a tree of
//           folders beside it (OUTPUT.parts/dNN/fNNNN.smi), 50 to a folder
//
// Lines end in CR LF. Output is the same for the same arguments.
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Words every target encoding can hold (CP949 has all Hangul syllables).
const char* const kHangulWords[] = {
    "안녕하세요", "고마워요", "어디",     "가요",   "지금",   "여기",   "정말",   "괜찮아",
    "사랑해",     "미안해",   "무슨",     "일이야", "빨리",   "와",     "집에",   "있었어",
    "어젯밤",     "누구",     "세요",     "선생님", "학교",   "친구",   "내일",   "만나자",
    "그래",       "아니",     "모르겠어", "기다려", "조심해", "하지만", "그런데", "왜"};
const char* const kEnglishWords[] = {"Where", "were",  "you",  "last", "night", "I",
                                     "was",   "at",    "home", "Come", "here",  "now",
                                     "Tom",   "Jerry", "what", "time", "is",    "it"};

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint64_t state_;
};

constexpr const char* kHeader =
    "<SAMI>\r\n<HEAD>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
    "P { margin-left: 8pt; font-size: 14pt; }\r\n"
    ".KRCC { Name: Korean; lang: ko-KR; }\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n";
// The header of files found in the wild: a title, parameters, a style sheet
// in a comment and a comment of the file's own.
constexpr const char* kRealHeader =
    "<SAMI>\r\n<HEAD>\r\n<TITLE>영화 자막</TITLE>\r\n<SAMIParam>\r\n"
    "  Metrics {time:ms;}\r\n</SAMIParam>\r\n"
    "<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
    "P { margin-left:8pt; margin-right:8pt; margin-bottom:2pt; margin-top:2pt;\r\n"
    "    text-align:center; font-size:20pt; font-family:굴림, Arial;\r\n"
    "    font-weight:bold; color:#f0f0f0; background-color:#000000; }\r\n"
    ".KRCC { Name:한국어; lang:ko-KR; SAMIType:CC; }\r\n"
    "#STDPrn { Name:Standard Print; }\r\n-->\r\n</STYLE>\r\n"
    "<!-- 싱크 수정: 2부 맞춤 -->\r\n</HEAD>\r\n<BODY>\r\n";
constexpr const char* kFooter = "</BODY>\r\n</SAMI>\r\n";

const char* Header(const std::string& shape) {
  return shape == "real" ? kRealHeader : kHeader;
}

struct Generator {
  Random random{20240917};
  std::int64_t time = 1000;

  // A line of 2 to 6 words, one in `englishOneIn` of them English.
  void Line(std::string& out, Random& r, std::uint32_t englishOneIn = 3) {
    const std::uint32_t words = 2 + r.Below(5);
    for (std::uint32_t w = 0; w < words; ++w) {
      if (w > 0) out += ' ';
      if (r.Below(englishOneIn) == 0) {
        out += kEnglishWords[r.Below(sizeof kEnglishWords / sizeof *kEnglishWords)];
      } else {
        out += kHangulWords[r.Below(sizeof kHangulWords / sizeof *kHangulWords)];
      }
    }
  }

  std::string Caption() {
    std::string text;
    const std::uint32_t kind = random.Below(10);
    if (kind == 0) text += "<font color=\"#ffff00\">";
    Line(text, random);
    if (random.Below(2) == 0) {
      text += random.Below(8) == 0 ? "<BR>" : "<br>";
      Line(text, random);
    }
    if (kind == 0) text += "</font>";
    if (kind == 1) text += " &amp; ...";
    return text;
  }

  void Sync(std::string& out, const std::string& text) {
    out += "<SYNC Start=";
    out += std::to_string(time);
    out += "><P Class=KRCC>";
    out += text;
    out += "\r\n";
    time += 500 + random.Below(3000);
  }

  // Appends film blocks until `out` has grown by `bytes`.
  void Film(std::string& out, size_t bytes) {
    const size_t stop = out.size() + bytes;
    while (out.size() < stop) {
      const std::string text = Caption();
      const std::uint32_t repeats = random.Below(12) == 0 ? 2 + random.Below(4) : 1;
      for (std::uint32_t i = 0; i < repeats; ++i) Sync(out, text);
      if (random.Below(10) < 6) Sync(out, "&nbsp;");
    }
  }

  // Every caption stays for 2 to 6 blocks; half of them are then cleared.
  void Repeat(std::string& out, size_t bytes) {
    const size_t stop = out.size() + bytes;
    while (out.size() < stop) {
      const std::string text = Caption();
      const std::uint32_t repeats = 2 + random.Below(5);
      for (std::uint32_t i = 0; i < repeats; ++i) Sync(out, text);
      if (random.Below(2) == 0) Sync(out, "&nbsp;");
    }
  }

  // How a file in the wild writes its blocks. Films joined from several
  // files change style now and then.
  struct Style {
    const char* sync;       // the sync tag up to its time
    const char* paragraph;  // the paragraph tag
    const char* close;      // what ends a block's line, if anything
    bool textBelow;         // the text on the line below the tags
    bool upperBreaks;       // <BR> rather than <br>
  };

  Style RealStyle() {
    static const char* const kSyncs[] = {"<SYNC Start=", "<Sync Start=", "<sync start="};
    static const char* const kParagraphs[] = {"<P Class=KRCC>", "<p class=KRCC>", "<P class=krcc>",
                                              "<P Class=\"KRCC\">"};
    static const char* const kCloses[] = {"", "", "</P>", "</P></SYNC>", "</p>"};
    Style style;
    style.sync = kSyncs[random.Below(3)];
    style.paragraph = kParagraphs[random.Below(4)];
    style.close = kCloses[random.Below(5)];
    style.textBelow = random.Below(2) == 0;
    style.upperBreaks = random.Below(3) == 0;
    return style;
  }

  void RealLine(std::string& out, bool dialogue) {
    static const char* const kEnds[] = {"", "", "", ".", "?", "!", "...", "?!"};
    if (dialogue) out += "- ";
    Line(out, random, 10);
    out += kEnds[random.Below(8)];
    const std::uint32_t extra = random.Below(100);
    if (extra < 2) {
      out += " &lt;";
      Line(out, random, 10);
      out += "&gt;";
    } else if (extra < 4) {
      out += " &quot;";
      out += kEnglishWords[random.Below(sizeof kEnglishWords / sizeof *kEnglishWords)];
      out += "&quot;";
    } else if (extra < 5) {
      out += " &amp; ";
      Line(out, random, 10);
    } else if (extra < 10) {
      out += "&nbsp;";
    } else if (extra < 14) {
      out += random.Below(2) == 0 ? "  " : "\t";
    }
  }

  std::string RealCaption(const Style& style) {
    std::string text;
    const std::uint32_t kind = random.Below(40);
    static const char* const kFonts[] = {"<font color=\"#ffff00\">", "<FONT COLOR=\"#FFFFFF\">",
                                         "<font color=#80ffff>", "<Font Color=\"yellow\">",
                                         "<font face=\"굴림\" color=\"#ff8000\">"};
    const char* open = "";
    const char* close = "";
    if (kind < 5) {
      open = kFonts[kind];
      close = kind == 1 ? "</FONT>" : "</font>";
    } else if (kind == 5) {
      open = "<i>";
      close = "</i>";
    } else if (kind == 6) {
      open = "<B>";
      close = "</B>";
    }
    const bool twoLines = random.Below(2) == 0;
    const bool dialogue = twoLines && random.Below(5) == 0;
    text += open;
    RealLine(text, dialogue);
    if (twoLines) {
      text += style.upperBreaks ? "<BR>" : "<br>";
      if (style.textBelow) text += "\r\n";
      RealLine(text, dialogue);
    }
    text += close;
    return text;
  }

  void RealSync(std::string& out, const Style& style, const std::string& text) {
    out += style.sync;
    out += std::to_string(time);
    out += '>';
    out += style.paragraph;
    if (style.textBelow) out += "\r\n";
    out += text;
    out += style.close;
    out += "\r\n";
    time += 300 + random.Below(4000);
  }

  void Real(std::string& out, size_t bytes) {
    const size_t stop = out.size() + bytes;
    Style style = RealStyle();
    while (out.size() < stop) {
      if (random.Below(3000) == 0) style = RealStyle();
      const std::string text = RealCaption(style);
      const std::uint32_t repeats = random.Below(8) == 0 ? 2 + random.Below(2) : 1;
      for (std::uint32_t i = 0; i < repeats; ++i) RealSync(out, style, text);
      if (random.Below(10) < 7) RealSync(out, style, random.Below(20) == 0 ? " &nbsp; " : "&nbsp;");
      if (random.Below(500) == 0) out += "<!-- 여기부터 2부 -->\r\n";
      if (random.Below(200) == 0) out += "\r\n";
    }
  }

  void Run(std::string& out, size_t bytes) {
    const size_t stop = out.size() + bytes;
    const std::string text = "지금 어디야?<br>Where are you now?";
    while (out.size() < stop) Sync(out, text);
    Sync(out, "&nbsp;");
  }

  void Block(std::string& out, size_t bytes) {
    out += "<SYNC Start=1000><P Class=KRCC>";
    const size_t stop = out.size() + bytes;
    while (out.size() < stop) {
      Line(out, random);
      out += random.Below(4) == 0 ? "<br>\r\n" : " ";
    }
    out += "\r\n<SYNC Start=2000><P Class=KRCC>&nbsp;\r\n";
  }

  void Tiny(std::string& out, size_t bytes) {
    const size_t stop = out.size() + bytes;
    std::int64_t t = 0;
    while (out.size() < stop) {
      out += "<SYNC Start=";
      out += std::to_string(t);
      out += ">";
      out += static_cast<char>('a' + t / 10 % 2);  // neighbours differ: no merged runs
      out += "\r\n";
      t += 10;
    }
  }

  void Body(std::string& out, const std::string& shape, size_t bytes) {
    if (shape == "film") {
      Film(out, bytes);
    } else if (shape == "run") {
      Run(out, bytes);
    } else if (shape == "block") {
      Block(out, bytes);
    } else if (shape == "tiny") {
      Tiny(out, bytes);
    } else if (shape == "repeat") {
      Repeat(out, bytes);
    } else if (shape == "real") {
      Real(out, bytes);
    } else {
      std::fprintf(stderr, "unknown shape: %s\n", shape.c_str());
      std::exit(2);
    }
  }
};

// Re-encodes UTF-8 text; the result for utf16 starts with its byte-order mark.
std::string Encode(const std::string& utf8, const std::string& encoding) {
  if (encoding == "utf8") return utf8;
  if (encoding == "utf8bom") return "\xEF\xBB\xBF" + utf8;
  const char* target = nullptr;
  std::string out;
  if (encoding == "utf16") {
    target = "UTF-16LE";
    out = "\xFF\xFE";
  } else if (encoding == "cp949") {
    target = "CP949";
  } else {
    std::fprintf(stderr, "unknown encoding: %s\n", encoding.c_str());
    std::exit(2);
  }
  iconv_t converter = iconv_open(target, "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    std::perror("iconv_open");
    std::exit(1);
  }
  const size_t prefix = out.size();
  out.resize(prefix + utf8.size() * 2 + 16);
  std::vector<char> input(utf8.begin(), utf8.end());
  char* in = input.data();
  size_t inLeft = input.size();
  char* o = &out[prefix];
  size_t outLeft = out.size() - prefix;
  if (iconv(converter, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
    std::perror("iconv");
    std::exit(1);
  }
  out.resize(out.size() - outLeft);
  iconv_close(converter);
  return out;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && !(argc == 7 && std::strcmp(argv[5], "--split") == 0)) {
    std::fprintf(stderr,
                 "usage: %s film|repeat|real|run|block|tiny utf16|utf8bom|utf8|cp949 BYTES OUTPUT "
                 "[--split N]\n",
                 argv[0]);
    return 2;
  }
  const std::string shape = argv[1];
  const std::string encoding = argv[2];
  const size_t bytes = std::strtoull(argv[3], nullptr, 10);
  const std::string output = argv[4];
  const size_t parts = argc == 7 ? std::strtoull(argv[6], nullptr, 10) : 1;
  if (parts == 0) return 2;

  // Each part is a whole SAMI file; the single file is their concatenation, so
  // both runs convert the same bytes.
  Generator generator;
  std::string whole;
  if (parts > 1) MakeDirectory(output + ".parts");
  for (size_t p = 0; p < parts; ++p) {
    std::string part = Header(shape);
    generator.Body(part, shape, bytes / parts);
    part += kFooter;
    const std::string encoded = Encode(part, encoding);
    // Only the first part's byte-order mark belongs in the single file.
    const size_t mark = encoding == "utf16" ? 2 : (encoding == "utf8bom" ? 3 : 0);
    whole.append(encoded, p == 0 ? 0 : mark, std::string::npos);
    if (parts > 1) {
      char folder[32];
      char name[32];
      std::snprintf(folder, sizeof folder, "/d%02zu", p / 50);
      std::snprintf(name, sizeof name, "/f%04zu.smi", p);
      const std::string directory = output + ".parts" + folder;
      MakeDirectory(directory);
      if (!WriteFile(directory + name, encoded)) {
        std::perror(name);
        return 1;
      }
    }
  }
  if (!WriteFile(output, whole)) {
    std::perror(output.c_str());
    return 1;
  }
  return 0;
}
