#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "base/hx6_glbl.h"
#include "index/hx6_sort.h"
#include "base/variant_values.h"

namespace {

using namespace variant_values;

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

// A sorter that spills a run every few pairs, so that small tests merge many runs, and merges
// batches on several threads from `mergePairs` pairs on.
class SmallRunSort : public ThxSort {
 public:
  SmallRunSort(int maxKeyLength, bool ascending, bool unique, size_t runEntries,
               size_t mergePairs = kParallelMergePairs)
      : ThxSort(maxKeyLength, nullptr, ascending, unique) {
    SetRunEntries(runEntries);
    SetParallelMergePairs(mergePairs);
  }
};

enum class Kind { kText, kFloat, kDate, kBinary };

// One inserted pair as the reference sort sees it: the value in its natural form.
struct Ref {
  std::string bytes;  // text (trimmed) and binary keys
  double number = 0;  // float and date keys
  int32_t record = 0;
};

// Value order of two reference keys: negative, 0, positive.
int RefCompare(Kind kind, const Ref& a, const Ref& b) {
  if (kind == Kind::kFloat || kind == Kind::kDate)
    return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  return a.bytes.compare(b.bytes);  // unsigned bytes, a proper prefix first
}

ThxVariant RandomKey(Kind kind, std::mt19937& random, Ref& ref) {
  ThxVariant v;
  switch (kind) {
    case Kind::kText: {
      // A small alphabet with a control byte: many shared prefixes, duplicates, keys that are
      // prefixes of others, and bytes below a record number's leading byte.
      static const char kLetters[] = {'\x01', 'A', 'B', 'C', 'z'};
      std::string text;
      const int n = static_cast<int>(random() % 9);
      for (int i = 0; i < n; ++i) text += kLetters[random() % 5];
      ref.bytes = text;
      if (random() % 5 == 0) text += "   ";  // trailing blanks are not part of the key
      v.PutString(text);
      break;
    }
    case Kind::kFloat: {
      // Negatives, near-equal neighbours and whole numbers whose low bytes are zero.
      static const double kBases[] = {-12.0, -12.3456, 14000.0, 14000.0001, 0.0, -0.5, 1e-300,
                                      -1e300, 1.0, 1.0000000000000002, -1.0000000000000002, 2.5};
      double d = kBases[random() % 12];
      if (random() % 3 == 0) d = static_cast<double>(static_cast<int>(random() % 2001) - 1000) / 8;
      ref.number = d;
      v.PutFloat(d);
      break;
    }
    case Kind::kDate: {
      const int32_t day = random() % 10 == 0 ? 0 : 2444240 + static_cast<int32_t>(random() % 400);
      ref.number = day;
      v.PutDate(day);
      break;
    }
    case Kind::kBinary: {
      static const uint8_t kBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
      std::string bytes;
      const int n = static_cast<int>(random() % 6);
      for (int i = 0; i < n; ++i) bytes += static_cast<char>(kBytes[random() % 5]);
      ref.bytes = bytes;
      v.PutBinary(bytes.data(), static_cast<int>(bytes.size()));
      break;
    }
  }
  return v;
}

Ref Delivered(Kind kind, const ThxVariant& key) {
  Ref ref;
  switch (kind) {
    case Kind::kText:
      EXPECT_EQ(key.Type(), vtText);
      ref.bytes = key.GetString();
      break;
    case Kind::kFloat:
      EXPECT_EQ(key.Type(), vtFloat);
      ref.number = key.GetFloat();
      break;
    case Kind::kDate:
      EXPECT_EQ(key.Type(), vtDate);
      ref.number = key.GetDate();
      break;
    case Kind::kBinary:
      EXPECT_EQ(key.Type(), vtBinary);
      ref.bytes = key.GetString();
      break;
  }
  return ref;
}

// Inserts random pairs into a sorter that spills a run every few hundred pairs, and checks every
// delivered pair against std::stable_sort of the same pairs: keys in value order (a proper
// prefix first), equal keys by record number, all reversed when descending; unique keeps the
// first pair of each key in delivery order.
void CheckAgainstReference(Kind kind, bool ascending, bool unique, unsigned seed) {
  SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << " ascending "
                                  << ascending << " unique " << unique);
  std::mt19937 random(seed);
  const int kCount = 20000;
  SmallRunSort sort(12, ascending, unique, 700);
  std::vector<Ref> refs;
  for (int i = 0; i < kCount; ++i) {
    Ref ref;
    const ThxVariant key = RandomKey(kind, random, ref);
    // Record numbers across the whole range, duplicates of keys under distinct records.
    ref.record = i % 10 == 0 ? 0x7FFFFFFF - i : (i % 10 == 1 ? 0x01000000 + i : i + 1);
    sort.InsertKey(key, ref.record);
    refs.push_back(ref);
  }
  std::stable_sort(refs.begin(), refs.end(), [&](const Ref& a, const Ref& b) {
    int c = RefCompare(kind, a, b);
    if (c == 0) c = a.record < b.record ? -1 : (a.record > b.record ? 1 : 0);
    return ascending ? c < 0 : c > 0;
  });
  if (unique) {
    refs.erase(std::unique(refs.begin(), refs.end(),
                           [&](const Ref& a, const Ref& b) { return RefCompare(kind, a, b) == 0; }),
               refs.end());
  }
  ThxVariant key;
  int32_t record = 0;
  size_t i = 0;
  while (sort.GetNextKey(key, record)) {
    ASSERT_LT(i, refs.size());
    const Ref got = Delivered(kind, key);
    ASSERT_EQ(RefCompare(kind, got, refs[i]), 0) << "pair " << i;
    ASSERT_EQ(record, refs[i].record) << "pair " << i;
    ++i;
  }
  EXPECT_EQ(i, refs.size());
  EXPECT_GE(sort.RunCount(), kCount / 700);
  EXPECT_EQ(sort.KeyCount(), kCount);
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

TEST(ThxSort, KeysOrderBeforeRecordNumbers) {
  // A shorter key that is a prefix of a longer one comes first whatever the record numbers:
  // the record number must never be compared with the longer key's bytes.
  ThxVariant key;
  int32_t record;
  {
    ThxSort sort(8, nullptr, true, false);
    sort.InsertKey(Text("AB\x01"), 1);
    sort.InsertKey(Text("AB"), 0x02000000);
    sort.InsertKey(Text("AB"), 5);
    const auto got = DrainText(sort);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].record, 5);
    EXPECT_EQ(got[1].record, 0x02000000);
    EXPECT_EQ(got[2].key, "AB\x01");
  }
  {
    ThxSort sort(4, nullptr, true, false);
    ThxVariant b;
    b.PutBinary("\x10\x00", 2);
    sort.InsertKey(b, 1);
    b.PutBinary("\x10", 1);
    sort.InsertKey(b, 0x7FFFFFFF);
    ASSERT_TRUE(sort.GetNextKey(key, record));
    EXPECT_EQ(key.Length(), 1);
    EXPECT_EQ(record, 0x7FFFFFFF);
  }
  for (bool ascending : {true, false}) {
    // Values whose low bytes are zero next to near-equal ones.
    ThxSort sort(8, nullptr, ascending, false);
    sort.InsertKey(Float(14000.0), 300);
    sort.InsertKey(Float(14000.0001), 1);
    sort.InsertKey(Float(-12.0), 0x00FFFFFF);
    sort.InsertKey(Float(-12.3456), 2);
    sort.InsertKey(Float(-0.0), 9);
    sort.InsertKey(Float(0.0), 3);
    std::vector<std::pair<double, int32_t>> got;
    while (sort.GetNextKey(key, record)) got.emplace_back(key.GetFloat(), record);
    std::vector<std::pair<double, int32_t>> expected = {
        {-12.3456, 2}, {-12.0, 0x00FFFFFF}, {0.0, 3}, {0.0, 9}, {14000.0, 300}, {14000.0001, 1}};
    if (!ascending) std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(got, expected) << "ascending " << ascending;
  }
}

