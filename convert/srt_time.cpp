#include "convert/srt_time.h"

WideString FormatSrtTime(std::int32_t ms) {
  if (ms < 0) ms = 0;
  const std::int32_t hours = ms / 3600000;
  std::int32_t rest = ms % 3600000;
  const std::int32_t minutes = rest / 60000;
  rest %= 60000;
  const std::int32_t seconds = rest / 1000;
  const std::int32_t millis = rest % 1000;
  WideString out = FormatZeroPadded(hours, 2);
  out += u':';
  out += FormatZeroPadded(minutes, 2);
  out += u':';
  out += FormatZeroPadded(seconds, 2);
  out += u',';
  out += FormatZeroPadded(millis, 3);
  return out;
}
