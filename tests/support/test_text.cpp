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
  // Built once each; the folders live until the test binary exits.
  struct Built {
    std::unique_ptr<TempDir> folder;
    LocaleBuild state = LocaleBuild::Failed;
  };
  static std::map<std::string, Built> built;
  const std::string name = input + "." + charmap;
  auto found = built.find(name);
  if (found == built.end()) {
    Built& entry = built[name];
    std::string localedef;
    if (!FindLocaledef(localedef)) {
      entry.state = LocaleBuild::NoLocaledef;
    } else {
      entry.folder = std::make_unique<TempDir>();
      const RunResult run = RunProgram(
          {localedef, "-i", input, "-f", charmap, *entry.folder / name}, entry.folder->path(), {});
      // localedef exits with 1 when it only warned; the locale is written then too.
      const bool written = FileExists(*entry.folder / (name + "/LC_CTYPE"));
      entry.state = written && (run.status == 0 || run.status == 1) ? LocaleBuild::Built
                                                                    : LocaleBuild::Failed;
      if (entry.state == LocaleBuild::Failed) {
        ADD_FAILURE() << "localedef failed (status " << run.status << "): " << run.out << run.err;
      }
    }
    found = built.find(name);
  }
  if (found->second.state == LocaleBuild::Built) locpath = found->second.folder->path();
  return found->second.state;
}

LocaleBuild BuildKoreanCp949Locale(std::string& locpath) {
  return BuildLocale("ko_KR", "CP949", locpath);
}