TEST(ThxSort, MatchesAReferenceSortAcrossManyRuns) {
  unsigned seed = 11;
  for (Kind kind : {Kind::kText, Kind::kFloat, Kind::kDate, Kind::kBinary})
    for (bool ascending : {true, false})
      for (bool unique : {false, true}) CheckAgainstReference(kind, ascending, unique, seed++);
}

TEST(ThxSort, ManyKeysFillSeveralFullRuns) {
  // Runs spilled at the sorter's own bound, as a large index build does.
  ThxSort sort(4, nullptr, true, false);
  const int32_t count = static_cast<int32_t>(ThxSort::kRunEntries) * 2 + 17;
  for (int32_t i = 0; i < count; ++i) sort.InsertKey(Date(2444240 + (i * 7919) % 5000), i + 1);
  EXPECT_EQ(sort.RunCount(), 2);
  ThxVariant key;
  int32_t record, previousDay = 0, previousRecord = 0, delivered = 0;
  while (sort.GetNextKey(key, record)) {
    const int32_t day = key.GetDate();
    ASSERT_TRUE(day > previousDay || (day == previousDay && record > previousRecord));
    previousDay = day;
    previousRecord = record;
    ++delivered;
  }
  EXPECT_EQ(delivered, count);
  EXPECT_EQ(sort.RunCount(), 3);
}

