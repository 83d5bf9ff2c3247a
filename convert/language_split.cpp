#include "convert/language_split.h"

#include <string_view>
#include <utility>

#include "convert/conversion.h"
#include "convert/sync_block.h"
#include "text/text_stream.h"

namespace {

// A tag that starts or ends a paragraph, at the byte position of its '<'.
struct Mark {
  size_t at = 0;
  bool paragraph = false;  // <P>; otherwise <SYNC> or </BODY>, which only end one
  WideString className;    // a paragraph's class; empty for none
};

struct ScannedFile {
  std::vector<Mark> marks;  // those after the first sync tag, in order
  WideString header;        // every character before the first sync tag
  SourceEncoding encoding = EncodingAnsi;
  CodePageDecoder* reading = nullptr;  // how ANSI input was decoded; null is UTF-8
};

char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

bool EqualIgnoringAsciiCase(WideView a, WideView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsAsciiSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v';
}

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsNameChar(char16_t c) {
  return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
}

WideView TrimAscii(WideView text) {
  while (!text.empty() && IsAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The tag's name: what follows the '<' up to white space or the '>'.
WideView TagName(WideView tag) {
  size_t end = 1;
  while (end + 1 < tag.size() && !IsAsciiSpace(tag[end])) ++end;
  return tag.substr(1, end - 1);
}

// The value of a <P> tag's first class attribute; empty when it has none.
// "Class=" with no value, or with an empty quoted one, is no class: that
// paragraph belongs to every language. A quoted value that is not closed
// before the tag's '>' runs to the '>'.
WideString ClassOf(WideView tag) {
  WideView rest = tag.substr(1 + TagName(tag).size());
  rest.remove_suffix(1);  // the '>'
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && IsAsciiSpace(rest[i])) ++i;
    const size_t nameStart = i;
    while (i < rest.size() && !IsAsciiSpace(rest[i]) && rest[i] != u'=') ++i;
    const WideView name = rest.substr(nameStart, i - nameStart);
    while (i < rest.size() && IsAsciiSpace(rest[i])) ++i;
    WideView value;
    if (i < rest.size() && rest[i] == u'=') {
      ++i;
      while (i < rest.size() && IsAsciiSpace(rest[i])) ++i;
      if (i < rest.size() && (rest[i] == u'"' || rest[i] == u'\'')) {
        const char16_t quote = rest[i++];
        const size_t valueStart = i;
        while (i < rest.size() && rest[i] != quote) ++i;
        value = rest.substr(valueStart, i - valueStart);
        if (i < rest.size()) ++i;
      } else {
        const size_t valueStart = i;
        while (i < rest.size() && !IsAsciiSpace(rest[i])) ++i;
        value = rest.substr(valueStart, i - valueStart);
      }
    }
    if (EqualIgnoringAsciiCase(name, u"class")) return WideString(value);
  }
  return WideString();
}

// True when the tag is the conversion's sync tag, which ends the header.
bool IsConversionSyncTag(WideView tag) {
  WideString start(tag.substr(0, 12));  // "<sync start=".size()
  MakeLower(start);
  return IsSyncTag(start);
}

// Reads the file once, character by character as the conversion decodes it,
// and notes every tag that starts or ends a paragraph after the first sync
// tag. Tags run from '<' to the next '>'; a '<' with no '>' after it starts
// no tag, and the rest of the file is text.
ScannedFile ScanFile(const std::string& sami, CodePageDecoder& codePage) {
  ScannedFile file;
  file.encoding = EncodingOfFirstByte(sami.empty() ? 0 : static_cast<unsigned char>(sami[0]));
  TextStream input;
  OpenTextStreamOverBytes(input, sami, StreamModeFor(file.encoding), &codePage);
  ChooseAnsiReading(input);
  bool inBody = false;
  WideString tag;
  // A U+FFFF in the file reads like the end without being it; it is text here.
  const auto atEnd = [&input](char16_t c) { return c == kEndOfInput && AtEndOfFile(input); };
  for (;;) {
    const size_t at = Position(input);
    char16_t c = ReadCharInline(input);
    if (atEnd(c)) break;
    if (c != u'<') {
      if (!inBody) file.header.push_back(c);
      continue;
    }
    tag.assign(1, u'<');
    do {
      c = ReadCharInline(input);
      if (atEnd(c)) break;
      tag.push_back(c);
    } while (c != u'>');
    if (tag.back() != u'>') break;
    if (!inBody) {
      inBody = IsConversionSyncTag(tag);
      if (!inBody) {
        file.header += tag;
        continue;
      }
    }
    const WideView name = TagName(tag);
    if (EqualIgnoringAsciiCase(name, u"p")) {
      file.marks.push_back({at, true, ClassOf(tag)});
    } else if (EqualIgnoringAsciiCase(name, u"sync") || EqualIgnoringAsciiCase(name, u"/body")) {
      file.marks.push_back({at, false, WideString()});
    }
  }
  file.reading = input.codePage;
  return file;
}

std::string Filter(const std::string& sami, const ScannedFile& file, WideView className) {
  std::string kept;
  size_t from = 0;
  bool keeping = true;
  for (const Mark& mark : file.marks) {
    const bool keep = !mark.paragraph || mark.className.empty() ||
                      EqualIgnoringAsciiCase(mark.className, className);
    if (keep == keeping) continue;
    if (keeping) {
      kept.append(sami, from, mark.at - from);
    } else {
      from = mark.at;
    }
    keeping = keep;
  }
  if (keeping) kept.append(sami, from, std::string::npos);
  return kept;
}

// The "lang:" of each class rule in the header's style sheet, as
// (class, primary subtag) pairs in the order they appear. A rule is a selector
// ending in ".NAME" ("P.KRCC" too) before '{'; its declarations run to the
// next '}'. Only a primary subtag of one to eight ASCII letters is taken.
std::vector<std::pair<WideString, std::string>> StyleLanguages(WideView header) {
  std::vector<std::pair<WideString, std::string>> found;
  size_t selectorStart = 0;
  for (size_t open = header.find(u'{'); open != WideView::npos;
       open = header.find(u'{', selectorStart)) {
    size_t close = header.find(u'}', open);
    if (close == WideView::npos) close = header.size();
    const WideView selector = TrimAscii(header.substr(selectorStart, open - selectorStart));
    selectorStart = close == header.size() ? close : close + 1;
    size_t nameStart = selector.size();
    while (nameStart > 0 && IsNameChar(selector[nameStart - 1])) --nameStart;
    if (nameStart == 0 || nameStart == selector.size() || selector[nameStart - 1] != u'.') continue;
    const WideView body = header.substr(open + 1, close - open - 1);
    std::string language;
    for (size_t start = 0; start <= body.size();) {
      size_t end = body.find(u';', start);
      if (end == WideView::npos) end = body.size();
      const WideView declaration = body.substr(start, end - start);
      start = end + 1;
      const size_t colon = declaration.find(u':');
      if (colon == WideView::npos ||
          !EqualIgnoringAsciiCase(TrimAscii(declaration.substr(0, colon)), u"lang"))
        continue;
      const WideView value = TrimAscii(declaration.substr(colon + 1));
      std::string subtag;
      size_t i = 0;
      while (i < value.size() && IsAsciiLetter(value[i]) && i < 9) {
        subtag.push_back(static_cast<char>(AsciiLower(value[i])));
        ++i;
      }
      const bool ended = i == value.size() || value[i] == u'-' || value[i] == u'_';
      // The last "lang:" of a rule counts, as a style sheet's later declaration does.
      if (!subtag.empty() && subtag.size() <= 8 && ended) language = subtag;
    }
    if (!language.empty()) found.emplace_back(WideString(selector.substr(nameStart)), language);
  }
  return found;
}

// The class name as a safe piece of a file name: ASCII letters in lower case,
// digits, '-' and '_' as they are, anything else '_', cut to 32 characters.
std::string NamePart(WideView className) {
  constexpr size_t kLongest = 32;
  std::string part;
  for (size_t i = 0; i < className.size() && part.size() < kLongest; ++i) {
    const char16_t c = className[i];
    part.push_back(IsNameChar(c) ? static_cast<char>(AsciiLower(c)) : '_');
  }
  return part;
}

}  // namespace

