#include "convert/srt_time.h"

namespace {

// Writes `value` (not negative) with at least `width` digits, ending at `end`;
// returns where the digits begin.
char16_t* PutDigits(char16_t* end, std::int32_t value, int width) {
  int written = 0;
  do {
    *--end = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
    ++written;
  } while (value != 0 || written < width);
  return end;
}

}  // namespace

WideString FormatSrtTime(std::int32_t ms) {
  WideString text;
  AppendSrtTime(text, ms);
  return text;
}

void AppendSrtTime(WideString& text, std::int32_t ms) {
  if (ms < 0) ms = 0;
  const std::int32_t hours = ms / 3600000;
  std::int32_t rest = ms % 3600000;
  const std::int32_t minutes = rest / 60000;
  rest %= 60000;
  const std::int32_t seconds = rest / 1000;
  const std::int32_t millis = rest % 1000;
  // Built backwards in one buffer: the longest is "596:31:23,647".
  char16_t buffer[24];
  char16_t* const end = buffer + sizeof buffer / sizeof *buffer;
  char16_t* p = PutDigits(end, millis, 3);
  *--p = u',';
  p = PutDigits(p, seconds, 2);
  *--p = u':';
  p = PutDigits(p, minutes, 2);
  *--p = u':';
  p = PutDigits(p, hours, 2);
  text.append(p, static_cast<size_t>(end - p));
}