// A parallel build hands the sorter its pairs in batches, one per range of records, each filled
// and sorted on its own thread. Whatever the split (batches only, batches beside pairs inserted
// one by one, batches beside spilled runs, merged pair by pair or first on several threads), the
// sorter delivers exactly the sequence the one-by-one sorter delivers.
TEST(ThxSort, BatchesDeliverWhatOneByOneInsertsDeliver) {
  enum class Split { kBatchesOnly, kWithInserts, kWithRuns, kMergedOnThreads };
  unsigned seed = 101;
  for (Split split : {Split::kBatchesOnly, Split::kWithInserts, Split::kWithRuns,
                      Split::kMergedOnThreads}) {
    for (Kind kind : {Kind::kText, Kind::kFloat, Kind::kDate, Kind::kBinary}) {
      for (bool ascending : {true, false}) {
        for (bool unique : {false, true}) {
          SCOPED_TRACE(testing::Message() << "split " << static_cast<int>(split) << " kind "
                                          << static_cast<int>(kind) << " ascending " << ascending
                                          << " unique " << unique);
          std::mt19937 random(seed++);
          const int kCount = 6000;
          ThxSort one(12, nullptr, ascending, unique);
          SmallRunSort batched(12, ascending, unique, split == Split::kWithRuns ? 300 : 100000,
                               split == Split::kMergedOnThreads ? 1 : 100000);
          // Ranges of records of uneven length, some empty, filled out of order.
          std::vector<int> cuts = {0, kCount};
          for (int i = 0; i < 6; ++i) cuts.push_back(static_cast<int>(random() % kCount));
          std::sort(cuts.begin(), cuts.end());
          std::vector<ThxVariant> keys;
          for (int i = 0; i < kCount; ++i) {
            Ref ref;
            keys.push_back(RandomKey(kind, random, ref));
            one.InsertKey(keys.back(), i + 1);
          }
          std::vector<std::unique_ptr<ThxSort::Batch>> batches;
          for (size_t c = 0; c + 1 < cuts.size(); ++c) {
            auto batch = batched.NewBatch();
            for (int i = cuts[c + 1] - 1; i >= cuts[c]; --i) {
              if (split != Split::kBatchesOnly && split != Split::kMergedOnThreads && c % 2 == 1)
                batched.InsertKey(keys[static_cast<size_t>(i)], i + 1);
              else
                batch->Insert(keys[static_cast<size_t>(i)], i + 1);
            }
            if (c % 3 == 0) batch->Sort();
            batches.push_back(std::move(batch));
          }
          for (auto& batch : batches) batched.AdoptBatch(std::move(batch));
          EXPECT_EQ(batched.KeyCount(), kCount);
          ThxVariant a, b;
          int32_t ra = 0, rb = 0;
          int delivered = 0;
          while (one.GetNextKey(a, ra)) {
            ASSERT_TRUE(batched.GetNextKey(b, rb)) << "pair " << delivered;
            ASSERT_EQ(a.Type(), b.Type());
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(a.Data()),
                                  static_cast<size_t>(a.Length())),
                      std::string(reinterpret_cast<const char*>(b.Data()),
                                  static_cast<size_t>(b.Length())))
                << "pair " << delivered;
            ASSERT_EQ(ra, rb) << "pair " << delivered;
            ++delivered;
          }
          EXPECT_FALSE(batched.GetNextKey(b, rb));
          EXPECT_THROW(batched.AdoptBatch(batched.NewBatch()), ESorrelError);
        }
      }
    }
  }
}
