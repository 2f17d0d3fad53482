#include <gtest/gtest.h>

#include <cstring>

#include "hx6_tool.h"

TEST(ThxHugeSet, PagesGrowOnlyAsFarAsTouched) {
  ThxHugeSet set;
  EXPECT_EQ(set.HighestIndex(), -1);
  EXPECT_FALSE(set.TestBit(0));
  EXPECT_EQ(set.PageCount(), 0);

  set.SetBit(131072, ThxHugeSet::opSet);
  EXPECT_EQ(set.PageCount(), 2);
  EXPECT_TRUE(set.TestBit(131072));
  EXPECT_FALSE(set.TestBit(131071));
  EXPECT_FALSE(set.TestBit(131073));

  ThxHugeSet cleared;
  cleared.SetBit(200000, ThxHugeSet::opClear);
  EXPECT_EQ(cleared.HighestIndex(), 200000);
  EXPECT_EQ(cleared.PageCount(), 2);
  EXPECT_FALSE(cleared.TestBit(200000));
}

TEST(ThxHugeSet, SetClearToggleKeepNeighbours) {
  ThxHugeSet set;
  for (int32_t i : {0, 7, 8, 9, 16383 * 8 + 7, 131071}) set.SetBit(i, ThxHugeSet::opSet);
  for (int32_t i = 0; i <= 131071; ++i) {
    const bool expected = i == 0 || i == 7 || i == 8 || i == 9 || i == 16383 * 8 + 7 || i == 131071;
    ASSERT_EQ(set.TestBit(i), expected) << i;
  }
  set.SetBit(8, ThxHugeSet::opClear);
  set.SetBit(9, ThxHugeSet::opToggle);
  set.SetBit(10, ThxHugeSet::opToggle);
  EXPECT_TRUE(set.TestBit(7));
  EXPECT_FALSE(set.TestBit(8));
  EXPECT_FALSE(set.TestBit(9));
  EXPECT_TRUE(set.TestBit(10));
  EXPECT_EQ(set.HighestIndex(), 131071);
  EXPECT_EQ(set.PageCount(), 1);

  set.SetBit(-1, ThxHugeSet::opSet);  // ignored
  EXPECT_FALSE(set.TestBit(-1));
  set.ClearAll();
  EXPECT_EQ(set.HighestIndex(), -1);
  EXPECT_EQ(set.PageCount(), 1);
  EXPECT_FALSE(set.TestBit(7));
  set.SetBit(131071, ThxHugeSet::opSet);  // pages came back zeroed
  EXPECT_FALSE(set.TestBit(7));
  EXPECT_TRUE(set.TestBit(131071));
}

TEST(ThxHugeSet, LargeRecordNumbers) {
  ThxHugeSet set;
  set.SetBit(5'000'000, ThxHugeSet::opSet);
  EXPECT_EQ(set.PageCount(), 5'000'000 / 131072 + 1);
  EXPECT_TRUE(set.TestBit(5'000'000));
  EXPECT_FALSE(set.TestBit(5'000'001));
  EXPECT_FALSE(set.TestBit(2'000'000'000));
}

TEST(FileNameHelpers, DefaultFileExt) {
  EXPECT_EQ(DefaultFileExt("LOGBOOK", ".DBF"), "LOGBOOK.DBF");
  EXPECT_EQ(DefaultFileExt("logbook.dbf", ".DBF"), "logbook.dbf");
  EXPECT_EQ(DefaultFileExt("/home/op/my.logs/LOG", ".cdx"), "/home/op/my.logs/LOG.cdx");
  EXPECT_EQ(DefaultFileExt("/home/op/LOG.", ".cdx"), "/home/op/LOG.");
}

TEST(FileNameHelpers, StripFileExt) {
  EXPECT_EQ(StripFileExt("/home/op/LOG.DBF"), "LOG");
  EXPECT_EQ(StripFileExt("/home/op/my.logs/LOG"), "LOG");
  EXPECT_EQ(StripFileExt("a.b.c"), "a.b");
  EXPECT_EQ(StripFileExt("LOG"), "LOG");
  EXPECT_EQ(StripFileExt("/dir/"), "");
}

TEST(FileNameHelpers, StrPadChar) {
  char buffer[12] = "AB";
  StrPadChar(buffer, ' ', 5);
  EXPECT_STREQ(buffer, "AB   ");
  StrPadChar(buffer, '*', 3);  // already long enough
  EXPECT_STREQ(buffer, "AB   ");
  char empty[4] = "";
  StrPadChar(empty, '0', 3);
  EXPECT_STREQ(empty, "000");
}
