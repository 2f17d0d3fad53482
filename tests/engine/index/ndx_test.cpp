// NDX files through the index framework: the model test, the layout of new and built files, and
// what the format cannot store.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>

#include "base/byteorder.h"
#include "index/hx6_ndx.h"
#include "index/index_fake_table.h"
#include "index/index_file_util.h"
#include "index/index_model.h"

namespace {

using index_files::CallKey;
using index_files::Rec;
using index_model::KeyList;
using index_model::Walk;

constexpr auto& DoubleBytes = index_files::HeldDouble;
constexpr auto& NumberOrder = index_files::OrderedDouble;

std::vector<uint8_t> ReadBlockOf(const std::string& path, int64_t block) {
  return index_files::ReadFileBytes(path, block * 512, 512);
}

struct DiskTree {
  KeyList keys;  // (key as a walk shows it, record), in tree order
  int depth = 0;
  std::vector<int> leafCounts;
  std::vector<int> interiorCounts;
};

// Reads a tag straight from the file, checking what every node must hold: counts within the
// node, interior keys naming their child's last key, children inside the file, no empty leaf
// below the root.
DiskTree ReadNdx(const std::string& path) {
  DiskTree t;
  auto h = ReadBlockOf(path, 0);
  const int keyLength = DecodeLE16(h.data() + 12);
  const int maxKeys = DecodeLE16(h.data() + 14);
  const bool numeric = DecodeLE16(h.data() + 16) != 0;
  const int entryLength = DecodeLE16(h.data() + 18);
  const int64_t blocks = static_cast<int64_t>(std::filesystem::file_size(path)) / 512;
  EXPECT_EQ(static_cast<int64_t>(DecodeLE32(h.data() + 4)), blocks) << "block count";
  auto keyOf = [&](const uint8_t* e) {
    if (numeric) return DoubleBytes(std::bit_cast<double>(DecodeLE64(e + 8)));
    std::string s(reinterpret_cast<const char*>(e + 8), static_cast<size_t>(keyLength));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  std::function<std::string(int32_t, int, bool)> visit = [&](int32_t block, int depth,
                                                            bool root) -> std::string {
    EXPECT_TRUE(block > 0 && block < blocks) << block;
    if (block <= 0 || block >= blocks || depth > 20) return {};
    auto node = ReadBlockOf(path, block);
    const int count = static_cast<int>(DecodeLE32(node.data()));
    const bool interior = DecodeLE32(node.data() + 4) != 0;
    if (!interior) {
      EXPECT_LE(count, maxKeys);
      EXPECT_TRUE(root || count > 0) << "empty leaf at " << block;
      t.depth = std::max(t.depth, depth);
      t.leafCounts.push_back(count);
      for (int i = 0; i < count; ++i) {
        const uint8_t* e = node.data() + 4 + i * entryLength;
        t.keys.emplace_back(keyOf(e), static_cast<int32_t>(DecodeLE32(e + 4)));
      }
      return count ? t.keys.back().first : std::string();
    }
    EXPECT_LE(count + 1, maxKeys) << "interior node at " << block;
    t.interiorCounts.push_back(count);
    std::string last;
    for (int i = 0; i <= count; ++i) {
      const uint8_t* e = node.data() + 4 + i * entryLength;
      last = visit(static_cast<int32_t>(DecodeLE32(e)), depth + 1, false);
      if (i < count) {
        EXPECT_EQ(keyOf(e), last) << "interior key " << i << " at " << block;
      }
    }
    return last;
  };
  visit(static_cast<int32_t>(DecodeLE32(h.data())), 1, true);
  return t;
}

index_model::ModelFormat NdxModelFormat() {
  using index_files::PaddedText;
  using index_files::PutDayKey;
  using index_files::PutNumberKey;
  using index_model::ModelTag;
  index_model::ModelFormat f;
  auto callKey = [](const FakeRecord& r) { return CallKey(r.call); };
  auto textKey = [](const FakeRecord& r) { return index_files::TrimmedText(r.text, 100); };
  f.tags = {
      ModelTag{"CALL", callKey, callKey, PaddedText(10, &FakeRecord::call), nullptr},
      ModelTag{"NUMBER", [](const FakeRecord& r) { return DoubleBytes(r.number); },
               [](const FakeRecord& r) { return NumberOrder(r.number); }, PutNumberKey, nullptr},
      ModelTag{"DAY", [](const FakeRecord& r) { return DoubleBytes(r.day); },
               [](const FakeRecord& r) { return NumberOrder(r.day); }, PutDayKey, nullptr},
      ModelTag{"TEXT", textKey, textKey, PaddedText(100, &FakeRecord::text), nullptr},
  };
  f.open = [](FakeIndexTable& table, const IndexTempDir& dir, bool create) {
    std::vector<std::unique_ptr<HXobjIndexFile>> files;
    for (const char* name : {"CALL", "NUMBER", "DAY", "TEXT"}) {
      files.push_back(std::make_unique<HXobjNDXFile>(&table, dir.File(std::string(name) + ".NDX"),
                                                     false, create, false, true));
      if (create) {
        EXPECT_TRUE(files.back()->CreateTag(name, name, "", true, false)) << name;
      }
    }
    return files;
  };
  f.checkDisk = [](HXobjIndexFile& file, HXobjIndexTag& tag, const KeyList& expected) {
    EXPECT_EQ(ReadNdx(file.DiskFile()->Name()).keys, expected) << tag.TagName() << " on disk";
  };
  return f;
}

}  // namespace

TEST(NdxModel, AppendsAndRewritesOnEmptyStart) {
  index_model::RunModel(NdxModelFormat(), 1, 10, 60, false);
}
TEST(NdxModel, AppendsAndRewritesAfterBuild) {
  index_model::RunModel(NdxModelFormat(), 2, 8, 80, true);
}
TEST(NdxModel, TinyPageCacheAndMoreSeeds) {
  index_model::RunModel(NdxModelFormat(), 21, 5, 80, false, 3);
  index_model::RunModel(NdxModelFormat(), 22, 4, 100, true, 6);
  for (unsigned seed = 10; seed < 13; ++seed)
    index_model::RunModel(NdxModelFormat(), seed, 3, 120, seed % 2 == 0);
}

TEST(NdxGolden, NewAndBuiltLayouts) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("G.DBF"));
  const std::string path = dir.File("G.NDX");
  {
    // On an empty table: the header at block 0 and an empty root node at block 1.
    HXobjNDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("G", "CALL", "", true, false));
  }
  EXPECT_EQ(std::filesystem::file_size(path), 1024u);
  auto h = ReadBlockOf(path, 0);
  struct Field {
    int offset, width;
    uint32_t value;
  };
  for (const Field& f : {Field{0, 4, 1}, Field{4, 4, 2}, Field{12, 2, 10}, Field{14, 2, 25},
                         Field{16, 2, 0}, Field{18, 2, 20}, Field{23, 1, 0}})
    EXPECT_EQ(f.width == 4 ? DecodeLE32(h.data() + f.offset)
                           : (f.width == 2 ? DecodeLE16(h.data() + f.offset) : h[f.offset]),
              f.value)
        << "header offset " << f.offset;
  EXPECT_STREQ(reinterpret_cast<const char*>(h.data() + 24), "CALL");
  EXPECT_EQ(ReadBlockOf(path, 1), std::vector<uint8_t>(512, 0));

  // A number tag: entry length 20, 25 keys a node, and the header says key length 8. Leaves are
  // filled to the maximum; 26 keys give a full leaf, a leaf of one and their root.
  for (int i = 0; i < 26; ++i) table.Records().push_back(Rec("X", 100 - i));
  {
    HXobjNDXFile file(&table, path, true, true, false, true);
    ASSERT_TRUE(file.CreateTag("G", "NUMBER", "", true, false));
    EXPECT_EQ(file.TagByIndex(0)->EntryLength(), 20);
    EXPECT_EQ(file.TagByIndex(0)->MaxKeys(), 25);
  }
  h = ReadBlockOf(path, 0);
  EXPECT_EQ(DecodeLE16(h.data() + 12), 8);
  EXPECT_EQ(DecodeLE16(h.data() + 16), 1);
  EXPECT_EQ(DecodeLE16(h.data() + 18), 20);
  EXPECT_EQ(DecodeLE32(h.data()), 3u);  // the root is written last
  EXPECT_EQ(std::filesystem::file_size(path), 4 * 512u);
  DiskTree t = ReadNdx(path);
  EXPECT_EQ(t.leafCounts, (std::vector<int>{25, 1}));
  EXPECT_EQ(t.depth, 2);
  ASSERT_EQ(t.keys.size(), 26u);
  EXPECT_EQ(t.keys.front(), (std::pair{DoubleBytes(75), int32_t{26}}));
}

