#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "hx6_glbl.h"
#include "hx6_sort.h"

namespace {

ThxVariant Text(std::string_view s) {
  ThxVariant v;
  v.PutString(s);
  return v;
}
ThxVariant Float(double d) {
  ThxVariant v;
  v.PutFloat(d);
  return v;
}
ThxVariant Date(int32_t d) {
  ThxVariant v;
  v.PutDate(d);
  return v;
}

struct Pair {
  std::string key;
  int32_t record;
};

std::vector<Pair> DrainText(ThxSort& sort) {
  std::vector<Pair> out;
  ThxVariant key;
  int32_t record = 0;
  while (sort.GetNextKey(key, record)) {
    EXPECT_EQ(key.Type(), vtText);
    out.push_back({key.GetString(), record});
  }
  return out;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Builds random keys over a small alphabet (many shared prefixes, duplicates and keys that are
// prefixes of others), sorts them, and checks the sorter against std::sort.
void CheckRandomText(bool ascending, bool unique, int count, int minRuns) {
  std::mt19937 random(ascending * 2 + unique + 17);
  std::uniform_int_distribution<int> length(0, 12);
  std::uniform_int_distribution<int> letter(0, 4);
  std::vector<Pair> pairs;
  ThxSort sort(20, nullptr, ascending, unique);
  for (int i = 0; i < count; ++i) {
    std::string key;
    const int n = length(random);
    for (int j = 0; j < n; ++j) key += static_cast<char>('A' + letter(random));
    if (i % 7 == 0) key += "  ";  // trailing blanks are not part of the key
    const int32_t record = (i * 7919) % count + 1;
    sort.InsertKey(Text(key), record);
    pairs.push_back({Trimmed(key), record});
  }
  EXPECT_GE(sort.RunCount(), minRuns);
  std::sort(pairs.begin(), pairs.end(), [&](const Pair& a, const Pair& b) {
    return ascending ? std::tie(a.key, a.record) < std::tie(b.key, b.record)
                     : std::tie(a.key, a.record) > std::tie(b.key, b.record);
  });
  if (unique) {
    pairs.erase(std::unique(pairs.begin(), pairs.end(),
                            [](const Pair& a, const Pair& b) { return a.key == b.key; }),
                pairs.end());
  }
  const std::vector<Pair> got = DrainText(sort);
  ASSERT_EQ(got.size(), pairs.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].key, pairs[i].key) << i;
    ASSERT_EQ(got[i].record, pairs[i].record) << i;
  }
}

}  // namespace

TEST(ThxSort, CreationRefusesImpossibleKeyLengths) {
  try {
    ThxSort sort(241, nullptr, true, false);
    FAIL() << "no exception";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smSortKeyLength);
    EXPECT_STREQ(e.what(), "Sort key length must be 1-240 bytes, is 241");
  }
  EXPECT_THROW(ThxSort(0, nullptr, true, false), ESorrelError);
  EXPECT_NO_THROW(ThxSort(240, nullptr, true, false));
}

TEST(ThxSort, RefusedInsertsLeaveTheSorterUsable) {
  ThxSort sort(4, nullptr, true, false);
  sort.InsertKey(Text("B"), 2);
  try {
    sort.InsertKey(Text("ABCDE"), 3);
    FAIL() << "no exception";
  } catch (const ESorrelError& e) {
    EXPECT_STREQ(e.what(), "Sort key length must be 1-4 bytes, is 5");
  }
  ThxVariant logical;
  logical.PutBoolean(true);
  try {
    sort.InsertKey(logical, 4);
    FAIL() << "no exception";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smVariantCannotSort);
  }
  EXPECT_THROW(sort.InsertKey(ThxVariant(), 5), ESorrelError);
  sort.InsertKey(Text("A"), 1);

  ThxVariant key;
  int32_t record;
  ASSERT_TRUE(sort.GetNextKey(key, record));
  EXPECT_EQ(key.GetString(), "A");
  EXPECT_EQ(record, 1);
  try {
    sort.InsertKey(Text("C"), 6);
    FAIL() << "no exception";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smSortKeysAfterRetrieval);
    EXPECT_STREQ(e.what(), "Cannot add sort keys after beginning retrieval");
  }
  ASSERT_TRUE(sort.GetNextKey(key, record));
  EXPECT_EQ(key.GetString(), "B");
  EXPECT_FALSE(sort.GetNextKey(key, record));
  EXPECT_FALSE(sort.GetNextKey(key, record));
  EXPECT_EQ(sort.KeyCount(), 2);
}

TEST(ThxSort, EmptySorterDeliversNothing) {
  ThxSort sort(10, nullptr, true, true);
  ThxVariant key;
  int32_t record;
  EXPECT_FALSE(sort.GetNextKey(key, record));
  EXPECT_EQ(sort.RunCount(), 0);
}

TEST(ThxSort, TrailingBlanksAreDroppedAndUniqueKeepsTheFirst) {
  ThxSort sort(10, nullptr, true, true);
  sort.InsertKey(Text("W1AW  "), 9);
  sort.InsertKey(Text("W1AW"), 4);
  sort.InsertKey(Text(""), 7);
  const auto got = DrainText(sort);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].key, "");
  EXPECT_EQ(got[1].key, "W1AW");
  EXPECT_EQ(got[1].record, 4);  // lowest record number comes first when ascending
}

