// NTX files through the index framework: the model test, the layout of built files, number keys,
// the update counter, case folding, and keys held in interior pages when pages empty.
#include <gtest/gtest.h>

#include <functional>

#include "base/byteorder.h"
#include "handler/handler_test_util.h"
#include "base/hx6_date.h"
#include "index/hx6_ntx.h"
#include "index/index_fake_table.h"
#include "index/index_file_util.h"
#include "index/index_model.h"

namespace {

using index_files::CallKey;
using index_files::Rec;
using index_model::KeyList;
using index_model::Walk;

std::vector<uint8_t> ReadPageOf(const std::string& path, int64_t offset) {
  return index_files::ReadFileBytes(path, offset, 1024);
}

struct DiskTree {
  KeyList keys;  // in tree order
  std::vector<int> leafCounts;
  std::vector<int> interiorCounts;
  std::vector<std::pair<int, std::string>> rootEntries;  // (record, key) of every root entry
};

// Reads a tag straight from the file, in order: child 0, key 0, child 1, ..., key n-1, child n.
DiskTree ReadNtx(const std::string& path) {
  DiskTree t;
  auto h = ReadPageOf(path, 0);
  const int keyLength = DecodeLE16(h.data() + 14);
  const int maxKeys = DecodeLE16(h.data() + 18);
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
  const int32_t root = static_cast<int32_t>(DecodeLE32(h.data() + 4));
  std::function<void(int32_t, int)> visit = [&](int32_t offset, int depth) {
    EXPECT_TRUE(offset >= 1024 && offset % 1024 == 0 && offset + 1024 <= size) << offset;
    if (offset < 1024 || offset + 1024 > size || depth > 20) return;
    auto p = ReadPageOf(path, offset);
    const int count = static_cast<int16_t>(DecodeLE16(p.data()));
    EXPECT_LE(count, maxKeys) << offset;
    auto entry = [&](int i) { return p.data() + DecodeLE16(p.data() + 2 + 2 * i); };
    auto key = [&](int i) {
      std::string s(reinterpret_cast<const char*>(entry(i) + 8), static_cast<size_t>(keyLength));
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    };
    const bool interior = DecodeLE32(entry(0)) != 0;
    if (offset == root)
      for (int i = 0; i <= count; ++i)
        t.rootEntries.emplace_back(static_cast<int>(DecodeLE32(entry(i) + 4)), key(i));
    (interior ? t.interiorCounts : t.leafCounts).push_back(count);
    for (int i = 0; i <= count; ++i) {
      if (interior) visit(static_cast<int32_t>(DecodeLE32(entry(i))), depth + 1);
      if (i < count) t.keys.emplace_back(key(i), static_cast<int32_t>(DecodeLE32(entry(i) + 4)));
    }
  };
  visit(root, 1);
  return t;
}

index_model::ModelFormat NtxModelFormat() {
  using index_files::PaddedText;
  using index_files::PutDayKey;
  using index_files::PutNumberKey;
  using index_model::ModelTag;
  index_model::ModelFormat f;
  auto callKey = [](const FakeRecord& r) { return CallKey(r.call); };
  auto numberKey = [](const FakeRecord& r) { return *ntx::EncodeNumber(r.number, 18, 4); };
  auto dayKey = [](const FakeRecord& r) { return DBFDate().DTOS(r.day); };
  auto textKey = [](const FakeRecord& r) { return index_files::TrimmedText(r.text, 100); };
  ModelTag down{"DOWN", callKey, callKey, PaddedText(10, &FakeRecord::call), nullptr};
  down.descending = true;
  f.tags = {
      ModelTag{"CALL", callKey, callKey, PaddedText(10, &FakeRecord::call), nullptr},
      ModelTag{"NUMBER", numberKey, numberKey, PutNumberKey, nullptr},
      ModelTag{"DAY", dayKey, dayKey, PutDayKey, nullptr},
      ModelTag{"CALL20", callKey, callKey, PaddedText(10, &FakeRecord::call),
               [](const FakeRecord& r) { return r.band == 20; }},
      down,
      ModelTag{"TEXT", textKey, textKey, PaddedText(100, &FakeRecord::text), nullptr},
  };
  f.open = [](FakeIndexTable& table, const IndexTempDir& dir, bool create) {
    std::vector<std::unique_ptr<HXobjIndexFile>> files;
    struct Made {
      const char *name, *expression, *filter;
      bool ascending;
    };
    for (const Made& s : {Made{"CALL", "CALL", "", true}, Made{"NUMBER", "NUMBER", "", true},
                          Made{"DAY", "DAY", "", true}, Made{"CALL20", "CALL", "BAND=20", true},
                          Made{"DOWN", "CALL", "", false}, Made{"TEXT", "TEXT", "", true}}) {
      files.push_back(std::make_unique<HXobjNTXFile>(
          &table, dir.File(std::string(s.name) + ".NTX"), false, create, false, true));
      if (create) {
        EXPECT_TRUE(files.back()->CreateTag(s.name, s.expression, s.filter, s.ascending, false));
      }
    }
    return files;
  };
  f.checkDisk = [](HXobjIndexFile& file, HXobjIndexTag& tag, const KeyList& expected) {
    EXPECT_EQ(ReadNtx(file.DiskFile()->Name()).keys, expected) << tag.TagName() << " on disk";
  };
  return f;
}

}  // namespace

