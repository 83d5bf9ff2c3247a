#include "convert/srt_time.h"

#include <gtest/gtest.h>

#include <climits>

TEST(FormatSrtTime, FormatsHoursMinutesSecondsAndMilliseconds) {
  struct Case {
    std::int32_t ms;
    const char16_t* text;
  } cases[] = {
      {0, u"00:00:00,000"},
      {1000, u"00:00:01,000"},
      {59999, u"00:00:59,999"},
      {60000, u"00:01:00,000"},
      {3600000, u"01:00:00,000"},
      {360000000, u"100:00:00,000"},
      {INT32_MAX, u"596:31:23,647"},
      // A minus sign in a time field is malformed SRT; negative times clamp to zero.
      {-500, u"00:00:00,000"},
      {INT32_MIN, u"00:00:00,000"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSrtTime(c.ms), c.text) << c.ms;
}
