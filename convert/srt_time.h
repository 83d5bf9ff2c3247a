// SRT time stamps.
#ifndef LUMENTRACE_CONVERT_SRT_TIME_H_
#define LUMENTRACE_CONVERT_SRT_TIME_H_

#include <cstdint>

#include "text/wide_string.h"

// HH:MM:SS,mmm for a time in milliseconds. Hours grow past two digits as
// needed (100 hours and more); a negative time is written as 00:00:00,000,
// since a time field with a minus sign is malformed SRT that players reject.
WideString FormatSrtTime(std::int32_t ms);
// The same, appended to `text`.
void AppendSrtTime(WideString& text, std::int32_t ms);

#endif  // LUMENTRACE_CONVERT_SRT_TIME_H_