std::vector<SamiLanguage> FindLanguages(const std::string& sami, CodePageDecoder& codePage) {
  const ScannedFile file = ScanFile(sami, codePage);
  std::vector<SamiLanguage> languages;
  for (const Mark& mark : file.marks) {
    if (!mark.paragraph || mark.className.empty()) continue;
    bool known = false;
    for (const SamiLanguage& language : languages) {
      known = known || EqualIgnoringAsciiCase(language.className, mark.className);
    }
    if (known) continue;
    if (languages.size() == kMaxLanguages) return {};
    languages.push_back({mark.className, std::string()});
  }
  if (languages.size() < 2) return {};

  const auto style = StyleLanguages(file.header);
  std::vector<std::string> subtags(languages.size());
  for (size_t i = 0; i < languages.size(); ++i) {
    // A later rule for the same class overrides an earlier one.
    for (const auto& rule : style) {
      if (EqualIgnoringAsciiCase(rule.first, languages[i].className)) subtags[i] = rule.second;
    }
  }
  for (size_t i = 0; i < languages.size(); ++i) {
    std::string& suffix = languages[i].suffix;
    if (subtags[i].empty()) {
      suffix = NamePart(languages[i].className);
      continue;
    }
    suffix = subtags[i];
    for (size_t j = 0; j < languages.size(); ++j) {
      if (j != i && subtags[j] == subtags[i]) {
        suffix += "." + NamePart(languages[i].className);
        break;
      }
    }
  }
  // Names can still meet (a class "ko" beside a class with lang:ko, or two
  // names that differ only in characters that became '_'): a later one gets
  // a number, so that no output replaces another.
  for (size_t i = 1; i < languages.size(); ++i) {
    const std::string base = languages[i].suffix;
    for (int n = 2;; ++n) {
      bool taken = false;
      for (size_t j = 0; j < i; ++j) taken = taken || languages[j].suffix == languages[i].suffix;
      if (!taken) break;
      languages[i].suffix = base + "." + std::to_string(n);
    }
  }
  return languages;
}

std::string KeepLanguage(const std::string& sami, CodePageDecoder& codePage, WideView className) {
  return Filter(sami, ScanFile(sami, codePage), className);
}

std::string ConvertLanguage(const std::string& sami, CodePageDecoder& codePage, WideView className,
                            std::int32_t* cues, SrtEncoding output) {
  const ScannedFile file = ScanFile(sami, codePage);
  // ANSI input that is valid UTF-8 as a whole is read as UTF-8, otherwise in
  // the code page. Taking out another language's text can turn a file in a
  // code page into valid UTF-8 (a CP949 syllable may also be a UTF-8
  // character), so the part keeps the whole file's reading.
  const AnsiReading ansi = file.encoding == EncodingAnsi && file.reading != nullptr
                               ? AnsiReading::kCodePage
                               : AnsiReading::kUtf8WhenValid;
  std::string srt;
  const std::int32_t written = ConvertSami(Filter(sami, file, className), file.encoding, codePage,
                                           StringSink(srt), output, ansi);
  if (cues != nullptr) *cues = written;
  return srt;
}
