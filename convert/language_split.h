// Files that carry two or more languages in each sync block (Korean in
// <P Class=KRCC>, English in <P Class=ENCC>), split into one input per
// language, each of which then goes through the one conversion.
//
// A file's languages are the distinct Class values of the <P> tags after its
// first sync tag, name and value compared ignoring ASCII case, quoted or not.
// For one class C a file keeps, of every paragraph, only C's: a paragraph runs
// from its <P> tag to the next <P>, <SYNC> or </BODY> tag (the name followed by
// white space or '>', any ASCII case). Text in a block before its first <P>,
// and a paragraph whose <P> has no class, belong to every language. Tags are
// read as the conversion reads them: from '<' to the next '>', characters
// decoded in the file's own encoding, so a '<' or a tag name is never found
// inside a multi-byte character.
#ifndef LUMENTRACE_CONVERT_LANGUAGE_SPLIT_H_
#define LUMENTRACE_CONVERT_LANGUAGE_SPLIT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/srt_output.h"
#include "text/char_decoding.h"
#include "text/wide_string.h"

// More languages than this and a file is not split: a file with hundreds of
// classes is not a subtitle in several languages, and splitting it would
// multiply its size by the number of classes.
constexpr size_t kMaxLanguages = 16;

struct SamiLanguage {
  WideString className;  // as first written in the body
  // What goes between the file's base name and ".srt" (film.ko.srt): the
  // primary subtag of the class's "lang:" in the header's style sheet ("ko"
  // for ko-KR), or the class name in lower case when the style gives none
  // ("krcc"); "ko.krcc" when two classes have the same language. Made of
  // ASCII letters, digits, '-', '_' and '.' (any other character of a class
  // name becomes '_'), under 50 characters, never empty, and distinct within
  // a file: a name met twice gets ".2", ".3" and so on.
  std::string suffix;
};

// The languages of a SAMI file's bytes (any of the encodings the conversion
// reads; `codePage` decodes ANSI input), in the order they first appear.
// Empty when the file is not to be split: fewer than two classes, or more
// than kMaxLanguages.
std::vector<SamiLanguage> FindLanguages(const std::string& sami, CodePageDecoder& codePage);

// The bytes of the file as it would be with only `className`'s paragraphs
// (compared ignoring ASCII case) kept in each block. Whole characters are
// removed, the first byte stays, so the result is read in the same encoding.
// A class the file does not use keeps only what belongs to every language.
std::string KeepLanguage(const std::string& sami, CodePageDecoder& codePage, WideView className);

// Converts one language of the file as ConvertBytes converts a file: the
// .srt bytes of KeepLanguage's result, with `cues` (when given) receiving
// the number of cues. ANSI input is read the way the whole file is read
// (UTF-8 or the code page), even when the kept part alone would read
// otherwise.
std::string ConvertLanguage(const std::string& sami, CodePageDecoder& codePage, WideView className,
                            std::int32_t* cues = nullptr,
                            SrtEncoding output = SrtEncoding::kUtf16Le);

#endif  // LUMENTRACE_CONVERT_LANGUAGE_SPLIT_H_
