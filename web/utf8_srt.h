// The .srt the program writes (UTF-16LE behind a byte-order mark) as UTF-8
// without a byte-order mark, for players that read nothing else; the page's
// exports offer it next to the program's own output.
#ifndef LUMENTRACE_WEB_UTF8_SRT_H_
#define LUMENTRACE_WEB_UTF8_SRT_H_

#include <string>

// A lone surrogate becomes U+FFFD.
std::string Utf8SrtFromProgramSrt(const std::string& utf16);

#endif  // LUMENTRACE_WEB_UTF8_SRT_H_
