#include <gtest/gtest.h>

#include "engine/version.h"

TEST(ParseVersion, MajorShiftedAndMinorOred) {
  EXPECT_EQ(ParseVersion("1.00"), 65536);
  EXPECT_EQ(ParseVersion("1.01"), 65537);
  EXPECT_EQ(ParseVersion("1.1"), 65537);
  EXPECT_EQ(ParseVersion("1.10"), 65546);
  EXPECT_EQ(ParseVersion("2"), 131072);
  EXPECT_EQ(ParseVersion(""), 0);
  EXPECT_EQ(ParseVersion("abc"), 0);
  EXPECT_EQ(ParseVersion("0.0"), 0);
  EXPECT_EQ(ParseVersion("1.005"), 65541);
  EXPECT_GT(ParseVersion("1.10"), ParseVersion("1.9"));
}