TEST(ThxSort, EqualKeysFollowRecordOrderInTheSortDirection) {
  for (bool ascending : {true, false}) {
    ThxSort sort(10, nullptr, ascending, false);
    for (int32_t r : {5, 1, 300, 70000, 2}) sort.InsertKey(Text("K1ABC"), r);
    sort.InsertKey(Text("K1AB"), 3);
    sort.InsertKey(Text("K1ABCD"), 4);
    const auto got = DrainText(sort);
    std::vector<std::pair<std::string, int32_t>> flat;
    for (const auto& p : got) flat.emplace_back(p.key, p.record);
    std::vector<std::pair<std::string, int32_t>> expected = {
        {"K1AB", 3},      {"K1ABC", 1},     {"K1ABC", 2}, {"K1ABC", 5},
        {"K1ABC", 300},   {"K1ABC", 70000}, {"K1ABCD", 4}};
    if (!ascending) std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(flat, expected) << "ascending " << ascending;
  }
}

TEST(ThxSort, UniqueDescendingKeepsTheHighestRecord) {
  ThxSort sort(10, nullptr, false, true);
  for (int32_t r : {5, 1, 9}) sort.InsertKey(Text("A"), r);
  sort.InsertKey(Text("B"), 2);
  const auto got = DrainText(sort);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].key, "B");
  EXPECT_EQ(got[1].record, 9);
}

TEST(ThxSort, FloatsComeOutInNumericOrder) {
  const double tiny = std::nextafter(1.0, 2.0);
  const double minusTiny = std::nextafter(-1.0, -2.0);
  const std::vector<double> values = {1e300, -2.5, 0.0, 1.5, -1e-300, tiny, 1.0,
                                      minusTiny, -1.0, 1e-300, -1e300, 42.0};
  for (bool ascending : {true, false}) {
    ThxSort sort(8, nullptr, ascending, false);
    // Record numbers chosen so that a key compared with a record byte would sort wrongly.
    int32_t record = 0x00FFFFFF;
    for (double v : values) sort.InsertKey(Float(v), record--);
    std::vector<double> expected = values;
    std::sort(expected.begin(), expected.end());
    if (!ascending) std::reverse(expected.begin(), expected.end());
    ThxVariant key;
    int32_t r;
    std::vector<double> got;
    while (sort.GetNextKey(key, r)) {
      EXPECT_EQ(key.Type(), vtFloat);
      got.push_back(key.GetFloat());
    }
    EXPECT_EQ(got, expected) << "ascending " << ascending;
  }
}

TEST(ThxSort, DatesAndBinaryKeys) {
  ThxSort dates(4, nullptr, true, false);
  for (int32_t d : {2451545, 2444240, 0, 2444241}) dates.InsertKey(Date(d), d % 100);
  ThxVariant key;
  int32_t record;
  std::vector<int32_t> days;
  while (dates.GetNextKey(key, record)) {
    EXPECT_EQ(key.Type(), vtDate);
    EXPECT_EQ(record, key.GetDate() % 100);
    days.push_back(key.GetDate());
  }
  EXPECT_EQ(days, (std::vector<int32_t>{0, 2444240, 2444241, 2451545}));

  ThxSort binary(3, nullptr, true, false);
  ThxVariant b;
  b.PutBinary("\xFF\x00\x01", 3);
  binary.InsertKey(b, 1);
  b.PutBinary("\x00\xFF", 2);
  binary.InsertKey(b, 2);
  ASSERT_TRUE(binary.GetNextKey(key, record));
  EXPECT_EQ(key.Type(), vtBinary);
  EXPECT_EQ(record, 2);
  ASSERT_TRUE(binary.GetNextKey(key, record));
  EXPECT_EQ(key.Length(), 3);
  EXPECT_EQ(key.Data()[0], 0xFF);
}

TEST(ThxSort, CollationTableWeighsTextBytes) {
  uint8_t fold[256];
  for (int i = 0; i < 256; ++i) fold[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  ThxSort sort(5, fold, true, false);
  int32_t record = 1;
  for (const char* k : {"b", "A", "a", "B", "c"}) sort.InsertKey(Text(k), record++);
  std::string order;
  for (const auto& p : DrainText(sort)) order += p.key;
  EXPECT_EQ(order, "AaBbc");  // equal weights: plain byte order decides
}

TEST(ThxSort, ManyRunsMergeIntoOneOrderAscending) { CheckRandomText(true, false, 200000, 3); }
TEST(ThxSort, ManyRunsMergeIntoOneOrderDescending) { CheckRandomText(false, false, 200000, 3); }
TEST(ThxSort, ManyRunsUniqueAscending) { CheckRandomText(true, true, 150000, 2); }
TEST(ThxSort, ManyRunsUniqueDescending) { CheckRandomText(false, true, 150000, 2); }

TEST(ThxSort, ManyRandomFloatsAcrossRuns) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> dist(-1e6, 1e6);
  std::vector<std::pair<double, int32_t>> pairs;
  ThxSort sort(8, nullptr, true, false);
  for (int i = 0; i < 120000; ++i) {
    const double v = i % 3 == 0 ? std::round(dist(random)) : dist(random);
    sort.InsertKey(Float(v), i + 1);
    pairs.emplace_back(v, i + 1);
  }
  EXPECT_GE(sort.RunCount(), 2);
  std::sort(pairs.begin(), pairs.end());
  ThxVariant key;
  int32_t record;
  for (const auto& [value, rec] : pairs) {
    ASSERT_TRUE(sort.GetNextKey(key, record));
    ASSERT_EQ(key.GetFloat(), value);
    ASSERT_EQ(record, rec);
  }
  EXPECT_FALSE(sort.GetNextKey(key, record));
}
