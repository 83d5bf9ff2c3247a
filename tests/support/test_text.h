// Test text in the encodings the program reads and writes, and a generated
// legacy-codeset locale.
#ifndef LUMENTRACE_TESTS_SUPPORT_TEST_TEXT_H_
#define LUMENTRACE_TESTS_SUPPORT_TEST_TEXT_H_

#include <string>

enum class TestEncoding {
  Utf16LeBom,  // FF FE, then UTF-16LE
  Utf8Bom,     // EF BB BF, then UTF-8
  Utf8,        // UTF-8 as it is
  Cp949,
  Cp1252,
};

const char* EncodingName(TestEncoding encoding);

// Converts UTF-8 test text with iconv. A character the target cannot hold
// fails the current test and is left out.
std::string Encode(const std::string& utf8, TestEncoding encoding);

// The bytes of an SRT file holding the UTF-8 text: FF FE, then UTF-16LE with
// every LF written as CR LF.
std::string SrtBytes(const std::string& utf8);

enum class LocaleBuild { Built, NoLocaledef, Failed };

// Builds ko_KR.CP949 into "<folder>/ko_KR.CP949" with localedef (no root
// needed) once per process, in a folder removed at exit. On Built, locpath
// names the folder to pass as LOCPATH.
LocaleBuild BuildKoreanCp949Locale(std::string& locpath);

// Builds the locale "<input>.<charmap>" the same way (ja_JP and WINDOWS-31J, say).
LocaleBuild BuildLocale(const std::string& input, const std::string& charmap, std::string& locpath);

#endif  // LUMENTRACE_TESTS_SUPPORT_TEST_TEXT_H_