TEST(NtxModel, AppendsAndRewritesOnEmptyStart) {
  index_model::RunModel(NtxModelFormat(), 1, 10, 60, false);
}
TEST(NtxModel, AppendsAndRewritesAfterBuild) {
  index_model::RunModel(NtxModelFormat(), 2, 8, 80, true);
}
TEST(NtxModel, TinyPageCacheAndMoreSeeds) {
  index_model::RunModel(NtxModelFormat(), 21, 5, 80, false, 3);
  index_model::RunModel(NtxModelFormat(), 22, 4, 100, true, 6);
  for (unsigned seed = 10; seed < 13; ++seed)
    index_model::RunModel(NtxModelFormat(), seed, 3, 120, seed % 2 == 0);
}

TEST(NtxGolden, FiftyKeysFillLeavesOfTwentyFiveAndTwentyFour) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("G.DBF"));
  const std::string path = dir.File("G.NTX");
  {
    // On an empty table: the header page and an empty root page at 1024.
    HXobjNTXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("G", "CALL", "BAND=20", true, false));
  }
  EXPECT_EQ(std::filesystem::file_size(path), 2048u);
  auto h = ReadPageOf(path, 0);
  EXPECT_EQ(DecodeLE16(h.data()), 7);  // with the FOR expression
  EXPECT_STREQ(reinterpret_cast<const char*>(h.data() + 282), "BAND=20");
  EXPECT_EQ(ReadPageOf(path, 1024), std::vector<uint8_t>(1024, 0));

  for (int i = 1; i <= 50; ++i) {
    char call[16];
    snprintf(call, sizeof call, "K%09d", i);
    table.Records().push_back(Rec(call));
  }
  {
    HXobjNTXFile file(&table, path, true, true, false, true);
    ASSERT_TRUE(file.CreateTag("G", "CALL", "", true, false));
  }
  h = ReadPageOf(path, 0);
  struct Field {
    int offset;
    uint32_t value;
  };
  // Signature, counter, root (written last), item size, key length, decimals, maximum, half.
  for (const Field& f : {Field{0, 6}, Field{2, 1}, Field{12, 18}, Field{14, 10}, Field{16, 0},
                         Field{18, 50}, Field{20, 25}})
    EXPECT_EQ(DecodeLE16(h.data() + f.offset), f.value) << "header offset " << f.offset;
  EXPECT_EQ(DecodeLE32(h.data() + 4), 3072u);
  EXPECT_STREQ(reinterpret_cast<const char*>(h.data() + 22), "CALL");
  EXPECT_EQ(std::filesystem::file_size(path), 4096u);
  DiskTree t = ReadNtx(path);
  EXPECT_EQ(t.leafCounts, (std::vector<int>{25, 24}));
  ASSERT_EQ(t.keys.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(t.keys[static_cast<size_t>(i)].second, i + 1);
  // The 26th key is the root's one counted key; the 50th is repeated in its uncounted entry.
  EXPECT_EQ(t.rootEntries, (std::vector<std::pair<int, std::string>>{{26, "K000000026"},
                                                                      {0, "K000000050"}}));
  // The first page of a build starts with its offset table.
  auto leaf = ReadPageOf(path, 1024);
  EXPECT_EQ(DecodeLE16(leaf.data() + 2), 2 * 52);
  EXPECT_EQ(DecodeLE16(leaf.data() + 4), 2 * 52 + 18);
}

