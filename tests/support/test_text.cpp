#include "tests/support/test_text.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

#include "tests/support/run_program.h"

const char* EncodingName(TestEncoding encoding) {
  switch (encoding) {
    case TestEncoding::Utf16LeBom:
      return "UTF-16LE with BOM";
    case TestEncoding::Utf8Bom:
      return "UTF-8 with BOM";
    case TestEncoding::Utf8:
      return "UTF-8 without BOM";
    case TestEncoding::Cp949:
      return "CP949";
    case TestEncoding::Cp1252:
      return "CP1252";
  }
  return "?";
}

namespace {

std::string Iconv(const std::string& utf8, const char* target) {
  iconv_t converter = iconv_open(target, "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv cannot convert to " << target;
    return {};
  }
  std::string out;
  std::string in = utf8;
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      ADD_FAILURE() << target << " cannot hold the test text at byte " << (in.size() - inLeft);
      break;
    }
  }
  iconv_close(converter);
  return out;
}

bool FindLocaledef(std::string& found) {
  std::string dirs = "/usr/bin:/usr/sbin:/bin:/sbin";
  if (const char* path = std::getenv("PATH")) dirs = std::string(path) + ":" + dirs;
  std::stringstream list(dirs);
  std::string dir;
  while (std::getline(list, dir, ':')) {
    const std::string candidate = dir + "/localedef";
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
      found = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string Encode(const std::string& utf8, TestEncoding encoding) {
  switch (encoding) {
    case TestEncoding::Utf16LeBom:
      return "\xFF\xFE" + Iconv(utf8, "UTF-16LE");
    case TestEncoding::Utf8Bom:
      return "\xEF\xBB\xBF" + utf8;
    case TestEncoding::Utf8:
      return utf8;
    case TestEncoding::Cp949:
      return Iconv(utf8, "CP949");
    case TestEncoding::Cp1252:
      return Iconv(utf8, "CP1252");
  }
  return {};
}

std::string SrtBytes(const std::string& utf8) {
  std::string crlf;
  for (char c : utf8) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return Encode(crlf, TestEncoding::Utf16LeBom);
}

LocaleBuild BuildLocale(const std::string& input, const std::string& charmap,
                        std::string& locpath) {
  // Every locale is built once, all into one folder that lives until the test
  // binary exits, so that one LOCPATH serves several locales at a time.
  static std::unique_ptr<TempDir> folder;
  static std::map<std::string, LocaleBuild> built;
  const std::string name = input + "." + charmap;
  auto found = built.find(name);
  if (found == built.end()) {
    LocaleBuild state = LocaleBuild::Failed;
    std::string localedef;
    if (!FindLocaledef(localedef)) {
      state = LocaleBuild::NoLocaledef;
    } else {
      if (!folder) folder = std::make_unique<TempDir>();
      const RunResult run =
          RunProgram({localedef, "-i", input, "-f", charmap, *folder / name}, folder->path(), {});
      // localedef exits with 1 when it only warned; the locale is written then too.
      const bool written = FileExists(*folder / (name + "/LC_CTYPE"));
      state = written && (run.status == 0 || run.status == 1) ? LocaleBuild::Built
                                                              : LocaleBuild::Failed;
      if (state == LocaleBuild::Failed) {
        ADD_FAILURE() << "localedef failed (status " << run.status << "): " << run.out << run.err;
      }
    }
    found = built.emplace(name, state).first;
  }
  if (found->second == LocaleBuild::Built) locpath = folder->path();
  return found->second;
}

LocaleBuild BuildKoreanCp949Locale(std::string& locpath) {
  return BuildLocale("ko_KR", "CP949", locpath);
}
