#include "text/code_page_names.h"

namespace {

std::string& SelectedCodePage() {
  static std::string name = "CP1252";
  return name;
}

}  // namespace

bool IsOneOfNames(std::string_view value, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (value == name) return true;
  }
  return false;
}

namespace {

std::string Lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

std::string AnsiCodePageForLocaleName(std::string_view localeName) {
  // language[_territory][.codeset][@modifier]
  const size_t languageEnd = localeName.find_first_of("_.@");
  const std::string language = Lowercase(localeName.substr(0, languageEnd));
  std::string territory;
  if (languageEnd != std::string_view::npos && localeName[languageEnd] == '_') {
    const std::string_view rest = localeName.substr(languageEnd + 1);
    territory = Lowercase(rest.substr(0, rest.find_first_of(".@")));
  }
  std::string modifier;
  const size_t at = localeName.find('@');
  if (at != std::string_view::npos) modifier = Lowercase(localeName.substr(at + 1));

  if (language == "ko") return "CP949";
  if (language == "ja") return "CP932";
  if (language == "zh") {
    return IsOneOfNames(territory, {"tw", "hk", "mo"}) ? "CP950" : "CP936";
  }
  if (language == "th") return "CP874";
  if (language == "vi") return "CP1258";
  if (language == "sr" && modifier == "latin") return "CP1250";
  if (IsOneOfNames(language, {"ru", "uk", "be", "bg", "mk", "sr", "kk", "ky", "tt", "mn"}))
    return "CP1251";
  if (IsOneOfNames(language, {"pl", "cs", "sk", "hu", "hr", "sl", "ro", "sq", "bs"}))
    return "CP1250";
  if (language == "el") return "CP1253";
  if (IsOneOfNames(language, {"tr", "az"})) return "CP1254";
  if (language == "he") return "CP1255";
  if (IsOneOfNames(language, {"ar", "fa", "ur"})) return "CP1256";
  if (IsOneOfNames(language, {"et", "lv", "lt"})) return "CP1257";
  return "CP1252";
}

void SetAnsiCodePageName(const std::string& codePage) {
  SelectedCodePage() = codePage;
}

const std::string& AnsiCodePageName() {
  return SelectedCodePage();
}
