#include <gtest/gtest.h>

#include "driver/banner.h"

TEST(Banner, HasElevenRows) { EXPECT_EQ(BannerRows().size(), 11u); }
