#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <set>
#include <vector>

#include "base/hx6_tool.h"

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

TEST(ThxHugeSet, OperationsAroundPageBoundariesMatchAPlainBitVector) {
  // Indexes clustered around the first page boundaries and around byte edges inside pages.
  std::mt19937 random(3);
  const int32_t kPage = ThxHugeSet::kBitsPerPage;
  std::vector<bool> reference(static_cast<size_t>(4 * kPage + 16), false);
  ThxHugeSet set;
  int32_t highest = -1;
  for (int step = 0; step < 20000; ++step) {
    const int32_t base = kPage * static_cast<int32_t>(random() % 4 + 1);
    const int32_t index = base + static_cast<int32_t>(random() % 24) - 12;
    const int operation = static_cast<int>(random() % 3);
    set.SetBit(index, operation);
    auto bit = reference[static_cast<size_t>(index)];
    bit = operation == ThxHugeSet::opClear ? false : (operation == ThxHugeSet::opSet ? true : !bit);
    highest = std::max(highest, index);
    ASSERT_EQ(set.HighestIndex(), highest);
    ASSERT_EQ(set.PageCount(), highest / kPage + 1);
  }
  for (int32_t i = 0; i < static_cast<int32_t>(reference.size()); ++i)
    ASSERT_EQ(set.TestBit(i), i <= highest && reference[static_cast<size_t>(i)]) << i;
}

TEST(ThxHugeSet, NextAndPriorSetBitAgreeWithTheBitsSet) {
  // Sparse and dense stretches across byte and page edges, with clear bits left above the
  // highest set one (a clear also raises the highest index).
  std::mt19937 random(11);
  const int32_t kPage = ThxHugeSet::kBitsPerPage;
  const int32_t size = 2 * kPage + 40;
  ThxHugeSet set;
  std::set<int32_t> bits = {0, 7, 8, 9, 63, 64, kPage - 1, kPage, kPage + 1, 2 * kPage + 5};
  for (int step = 0; step < 300; ++step)
    bits.insert(static_cast<int32_t>(random() % static_cast<unsigned>(size - 20)));
  for (int32_t i : bits) set.SetBit(i, ThxHugeSet::opSet);
  set.SetBit(size - 1, ThxHugeSet::opClear);
  auto next = [&](int32_t from, int32_t last) {
    auto it = bits.lower_bound(std::max(from, 0));
    return it != bits.end() && *it <= last ? *it : -1;
  };
  auto prior = [&](int32_t from) {
    auto it = bits.upper_bound(from);
    return it == bits.begin() ? -1 : *std::prev(it);
  };
  for (int32_t from = -2; from < size + 10; ++from) {
    ASSERT_EQ(set.NextSetBit(from, size + 10), next(from, size + 10)) << from;
    ASSERT_EQ(set.NextSetBit(from, from + 3), next(from, from + 3)) << from;
    ASSERT_EQ(set.PriorSetBit(from), prior(from)) << from;
  }
  EXPECT_EQ(set.NextSetBit(0, 2'000'000'000), 0);
  EXPECT_EQ(set.NextSetBit(2'000'000'000, 2'147'483'647), -1);
  EXPECT_EQ(set.PriorSetBit(2'147'483'647), *bits.rbegin());

  ThxHugeSet empty;
  EXPECT_EQ(empty.NextSetBit(0, 100), -1);
  EXPECT_EQ(empty.PriorSetBit(100), -1);
  set.ClearAll();
  EXPECT_EQ(set.NextSetBit(0, size), -1);
  EXPECT_EQ(set.PriorSetBit(size), -1);
}

TEST(FileNameHelpers, DefaultFileExt) {
  EXPECT_EQ(DefaultFileExt("LOGBOOK", ".DBF"), "LOGBOOK.DBF");
  EXPECT_EQ(DefaultFileExt("logbook.dbf", ".DBF"), "logbook.dbf");
  EXPECT_EQ(DefaultFileExt("/home/op/my.logs/LOG", ".cdx"), "/home/op/my.logs/LOG.cdx");
  EXPECT_EQ(DefaultFileExt("/home/op/LOG.", ".cdx"), "/home/op/LOG.");
  EXPECT_EQ(DefaultFileExt("C:\\LOGS.OLD\\LOG", ".DBF"), "C:\\LOGS.OLD\\LOG.DBF");
  EXPECT_EQ(DefaultFileExt("C:LOG", ".DBF"), "C:LOG.DBF");
  EXPECT_EQ(DefaultFileExt("LOGS.OLD\\LOG.dbf", ".DBF"), "LOGS.OLD\\LOG.dbf");
}

TEST(FileNameHelpers, StripFileExt) {
  EXPECT_EQ(StripFileExt("/home/op/LOG.DBF"), "LOG");
  EXPECT_EQ(StripFileExt("/home/op/my.logs/LOG"), "LOG");
  EXPECT_EQ(StripFileExt("a.b.c"), "a.b");
  EXPECT_EQ(StripFileExt("LOG"), "LOG");
  EXPECT_EQ(StripFileExt("/dir/"), "");
  EXPECT_EQ(StripFileExt("C:\\LOGS.OLD\\LOG.DBF"), "LOG");
  EXPECT_EQ(StripFileExt("C:LOG.DBF"), "LOG");
  EXPECT_EQ(StripFileExt("/home/op/mixed\\dirs/LOG.DBF"), "LOG");
  EXPECT_EQ(StripFileExt("/home/op/log:2024.dbf"), "log:2024");  // a colon elsewhere is a letter
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