TEST(NdxTag, EqualKeysAcrossLeavesKeepEachRecordsOwnEntry) {
  // Equal keys lie in the order they came, over several leaves: a rewrite removes the entry of
  // the record written, never another record's, and the key it gets goes after its equals.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("E.DBF"));
  for (int i = 0; i < 90; ++i) table.Records().push_back(Rec(i % 3 ? "DUP" : "ALPHA"));
  HXobjNDXFile file(&table, dir.File("E.NDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("E", "CALL", "", true, false));
  table.Attach(&file);
  std::vector<int32_t> dups;
  for (int32_t n = 1; n <= 90; ++n)
    if (n % 3 != 1) dups.push_back(n);
  for (int32_t n : {62, 5, 89, 35}) {
    table.Rewrite(n, Rec("ZULU"));
    table.Rewrite(n, Rec("DUP"));
    std::erase(dups, n);
    dups.push_back(n);
  }
  table.Rewrite(60, Rec("DUP"));  // unchanged: stays where it is
  table.Detach();
  std::vector<int32_t> got;
  for (const auto& [key, record] : Walk(file.TagByIndex(0)))
    if (key == "DUP") got.push_back(record);
  EXPECT_EQ(got, dups);
  EXPECT_EQ(Walk(file.TagByIndex(0)).size(), 90u);
  EXPECT_GE(ReadNdx(file.DiskFile()->Name()).leafCounts.size(), 4u);
}

TEST(NdxTag, OrderAndConditionsTheHeaderCannotHoldAreNotMade) {
  // Descending order and a FOR condition have no place in the header: the tag is made ascending
  // over every record, as it reads back.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("D.DBF"));
  for (const char* c : {"B", "D", "A", "C"}) table.Records().push_back(Rec(c, 0, 0, 40));
  auto file = std::make_unique<HXobjNDXFile>(&table, dir.File("D.NDX"), false, true, false, true);
  ASSERT_TRUE(file->CreateTag("D", "CALL", "BAND=20", false, false));
  HXobjIndexTag* tag = file->TagByIndex(0);
  EXPECT_TRUE(tag->Ascending());
  EXPECT_FALSE(tag->Descending());
  EXPECT_FALSE(tag->HasFilter());
  const KeyList up{{"A", 3}, {"B", 1}, {"C", 4}, {"D", 2}};
  EXPECT_EQ(Walk(tag), up);
  table.Attach(file.get());
  table.Append(Rec("AA", 0, 0, 40));
  table.Detach();
  file.reset();
  file = std::make_unique<HXobjNDXFile>(&table, dir.File("D.NDX"), false, false, false, true);
  EXPECT_EQ(Walk(file->TagByIndex(0)),
            (KeyList{{"A", 3}, {"AA", 5}, {"B", 1}, {"C", 4}, {"D", 2}}));
  EXPECT_EQ(file->TagByIndex(0)->TagName(), "D");
}

TEST(NdxTag, UniqueDatesAndRebuilds) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("U.DBF"));
  for (int32_t day : {2459001, 0, 2459000, 2459001, 0, 2458000})
    table.Records().push_back(Rec("X", 0, day));
  const std::string path = dir.File("U.NDX");
  auto file = std::make_unique<HXobjNDXFile>(&table, path, false, true, false, true);
  ASSERT_TRUE(file->CreateTag("U", "DAY", "", true, true));
  // One entry per date, the first record of each; the empty date sorts after every real date.
  std::vector<int32_t> order;
  for (const auto& k : Walk(file->TagByIndex(0))) order.push_back(k.second);
  EXPECT_EQ(order, (std::vector<int32_t>{6, 3, 1, 2}));
  table.Attach(file.get());
  table.Append(Rec("X", 0, 2459000));
  table.Append(Rec("X", 0, 2457000));
  table.Detach();
  order.clear();
  for (const auto& k : Walk(file->TagByIndex(0))) order.push_back(k.second);
  EXPECT_EQ(order, (std::vector<int32_t>{8, 6, 3, 1, 2}));
  // Emptied and rebuilt: two blocks, then the build from block 1.
  std::vector<int> phases;
  table.onStatus = [&](int a, int b, int) {
    if (a < 0) phases.push_back(b);
  };
  file->Reindex();
  EXPECT_EQ(phases, (std::vector<int>{1, 2}));
  EXPECT_EQ(std::filesystem::file_size(path), 2 * 512u);  // the header and the one leaf
  order.clear();
  for (const auto& k : Walk(file->TagByIndex(0))) order.push_back(k.second);
  EXPECT_EQ(order, (std::vector<int32_t>{8, 6, 3, 1, 2}));
  static_cast<HXobjNDXFile*>(file.get())->Empty();
  EXPECT_EQ(std::filesystem::file_size(path), 1024u);
  EXPECT_EQ(Walk(file->TagByIndex(0)), KeyList{});
  file.reset();
  file = std::make_unique<HXobjNDXFile>(&table, path, false, false, false, true);
  EXPECT_TRUE(file->TagByIndex(0)->Unique());
  EXPECT_EQ(file->TagByIndex(0)->KeyType(), 'D');
}

TEST(NdxBuild, BuildsOfEverySizeMakeWholeTrees) {
  // Long keys (4 a node) over every count of records up to four levels: every key once and in
  // order, and no interior node without a key of its own (other readers pass over those).
  IndexTempDir dir;
  FakeIndexTable table(dir.File("B.DBF"));
  const std::string path = dir.File("B.NDX");
  KeyList expected;
  for (int n = 1; n <= 160; ++n) {
    FakeRecord r = Rec("X");
    r.text = "T" + std::to_string(1000 + (n * 37) % 1000);
    table.Records().push_back(r);
    expected.emplace_back(r.text, n);
    std::sort(expected.begin(), expected.end());
    {
      HXobjNDXFile file(&table, path, true, true, false, true);
      ASSERT_TRUE(file.CreateTag("B", "TEXT", "", true, false));
      ASSERT_EQ(file.TagByIndex(0)->MaxKeys(), 4);
    }
    const DiskTree t = ReadNdx(path);
    ASSERT_EQ(t.keys, expected) << n;
    for (int c : t.interiorCounts) ASSERT_GE(c, 1) << n;
  }
}
