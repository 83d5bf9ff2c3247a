// What the program prints, for comparing console output exactly.
#ifndef LUMENTRACE_TESTS_SUPPORT_CONSOLE_TEXT_H_
#define LUMENTRACE_TESTS_SUPPORT_CONSOLE_TEXT_H_

#include <string>

#include "driver/banner.h"

// The eleven banner rows, each followed by LF.
inline std::string BannerText() {
  std::string text;
  for (std::string_view row : BannerRows()) {
    text.append(row);
    text += '\n';
  }
  return text;
}

inline std::string SuccessLine(const std::string& name) {
  return "[SUCCESS] '" + name + "' conversion is complete!!\n";
}

inline const char kOpenError[] = "[ERROR] The data file could not be opened\n";
inline const char kWriteError[] = "[ERROR] The output file could not be written\n";

#endif  // LUMENTRACE_TESTS_SUPPORT_CONSOLE_TEXT_H_