TEST(NtxKeys, NumberKeyVectors) {
  struct Case {
    int width, decimals;
    double value;
    const char* stored;  // nullptr: refused
  } cases[] = {
      {6, 2, 5, "005.00"},        {6, 2, -5, ",,'.,,"},      {6, 2, 0, "000.00"},
      {6, 2, 999.99, "999.99"},   {6, 2, 1000, nullptr},     {6, 2, -1000, nullptr},
      {5, 0, 99999, "99999"},     {5, 0, -9999, ",####"},    {18, 4, -20.25, ",,,,,,,,,,,*,.*',,"},
      {18, 4, 1e13, "10000000000000.0000"} /* 19 wide */, {8, 1, 2.25, "000002.3"},
  };
  cases[9].stored = nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "." + std::to_string(c.decimals) + " " +
                 std::to_string(c.value));
    const auto got = ntx::EncodeNumber(c.value, c.width, c.decimals);
    if (c.stored == nullptr) {
      EXPECT_FALSE(got.has_value());
    } else {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, c.stored);
    }
  }
  // The text order of the stored keys is the numbers' order.
  const double values[] = {-1000, -999.5, -20.25, -5, -1.5, -1, -0.5, 0, 0.25, 1, 5, 20.25, 999};
  for (size_t i = 1; i < std::size(values); ++i)
    EXPECT_LT(*ntx::EncodeNumber(values[i - 1], 10, 2), *ntx::EncodeNumber(values[i], 10, 2))
        << values[i - 1] << " " << values[i];

  // A key over a table field takes the field's size; a number too wide for it is refused.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("N.DBF"));
  table.fieldSizes["NUMBER"] = {6, 2};
  for (double v : {5.0, -5.0, 12.5}) table.Records().push_back(Rec("X", v));
  HXobjNTXFile file(&table, dir.File("N.NTX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("N", "NUMBER", "", true, false));
  HXobjIndexTag* tag = file.TagByIndex(0);
  EXPECT_EQ(tag->KeyLength(), 6);
  EXPECT_EQ(Walk(tag), (KeyList{{",,'.,,", 2}, {"005.00", 1}, {"012.50", 3}}));
  table.Attach(&file);
  try {
    table.Append(Rec("X", 1234.5));
    ADD_FAILURE() << "a number wider than the key was taken";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smNumericTooBig);
  }
  table.Detach();
  EXPECT_EQ(Walk(tag).size(), 3u);
  // A search for such a number finds nothing, on its side of every key.
  HXobjIndexKeyData big;
  big.PutFloat(-1234.5);
  big.SetRecNo(kAnyRecord);
  EXPECT_EQ(tag->Seek(big), 0);
  EXPECT_TRUE(tag->Bof());
  big.PutFloat(1234.5);
  EXPECT_EQ(tag->Seek(big), 0);
  EXPECT_TRUE(tag->Eof());
  // A build refuses it as well, and leaves the file as it was.
  table.Records().push_back(Rec("X", 99999));
  EXPECT_THROW(file.Reindex(), ESorrelError);
  EXPECT_EQ(ReadNtx(file.DiskFile()->Name()).keys.size(), 3u);
}

TEST(NtxFile, UpdateCounterCountsUpdatesAndWrapsAfter32767) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("C.DBF"));
  const std::string path = dir.File("C.NTX");
  HXobjNTXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("C", "CALL", "", true, false));
  auto counter = [&] { return DecodeLE16(ReadPageOf(path, 0).data() + 2); };
  EXPECT_EQ(counter(), 1);
  table.Attach(&file);
  table.Append(Rec("A"));
  table.Append(Rec("B"));
  EXPECT_EQ(counter(), 3);
  file.SetCounter(32765);
  table.Append(Rec("C"));
  EXPECT_EQ(counter(), 32766);
  table.Append(Rec("D"));
  EXPECT_EQ(counter(), 32767);
  table.Append(Rec("E"));
  EXPECT_EQ(counter(), 1);
  table.Detach();
  // Emptying goes on from the count, so that another program holding pages sees the change.
  file.Empty();
  EXPECT_EQ(counter(), 2);
  EXPECT_EQ(std::filesystem::file_size(path), 2048u);
  EXPECT_EQ(Walk(file.TagByIndex(0)), KeyList{});
  file.Reindex();
  EXPECT_EQ(Walk(file.TagByIndex(0)).size(), 5u);
}

