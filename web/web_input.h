// What the page's two entries (lumentrace_web.cpp, language_split_web.cpp)
// share: the input the page wrote, the way an .srt goes to the page, and what
// the page is told about the input.
#ifndef LUMENTRACE_WEB_WEB_INPUT_H_
#define LUMENTRACE_WEB_WEB_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>

// lumentrace_inspect's answer, one bit each.
constexpr std::int32_t kReadInCodePage = 1;
constexpr std::int32_t kHasSyncTag = 2;

// The bytes of the file being converted (lumentrace_input).
std::string& WebInput();

// Hands a whole .srt to the page.
void HandOverSrt(const std::string& srt);

// Whether `bytes` hold "<sync" in any case, in one byte or in two a letter
// (UTF-16 of either order shows it as '<', 0, 's', 0... from some byte on).
bool HasSyncTag(const unsigned char* bytes, size_t size);

#endif  // LUMENTRACE_WEB_WEB_INPUT_H_
