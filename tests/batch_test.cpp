#include "driver/batch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/banner.h"

// A start without even the program's own name has no paths and is not the
// directory mode: the banner, and status 0. (exec on Linux never delivers a
// count of 0, so this is tested on the function.)
TEST(RunBatch, CountOfZeroPrintsOnlyTheBanner) {
  testing::internal::CaptureStdout();
  const int status = RunBatch(0, nullptr);
  std::fflush(stdout);
  const std::string printed = testing::internal::GetCapturedStdout();
  std::string banner;
  for (std::string_view row : BannerRows()) {
    banner.append(row);
    banner.push_back('\n');
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(printed, banner);
}