TEST(NtxTag, KeysAboveAnEmptiedRightEdgeMoveDownIntoIt) {
  // Sixty keys: two leaves of 30 and 29 with the 31st in the root. Taking away the right leaf's
  // keys from the top empties that leaf; the root's key then lies on the right edge and must be
  // kept in the leaf below it. Then the left leaf empties too.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("R.DBF"));
  for (int i = 0; i < 60; ++i) {
    char call[8];
    snprintf(call, sizeof call, "K%02d", i);
    table.Records().push_back(Rec(call, 0, 0, 20));
  }
  const std::string path = dir.File("R.NTX");
  HXobjNTXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("R", "CALL", "BAND=20", true, false));
  EXPECT_EQ(ReadNtx(path).leafCounts, (std::vector<int>{30, 29}));
  table.Attach(&file);
  KeyList expected = Walk(file.TagByIndex(0));
  for (int32_t n = 60; n >= 1; --n) {
    FakeRecord r = table.Records()[static_cast<size_t>(n - 1)];
    r.band = 40;
    table.Rewrite(n, r);
    expected.pop_back();
    ASSERT_EQ(ReadNtx(path).keys, expected) << "after " << n;
    if (n % 10 == 0) {
      ASSERT_EQ(Walk(file.TagByIndex(0)), expected) << n;
    }
  }
  // And back in from the bottom.
  for (int32_t n = 1; n <= 60; ++n) {
    FakeRecord r = table.Records()[static_cast<size_t>(n - 1)];
    r.band = 20;
    table.Rewrite(n, r);
  }
  table.Detach();
  EXPECT_EQ(ReadNtx(path).keys.size(), 60u);
  EXPECT_EQ(Walk(file.TagByIndex(0)).size(), 60u);
}

namespace {

class NtxHandler : public handler_test::HandlerTest {};

}  // namespace

TEST_F(NtxHandler, CaseFoldingOrderIsStoredInTheKeyExpression) {
  HXO_dBHandler h(MakeLog(), false, true);
  for (const char* s : {"w1aw", "K2X", "dl1a"}) Append(h, {s, 20, "", false});
  // Order 7: ascending with case folded. The file keeps the folding in its key expression, so
  // keys added after it is opened again are folded too.
  h.CreateIndexTag(PathOf("FOLD.NTX"), "", "STATION", "", 1, 7);
  auto h0 = ReadPageOf(PathOf("FOLD.NTX"), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(h0.data() + 22), "UPPER(STATION)");
  EXPECT_EQ(h0[279], 0);
  h.SetIndexFiles("FOLD.NTX", "FOLD");
  Append(h, {"ve3b", 20, "", false});
  Append(h, {"AA1", 20, "", false});
  std::vector<std::string> keys;
  for (const auto& k : index_model::Walk(h.MasterTag())) keys.push_back(k.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"AA1", "DL1A", "K2X", "VE3B", "W1AW"}));
  EXPECT_TRUE(h.Find("VE3"));
  EXPECT_EQ(Station(h), "ve3b");
  // Order 8: descending with case folded; keys stored from the largest.
  h.CreateIndexTag(PathOf("DOWN.NTX"), "", "STATION", "", 1, 8);
  h.SetIndexFiles("DOWN.NTX", "DOWN");
  keys.clear();
  for (const auto& k : index_model::Walk(h.MasterTag())) keys.push_back(k.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"W1AW", "VE3B", "K2X", "DL1A", "AA1"}));
  EXPECT_EQ(ReadNtx(PathOf("DOWN.NTX")).keys.front().first, "W1AW");
  EXPECT_EQ(ReadPageOf(PathOf("DOWN.NTX"), 0)[279], 1);
}

TEST(NtxBuild, BuildsOfEverySizeMakeWholeTrees) {
  // Long keys (8 a page) over every count of records up to several levels: every key once and
  // in order, and no page without a key, also where the keys come out even with the fill.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("B.DBF"));
  const std::string path = dir.File("B.NTX");
  KeyList expected;
  for (int n = 1; n <= 160; ++n) {
    FakeRecord r = Rec("X");
    r.text = "T" + std::to_string(1000 + (n * 37) % 1000);
    table.Records().push_back(r);
    expected.emplace_back(r.text, n);
    std::sort(expected.begin(), expected.end());
    {
      HXobjNTXFile file(&table, path, true, true, false, true);
      ASSERT_TRUE(file.CreateTag("B", "TEXT", "", true, false));
      ASSERT_EQ(file.TagByIndex(0)->MaxKeys(), 8);
    }
    const DiskTree t = ReadNtx(path);
    ASSERT_EQ(t.keys, expected) << n;
    for (int c : t.leafCounts) ASSERT_GE(c, 1) << n;
    for (int c : t.interiorCounts) ASSERT_GE(c, 1) << n;
  }
}
