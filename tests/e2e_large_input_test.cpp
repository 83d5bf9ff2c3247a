// End-to-end: inputs that a conversion with hidden quadratic work would take
// hours over finish within the harness's time limit.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/console_text.h"
#include "tests/support/run_program.h"
#include "tests/support/test_text.h"

namespace {

RunResult ConvertOne(const TempDir& dir, const std::string& smi) {
  EXPECT_TRUE(WriteFile(dir / "big.smi", smi));
  RunOptions options;
  options.timeoutSeconds = 20;
  return RunLumentrace({"big.smi"}, dir.path(), {}, options);
}

TEST(EndToEndLargeInput, CaptionOfAMillionUnterminatedEntities) {
  std::string entities;
  for (int i = 0; i < 1000000; ++i) entities += "&n";
  TempDir dir;
  const RunResult run =
      ConvertOne(dir, "<SYNC Start=100>" + entities + "\r\n<SYNC Start=200>&nbsp;\r\n");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(dir / "big.srt"), SrtBytes("1\n00:00:00,100 --> 00:00:00,200\n" + entities));
}

TEST(EndToEndLargeInput, RunOfAHundredThousandTagHeavyRepeats) {
  std::string smi = "<SAMI><BODY>\r\n";
  for (int i = 1; i <= 100000; ++i) {
    smi += "<SYNC Start=" + std::to_string(i * 10) +
           "><P Class=CC><FONT Color=\"#FFFFFF\"><B>same</B></FONT>\r\n";
  }
  smi += "<SYNC Start=1000010>&nbsp;\r\n</BODY></SAMI>\r\n";
  TempDir dir;
  const RunResult run = ConvertOne(dir, smi);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.out, BannerText() + SuccessLine("big.smi"));
  EXPECT_EQ(run.status, 0);
  // One cue from the first block's start to the clearing block's.
  EXPECT_EQ(ReadFile(dir / "big.srt"), SrtBytes("1\n00:00:00,010 --> 00:16:40,010\nsame"));
}

}  // namespace
