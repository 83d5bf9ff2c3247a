// End-to-end: inputs that a conversion with hidden quadratic work would take
// hours over finish within the harness's time limit, and a long input that
// is converted in no more memory than a short one.
#include <gtest/gtest.h>
#include <sys/resource.h>

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

// The largest resident size of any program this test has run, in KiB.
long LargestChildKib() {
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

TEST(EndToEndLargeInput, FortyMegabytesTakeNoMoreMemoryThanAFewKilobytes) {
  SKIP_FOR_WINDOWS_PROGRAM("the resident size of a program under Wine");
  TempDir dir;
  {
    // Clearing blocks with a caption now and then: the whole input is read,
    // little is written. (Freed before the runs: a program started by this
    // one counts what this one holds as its own until it starts.)
    std::string smi = "<SAMI><BODY>\r\n";
    for (int i = 1; smi.size() < 40000000; ++i) {
      smi += "<SYNC Start=" + std::to_string(i * 10) + "><P Class=KRCC>" +
             (i % 10000 == 0 ? "caption " + std::to_string(i) : std::string("&nbsp;")) + "\r\n";
    }
    ASSERT_TRUE(WriteFile(dir / "big.smi", smi));
    ASSERT_TRUE(WriteFile(dir / "small.smi", smi.substr(0, 4000)));
  }
  RunOptions options;
  options.timeoutSeconds = 20;
  ASSERT_EQ(RunLumentrace({"small.smi"}, dir.path(), {}, options).status, 0);
  const long smallKib = LargestChildKib();
  const RunResult large = RunLumentrace({"big.smi"}, dir.path(), {}, options);
  ASSERT_FALSE(large.timedOut);
  ASSERT_EQ(large.status, 0);
  EXPECT_LT(LargestChildKib() - smallKib, 16 * 1024) << "KiB more than for the short input";
  const std::string start =
      SrtBytes("1\n00:01:40,000 --> 00:01:40,010\ncaption 10000\n\n2\n00:03:20,000");
  EXPECT_EQ(ReadFile(dir / "big.srt").substr(0, start.size()), start);
}

}  // namespace
