// MDX files through the index framework: layouts, key encodings, building, key upkeep, tag
// table, sharing, the outside reader and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "base/byteorder.h"
#include "index/hx6_mdx.h"
#include "index/index_fake_table.h"
#include "index/index_file_util.h"
#include "index/index_model.h"

namespace {

using index_files::ExpectMetInOrder;
using index_files::HeldDouble;
using index_files::OrderedDouble;
using index_files::Rec;
using index_files::SharedRecord;
using index_model::KeyList;
using index_model::Walk;
using index_model::WalkBack;

constexpr auto& ReadBytes = index_files::ReadFileBytes;
constexpr auto& WriteBytes = index_files::WriteFileBytes;

std::vector<uint8_t> Page(const std::string& path, int32_t block) {
  return ReadBytes(path, int64_t{block} * 512, 1024);
}

// Checks a tag's tree on disk: counts in range, leaves at one depth, keys in order within and
// across pages, every counted interior key equal to the last key of its child, no page reached
// twice. Keys are compared as the tag reads them (through its own page reader).
struct TreeShape {
  int depth = 0;
  int keys = 0;
};

TreeShape CheckMdxTree(HXobjMDXFile& file, HXobjMDXTag& tag) {
  TreeShape shape;
  const auto& path = file.DiskFile()->Name();
  const int32_t root = static_cast<int32_t>(DecodeLE32(Page(path, tag.HeaderPosition()).data()));
  std::set<int32_t> seen;
  int leafDepth = -1;
  std::unique_ptr<HXobjIndexKeyData> previous;
  auto inOrder = [&](const HXobjIndexKeyData& k) {
    if (previous) {
      int position = 0;
      int c = previous->Compare(&k, position, nullptr, -1);
      if (tag.IsDescending()) c = -c;
      EXPECT_LE(c, 0) << "keys out of order";
    }
    previous = std::make_unique<HXobjIndexKeyData>(k);
  };
  // Returns the last key of the subtree (none for an empty root).
  std::function<std::unique_ptr<HXobjIndexKeyData>(int32_t, int)> visit =
      [&](int32_t block, int depth) -> std::unique_ptr<HXobjIndexKeyData> {
    EXPECT_TRUE(seen.insert(block).second) << "page " << block << " reached twice";
    HXobjIndexKey page(&tag, nullptr, block);
    const auto raw = Page(path, block);
    const uint32_t counted = DecodeLE32(raw.data());
    // Nothing but the entries is written: the key of an interior page's last entry and the
    // bytes after the entries are zero, never left over from an earlier content.
    const size_t used = 8 + static_cast<size_t>(page.Count()) * static_cast<size_t>(tag.ItemLength());
    size_t stray = static_cast<size_t>(std::count_if(raw.begin() + static_cast<std::ptrdiff_t>(used),
                                                     raw.end(), [](uint8_t b) { return b != 0; }));
    if (!page.IsLeaf())
      for (size_t i = used - static_cast<size_t>(tag.ItemLength()) + 4; i < used; ++i) stray += raw[i] != 0;
    EXPECT_EQ(stray, 0u) << "stray bytes in page " << block;
    if (page.IsLeaf()) {
      EXPECT_EQ(counted, static_cast<uint32_t>(page.Count()));
      EXPECT_LE(page.Count(), tag.MaxKeys());
      if (leafDepth < 0) leafDepth = depth;
      EXPECT_EQ(depth, leafDepth) << "leaves at different depths";
      shape.depth = std::max(shape.depth, depth);
      shape.keys += page.Count();
      EXPECT_TRUE(page.Count() > 0 || depth == 1) << "empty leaf below the root at " << block;
      for (int i = 0; i < page.Count(); ++i) inOrder(page.Key(i));
      return page.Count() ? std::make_unique<HXobjIndexKeyData>(page.Key(page.Count() - 1)) : nullptr;
    }
    EXPECT_EQ(counted + 1, static_cast<uint32_t>(page.Count()));
    EXPECT_LE(page.Count(), tag.MaxKeys() + 1);
    std::unique_ptr<HXobjIndexKeyData> last;
    for (int i = 0; i < page.Count(); ++i) {
      last = visit(page.Key(i).Target(), depth + 1);
      if (i + 1 < page.Count() && last) {
        int position = 0;
        EXPECT_EQ(page.Key(i).Compare(last.get(), position, nullptr, -1), 0)
            << "interior key " << i << " of page " << block;
      }
    }
    return last;
  };
  visit(root, 1);
  return shape;
}

// The model test's tags in one MDX file: text, number and date keys, a FOR condition, a
// descending number tag and a long text key that makes deep trees.
index_model::ModelFormat MdxModelFormat() {
  using index_files::PaddedText;
  using index_files::PutDayKey;
  using index_files::PutNumberKey;
  using index_model::ModelTag;
  index_model::ModelFormat f;
  f.equalKeysByRecord = false;
  auto trimmed = [](int width, auto field) {
    return [width, field](const FakeRecord& r) {
      return index_files::TrimmedText(r.*field, static_cast<size_t>(width));
    };
  };
  auto number = [](const FakeRecord& r) { return mdx::StoredNumber(r.number); };
  f.tags = {
      ModelTag{"CALL", trimmed(10, &FakeRecord::call), trimmed(10, &FakeRecord::call),
               PaddedText(10, &FakeRecord::call), nullptr},
      ModelTag{"NUMBER", [=](const FakeRecord& r) { return HeldDouble(number(r)); },
               [=](const FakeRecord& r) { return OrderedDouble(number(r)); }, PutNumberKey, nullptr},
      ModelTag{"DAY", [](const FakeRecord& r) { return HeldDouble(r.day); },
               [](const FakeRecord& r) { return OrderedDouble(r.day); }, PutDayKey, nullptr},
      ModelTag{"CALL20", trimmed(10, &FakeRecord::call), trimmed(10, &FakeRecord::call),
               PaddedText(10, &FakeRecord::call), [](const FakeRecord& r) { return r.band == 20; }},
      ModelTag{"DOWN", [=](const FakeRecord& r) { return HeldDouble(number(r)); },
               [=](const FakeRecord& r) { return OrderedDouble(number(r)); }, PutNumberKey, nullptr,
               true},
      ModelTag{"TEXT", trimmed(100, &FakeRecord::text), trimmed(100, &FakeRecord::text),
               PaddedText(100, &FakeRecord::text), nullptr},
  };
  f.open = [](FakeIndexTable& table, const IndexTempDir& dir, bool create) {
    std::vector<std::unique_ptr<HXobjIndexFile>> files;
    auto file = std::make_unique<HXobjMDXFile>(&table, dir.File("MODEL.MDX"), false, create,
                                               false, true);
    if (create) {
      for (const auto& [name, expr, filter, ascending] :
           {std::tuple{"CALL", "CALL", "", true}, std::tuple{"NUMBER", "NUMBER", "", true},
            std::tuple{"DAY", "DAY", "", true}, std::tuple{"CALL20", "CALL", "BAND=20", true},
            std::tuple{"DOWN", "NUMBER", "", false}, std::tuple{"TEXT", "TEXT", "", true}})
        EXPECT_TRUE(file->CreateTag(name, expr, filter, ascending, false)) << name;
    } else {
      EXPECT_EQ(file->TagCount(), 6);
      // The long keys made a deep tree.
      EXPECT_GE(CheckMdxTree(*file, *static_cast<HXobjMDXTag*>(file->TagByName("TEXT"))).depth, 3);
    }
    files.push_back(std::move(file));
    return files;
  };
  f.checkDisk = [](HXobjIndexFile& file, HXobjIndexTag& tag, const KeyList& expected) {
    EXPECT_EQ(CheckMdxTree(static_cast<HXobjMDXFile&>(file), static_cast<HXobjMDXTag&>(tag)).keys,
              static_cast<int>(expected.size()))
        << tag.TagName() << " on disk";
  };
  return f;
}

HXobjIndexKeyData TextKey(const std::string& s) {
  HXobjIndexKeyData k;
  k.PutString(s);
  k.SetRecNo(kAnyRecord);
  return k;
}

HXobjIndexKeyData NumberKey(double v) {
  HXobjIndexKeyData k;
  k.PutFloat(v);
  k.SetRecNo(kAnyRecord);
  return k;
}

std::vector<int32_t> Records(const KeyList& keys) {
  std::vector<int32_t> out;
  for (const auto& k : keys) out.push_back(k.second);
  return out;
}

}  // namespace

TEST(MdxModel, AppendsAndRewritesOnEmptyStart) { index_model::RunModel(MdxModelFormat(), 1, 10, 60, false); }
TEST(MdxModel, AppendsAndRewritesAfterBuild) { index_model::RunModel(MdxModelFormat(), 2, 8, 80, true); }
TEST(MdxModel, TinyPageCacheAndMoreSeeds) {
  index_model::RunModel(MdxModelFormat(), 21, 6, 80, false, 3);
  index_model::RunModel(MdxModelFormat(), 22, 4, 100, true, 5);
  for (unsigned seed = 10; seed < 13; ++seed)
    index_model::RunModel(MdxModelFormat(), seed, 3, 120, seed % 2 == 0);
}

TEST(MdxFile, NewFileLayoutAndFirstTag) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("LOG.DBF"));
  const std::string path = dir.File("LOG.MDX");
  {
    HXobjMDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.Valid());
    EXPECT_TRUE(table.production_);
    EXPECT_EQ(std::filesystem::file_size(path), 2048u);
    ASSERT_TRUE(file.CreateTag("call", "CALL", "", true, false));
    HXobjIndexTag* tag = file.TagByName("CALL");
    EXPECT_EQ(tag->HeaderPosition(), 4);
    EXPECT_EQ(tag->Move(kMoveTop), 0);
    EXPECT_TRUE(tag->Bof() && tag->Eof());
    EXPECT_EQ(tag->Move(kMoveBottom), 0);
    EXPECT_TRUE(tag->Bof() && tag->Eof());
  }
  EXPECT_EQ(std::filesystem::file_size(path), 4096u);
  const auto h = ReadBytes(path, 0, 2048);
  EXPECT_EQ(h[0], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + 4)), "LOG");
  EXPECT_EQ(DecodeLE16(h.data() + 20), 2);
  EXPECT_EQ(DecodeLE16(h.data() + 22), 1024);
  EXPECT_EQ(h[24], 1);
  EXPECT_EQ(h[25], 48);
  EXPECT_EQ(DecodeLE16(h.data() + 26), 32);
  EXPECT_EQ(DecodeLE16(h.data() + 28), 1);
  EXPECT_EQ(DecodeLE32(h.data() + 32), 8u);  // header area, tag header, root
  EXPECT_EQ(h[529], 1);
  // The tag-table entry.
  EXPECT_EQ(DecodeLE32(h.data() + 544), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + 548)), "CALL");
  EXPECT_EQ(h[544 + 17], 0);
  EXPECT_EQ(h[544 + 19], 2);
  EXPECT_EQ(h[544 + 20], 'C');
  // The tag header: root block 6, a 10-byte text key in 16-byte items, 62 keys a page.
  const auto t = Page(path, 4);
  EXPECT_EQ(DecodeLE32(t.data()), 6u);
  EXPECT_EQ(t[8], 0x10);
  EXPECT_EQ(t[9], 'C');
  EXPECT_EQ(DecodeLE16(t.data() + 12), 10);
  EXPECT_EQ(DecodeLE16(t.data() + 14), 62);
  EXPECT_EQ(DecodeLE16(t.data() + 18), 16);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.data() + 24)), "CALL");
  EXPECT_EQ(t[245], 0);
  EXPECT_EQ(t[246], 1);
  EXPECT_EQ(DecodeLE32(t.data() + 248), 6u);
  EXPECT_EQ(DecodeLE32(t.data() + 252), 6u);
  // The root: an empty leaf, all zero.
  const auto root = Page(path, 6);
  EXPECT_EQ(std::count(root.begin(), root.end(), 0), 1024);
}


TEST(MdxFormat, PackedDecimalVectors) {
  struct Case {
    double value;
    const char* bytes;  // the bytes that are not zero, in hex
    double stored;
  };
  const Case cases[] = {
      {0.0, "3401", 0.0},
      {-0.0, "3401", 0.0},
      {1.5, "350915", 1.5},
      {-1.5, "358915", -1.5},  // only bit 0x80 of byte 1 differs
      {100.0, "370910", 100.0},
      {0.05, "330950", 0.05},
      {123.456, "3719123456", 123.456},
      {-0.001, "328910", -0.001},
      // 16 significant digits at most, 15 after the point at most.
      {12345.678901234567, "39411234567890123457", 12345.67890123457},
      {0.1234567890123456789, "34411234567890123460", 0.123456789012346},
      {1e-15, "260910", 1e-15},
      {4e-16, "3401", 0.0},
      // More than 15 digits before the point: fifteen nines with exponent 15.
      {999999999999999.0, "43419999999999999990", 999999999999999.0},
      {1e15, "43419999999999999990", 999999999999999.0},
      {-1e20, "43C19999999999999990", -999999999999999.0},
  };
  for (const Case& c : cases) {
    uint8_t b[12];
    mdx::EncodeNumber(c.value, b);
    std::string hex;
    int last = 11;
    while (last > 1 && b[last] == 0) --last;
    for (int i = 0; i <= last; ++i) {
      char two[3];
      snprintf(two, sizeof two, "%02X", b[i]);
      hex += two;
    }
    EXPECT_EQ(hex, c.bytes) << c.value;
    EXPECT_EQ(mdx::DecodeNumber(b), c.stored) << c.value;
    EXPECT_EQ(mdx::StoredNumber(mdx::StoredNumber(c.value)), mdx::StoredNumber(c.value)) << c.value;
  }
  // Decoding never trusts the digit count or the nibbles.
  const uint8_t wild[12] = {0xFF, 0xFF, 0xAB, 0xCD, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_TRUE(std::isfinite(mdx::DecodeNumber(wild)));
}

TEST(MdxBuild, OneFullLeafThenARootOverTwoLeaves) {
  for (int records : {62, 63}) {
    SCOPED_TRACE(records);
    IndexTempDir dir;
    FakeIndexTable table(dir.File("B.DBF"));
    for (int i = 0; i < records; ++i) table.Records().push_back(Rec("K" + std::to_string(1000 + i)));
    std::vector<std::tuple<int, int, int>> reports;
    table.onStatus = [&](int a, int b, int c) { reports.emplace_back(a, b, c); };
    const std::string path = dir.File("B.MDX");
    HXobjMDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
    auto* tag = static_cast<HXobjMDXTag*>(file.TagByName("CALL"));
    EXPECT_EQ(tag->MaxKeys(), 62);
    const auto root = Page(path, tag->Root());
    if (records == 62) {
      EXPECT_EQ(tag->Root(), 6);
      EXPECT_EQ(DecodeLE32(root.data()), 62u);
      EXPECT_EQ(DecodeLE32(root.data() + 8 + 62 * 16), 0u);  // a leaf: the slot after is 0
    } else {
      // Leaves at 6 and 8, their root at 10 with one counted key and two children.
      EXPECT_EQ(tag->Root(), 10);
      EXPECT_EQ(DecodeLE32(root.data()), 1u);
      EXPECT_EQ(DecodeLE32(root.data() + 8), 6u);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(root.data() + 12), 10), "K1061     ");
      EXPECT_EQ(DecodeLE32(root.data() + 24), 8u);
      EXPECT_EQ(DecodeLE32(Page(path, 8).data()), 1u);
      EXPECT_EQ(DecodeLE32(Page(path, 8).data() + 4), 6u);  // the chain to the page before
      EXPECT_EQ(DecodeLE32(Page(path, 4).data() + 248), 6u);
      EXPECT_EQ(DecodeLE32(Page(path, 4).data() + 252), 10u);
    }
    EXPECT_EQ(CheckMdxTree(file, *tag).keys, records);
    // Reading records, then writing the sorted keys.
    ASSERT_EQ(reports.size(), static_cast<size_t>(2 * records + 4));
    EXPECT_EQ(reports.front(), std::make_tuple(-1, 1, records));
    EXPECT_EQ(reports[static_cast<size_t>(records)], std::make_tuple(1, records, 0));
    EXPECT_EQ(reports[static_cast<size_t>(records) + 1], std::make_tuple(0, 0, 0));
    EXPECT_EQ(reports[static_cast<size_t>(records) + 2], std::make_tuple(-1, 2, records));
    EXPECT_EQ(reports[reports.size() - 2], std::make_tuple(2, records, 0));
    EXPECT_EQ(reports.back(), std::make_tuple(0, 0, 0));
  }
}

TEST(MdxKeys, DatesNumbersAndDescendingOrder) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("K.DBF"));
  // A blank date, negative and positive numbers.
  const double numbers[] = {-1.0, 2.5, -1.5, 0.0, 1e18, -20.25, 7.0};
  for (int i = 0; i < 7; ++i) table.Records().push_back(Rec("K", numbers[i], i == 3 ? 0 : 2459000 - i));
  const std::string path = dir.File("K.MDX");
  HXobjMDXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("DAY", "DAY", "", true, false));
  ASSERT_TRUE(file.CreateTag("NUMBER", "NUMBER", "", true, false));
  ASSERT_TRUE(file.CreateTag("DOWN", "NUMBER", "", false, false));
  // The blank date is stored as 1.0E100, after every real date, and a search for it finds it.
  HXobjIndexTag* day = file.TagByName("DAY");
  EXPECT_EQ(Records(Walk(day)), (std::vector<int32_t>{7, 6, 5, 3, 2, 1, 4}));
  auto* dayTag = static_cast<HXobjMDXTag*>(day);
  const auto leaf = Page(path, dayTag->Root());
  EXPECT_EQ(DecodeLE32(leaf.data() + 8 + 6 * 12), 4u);
  uint64_t bits = DecodeLE64(leaf.data() + 8 + 6 * 12 + 4);
  double stored;
  std::memcpy(&stored, &bits, sizeof stored);
  EXPECT_EQ(stored, 1.0E100);
  file.SetExact(true);
  EXPECT_EQ(day->Seek(TextKey("        ")), 4);
  EXPECT_EQ(day->Seek(TextKey("")), 4);
  file.SetExact(false);
  // -1.5 below -1.0; a number past 15 digits is kept as fifteen nines.
  HXobjIndexTag* number = file.TagByName("NUMBER");
  EXPECT_EQ(Records(Walk(number)), (std::vector<int32_t>{6, 3, 1, 4, 2, 7, 5}));
  EXPECT_EQ(number->Seek(NumberKey(999999999999999.0)), 5);
  EXPECT_EQ(number->Seek(TextKey("2.5")), 2);
  // A descending tag is stored in descending order and walked forward.
  HXobjIndexTag* down = file.TagByName("DOWN");
  EXPECT_FALSE(down->Descending());
  EXPECT_TRUE(static_cast<HXobjMDXTag*>(down)->IsDescending());
  EXPECT_EQ(Page(path, down->HeaderPosition())[8], 0x18);
  EXPECT_EQ(Records(Walk(down)), (std::vector<int32_t>{5, 7, 2, 4, 1, 3, 6}));
  EXPECT_EQ(down->Seek(NumberKey(0.0)), 4);
  // Grown to an interior root by single adds: the entry for the rightmost child stands below
  // every key, the negative ones included.
  table.Attach(&file);
  for (int i = 0; i < 200; ++i) table.Append(Rec("K", -3.0 * i - 100.0, 2459000));
  table.Detach();
  auto* downTag = static_cast<HXobjMDXTag*>(down);
  EXPECT_EQ(CheckMdxTree(file, *downTag).keys, 207);
  HXobjIndexKey root(downTag, nullptr, downTag->Root());
  ASSERT_FALSE(root.IsLeaf());
  int position = 0;
  const HXobjIndexKeyData lowest = NumberKey(-697.0);
  EXPECT_LT(root.Key(root.Count() - 1).Compare(&lowest, position, nullptr, -1), 0);
  const KeyList walked = Walk(down);
  ASSERT_EQ(walked.size(), 207u);
  EXPECT_EQ(walked.back().second, 207);
  EXPECT_EQ(down->Seek(NumberKey(-697.0)), 207);
}

TEST(MdxTag, EqualKeysAcrossLeavesKeepEveryRecordOnce) {
  // Every record has the same band: the entries of one key fill many leaves, in the order the
  // records came. Rewrites must find each record's own entry, wherever it lies among them.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("E.DBF"));
  for (int i = 0; i < 400; ++i) table.Records().push_back(Rec("K", 0, 0, 20));
  HXobjMDXFile file(&table, dir.File("E.MDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("BAND", "BAND", "", true, false));
  HXobjIndexTag* tag = file.TagByName("BAND");
  table.Attach(&file);
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    const int32_t n = 1 + static_cast<int32_t>(rng() % 400);
    FakeRecord r = table.Records()[static_cast<size_t>(n - 1)];
    r.band = rng() % 4 == 0 ? 40 : 20;
    table.Rewrite(n, r);
  }
  table.Detach();
  const KeyList keys = Walk(tag);
  ASSERT_EQ(keys.size(), 400u);
  std::set<int32_t> seen;
  for (const auto& [key, record] : keys) {
    EXPECT_TRUE(seen.insert(record).second) << record << " twice";
    HXobjIndexKeyData k;
    k.PutFloat(table.Records()[static_cast<size_t>(record - 1)].band);
    EXPECT_EQ(key, std::string(k.Bytes())) << record;
  }
  EXPECT_EQ(CheckMdxTree(file, *static_cast<HXobjMDXTag*>(tag)).keys, 400);
}

TEST(MdxTag, EmptiedTreeBecomesAnEmptyLeafRootAndGrowsAgain) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("E.DBF"));
  const std::string path = dir.File("E.MDX");
  HXobjMDXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("T20", "TEXT", "BAND=20", true, false));
  auto* tag = static_cast<HXobjMDXTag*>(file.TagByName("T20"));
  table.Attach(&file);
  for (int i = 0; i < 90; ++i) {
    FakeRecord r = Rec("X", 0, 0, 20);
    r.text = std::to_string(i * 7 % 90) + std::string(50, 'P');
    table.Append(r);
  }
  EXPECT_GE(CheckMdxTree(file, *tag).depth, 3);
  // Every record leaves the FOR condition: every page empties, none counts below zero.
  for (int32_t n = 1; n <= 90; ++n) {
    FakeRecord r = table.Records()[static_cast<size_t>(n - 1)];
    r.band = 40;
    table.Rewrite(n, r);
  }
  EXPECT_EQ(Walk(tag), KeyList{});
  const auto root = Page(path, tag->Root());
  EXPECT_EQ(DecodeLE32(root.data()), 0u);
  EXPECT_EQ(DecodeLE32(root.data() + 8), 0u);  // a leaf
  // Rebuilt over records of which none passes the FOR condition: still a root, an empty leaf.
  file.Reindex();
  EXPECT_EQ(Walk(tag), KeyList{});
  EXPECT_EQ(CheckMdxTree(file, *tag).keys, 0);
  for (int32_t n = 90; n >= 1; --n) {
    FakeRecord r = table.Records()[static_cast<size_t>(n - 1)];
    r.band = 20;
    table.Rewrite(n, r);
  }
  table.Detach();
  EXPECT_EQ(Walk(tag).size(), 90u);
  EXPECT_EQ(CheckMdxTree(file, *tag).keys, 90);
}

TEST(MdxFile, TagTableStaysSortedAndTagsAreReplacedDeletedAndLimited) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("T.DBF"));
  for (int i = 0; i < 100; ++i) table.Records().push_back(Rec("C" + std::to_string(i % 7), i));
  const std::string path = dir.File("T.MDX");
  auto names = [&] {
    const auto h = ReadBytes(path, 0, 2048);
    std::vector<std::string> out;
    for (int i = 1; i <= DecodeLE16(h.data() + 28); ++i) {
      EXPECT_EQ(h[512 + 32 * i + 17], i == DecodeLE16(h.data() + 28) ? 0 : i + 1);
      out.emplace_back(reinterpret_cast<const char*>(h.data() + 512 + 32 * i + 4));
    }
    return out;
  };
  {
    HXobjMDXFile file(&table, path, false, true, false, true);
    for (const char* n : {"zulu", "ALPHA", "Mike"}) ASSERT_TRUE(file.CreateTag(n, "CALL", "", true, false));
    EXPECT_EQ(names(), (std::vector<std::string>{"ALPHA", "MIKE", "ZULU"}));
    EXPECT_EQ(file.TagByIndex(1)->TagName(), "MIKE");
    // The same name again: replaced, with its new key type in the table.
    const int32_t old = file.TagByName("MIKE")->HeaderPosition();
    ASSERT_TRUE(file.CreateTag("mike", "NUMBER", "", true, false));
    EXPECT_EQ(file.TagCount(), 3);
    EXPECT_GT(file.TagByName("MIKE")->HeaderPosition(), old);
    EXPECT_EQ(ReadBytes(path, 512 + 64 + 20, 1)[0], 'N');
    // A deleted tag's entry does not stay behind in the table.
    EXPECT_TRUE(file.DeleteTag("Mike"));
    EXPECT_FALSE(file.DeleteTag("MIKE"));
    EXPECT_EQ(names(), (std::vector<std::string>{"ALPHA", "ZULU"}));
    const auto stale = ReadBytes(path, 512 + 96, 32);
    EXPECT_EQ(std::count(stale.begin(), stale.end(), 0), 32);
    // Names are table entries of ten characters; expressions must fit the tag header.
    EXPECT_THROW(file.CreateTag("ELEVENCHARS", "CALL", "", true, false), ESorrelError);
    EXPECT_THROW(file.CreateTag("LONG", std::string(221, 'X'), "", true, false), ESorrelError);
    const auto size = std::filesystem::file_size(path);
    EXPECT_FALSE(file.CreateTag("NONE", "NOKEY", "", true, false));
    EXPECT_EQ(file.TagCount(), 2);
    // Refused tags leave no block behind that the next free block would count.
    uint8_t b[512];
    ASSERT_TRUE(file.ReadBlock(0, b, 512));
    EXPECT_EQ(DecodeLE32(b + 32), size / 512);
    EXPECT_EQ(std::filesystem::file_size(path), size);
  }
  {
    HXobjMDXFile file(&table, path, false, false, false, true);
    ASSERT_EQ(file.TagCount(), 2);
    EXPECT_EQ(file.TagByIndex(0)->TagName(), "ALPHA");
    EXPECT_EQ(Walk(file.TagByName("ZULU")).size(), 100u);
    for (int i = 2; i < 47; ++i) ASSERT_TRUE(file.CreateTag("T" + std::to_string(i), "CALL", "", true, false));
    EXPECT_EQ(file.TagCount(), 47);
    // A 48th tag would be written past the header area: refused, and nothing changes.
    const auto before = ReadBytes(path, 0, static_cast<int64_t>(std::filesystem::file_size(path)));
    try {
      file.CreateTag("ONEMORE", "CALL", "", true, false);
      ADD_FAILURE() << "a 48th tag was added";
    } catch (const ESorrelError& e) {
      EXPECT_NE(std::string(e.what()).find("47 tags"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadBytes(path, 0, static_cast<int64_t>(std::filesystem::file_size(path))), before);
    EXPECT_TRUE(file.CreateTag("T2", "NUMBER", "", true, false));  // replacing still works
    for (int i = file.TagCount() - 1; i >= 0; --i)
      EXPECT_TRUE(file.DeleteTag(file.TagByIndex(i)->TagName()));
  }
  // No tag left: the file is its header area again.
  EXPECT_EQ(std::filesystem::file_size(path), 2048u);
  const auto h = ReadBytes(path, 0, 2048);
  EXPECT_EQ(DecodeLE16(h.data() + 28), 0);
  EXPECT_EQ(h[529], 0);
  EXPECT_EQ(std::count(h.begin() + 544, h.end(), 0), 2048 - 544);
  HXobjMDXFile empty(&table, path, false, false, false, true);
  EXPECT_TRUE(empty.Valid());
  EXPECT_EQ(empty.TagCount(), 0);
}

TEST(MdxFile, NextFreeBlockRebuildRenameAndEncryption) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("N.DBF"));
  table.password_ = "secret";
  const std::string path = dir.File("N.MDX");
  auto nextFree = [&](HXobjMDXFile& file) {
    uint8_t b[512];
    EXPECT_TRUE(file.ReadBlock(0, b, 512));
    return DecodeLE32(b + 32);
  };
  auto owned = std::make_unique<HXobjMDXFile>(&table, path, false, true, false, true);
  HXobjMDXFile& file = *owned;
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  ASSERT_TRUE(file.CreateTag("TEXT", "TEXT", "", true, false));
  table.Attach(&file);
  for (int i = 0; i < 300; ++i) {
    FakeRecord r = Rec("K" + std::to_string(i * 7 % 300));
    r.text = std::string(static_cast<size_t>(i % 50), 'T') + std::to_string(i);
    table.Append(r);
    // Pages added by a split are in the header's next free block at once, not only when tags
    // change or the file is closed.
    ASSERT_EQ(nextFree(file), std::filesystem::file_size(path) / 512) << i;
  }
  table.Detach();
  const KeyList calls = Walk(file.TagByName("CALL"));
  const auto grown = std::filesystem::file_size(path);
  std::vector<int> statuses;
  table.onStatus = [&](int a, int b, int c) {
    if (a < 0 || (a == 0 && b == 0 && c == 0)) statuses.push_back(a * 100 + b);
  };
  file.Reindex();
  table.onStatus = nullptr;
  EXPECT_EQ(statuses, (std::vector<int>{-99, 0, -98, 0, -99, 0, -98, 0}));
  EXPECT_LT(std::filesystem::file_size(path), grown);
  EXPECT_EQ(nextFree(file), std::filesystem::file_size(path) / 512);
  EXPECT_EQ(file.TagByName("CALL")->HeaderPosition(), 4);
  EXPECT_EQ(Walk(file.TagByName("CALL")), calls);
  // The header is scrambled with the table: plain bytes are not the version and geometry.
  EXPECT_NE(DecodeLE16(ReadBytes(path, 22, 2).data()), 1024);
  EXPECT_TRUE(file.Rename(dir.File("renamed.mdx")));
  uint8_t b[512];
  ASSERT_TRUE(file.ReadBlock(0, b, 512));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 4)), "RENAMED");
  file.Rescramble("secret", "");
  table.password_.clear();  // as the table's password changes right after its indexes
  owned.reset();
  HXobjMDXFile plain(&table, dir.File("renamed.mdx"), false, false, false, true);
  ASSERT_TRUE(plain.Valid());
  EXPECT_EQ(Walk(plain.TagByName("CALL")), calls);
}

TEST(MdxTag, UniqueTagsAndFilters) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("U.DBF"));
  const std::string path = dir.File("U.MDX");
  auto file = std::make_unique<HXobjMDXFile>(&table, path, false, true, false, true);
  ASSERT_TRUE(file->CreateTag("U", "CALL", "", true, true));
  ASSERT_TRUE(file->CreateTag("ON20", "CALL", "BAND=20", true, false));
  table.Attach(file.get());
  table.Append(Rec("W1AW", 0, 0, 20));
  table.Append(Rec("W1AW", 0, 0, 40));
  table.Append(Rec("K2X", 0, 0, 20));
  EXPECT_EQ(Records(Walk(file->TagByName("U"))), (std::vector<int32_t>{3, 1}));
  EXPECT_EQ(Records(Walk(file->TagByName("ON20"))), (std::vector<int32_t>{3, 1}));
  table.Rewrite(1, Rec("W1AW", 5, 0, 40));  // leaves the FOR condition, keeps the unique key
  EXPECT_EQ(Records(Walk(file->TagByName("U"))), (std::vector<int32_t>{3, 1}));
  EXPECT_EQ(Records(Walk(file->TagByName("ON20"))), (std::vector<int32_t>{3}));
  table.Detach();
  file.reset();
  const auto h = Page(path, 4);
  EXPECT_EQ(h[8], 0x50);
  EXPECT_EQ(h[23], 0x40);
  const auto f = Page(path, 8);
  EXPECT_EQ(f[245], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data() + 762)), "BAND=20");
  HXobjMDXFile again(&table, path, false, false, false, true);
  EXPECT_TRUE(again.TagByName("U")->Unique());
  EXPECT_EQ(again.TagByName("ON20")->FilterExpression(), "BAND=20");
}

namespace {

void CreateShared(const std::string& path, FakeIndexTable& table) {
  index_files::CreateSharedIndex<HXobjMDXFile>(path, table);
}

void CheckShared(const std::string& path, FakeIndexTable& table, int32_t records) {
  HXobjMDXFile file(&table, path, false, false, true, true);
  ASSERT_TRUE(file.Valid());
  for (const char* name : {"CALL", "TEXT"}) {
    auto* tag = static_cast<HXobjMDXTag*>(file.TagByName(name));
    std::set<int32_t> records_met;
    for (const auto& k : Walk(tag)) records_met.insert(k.second);
    EXPECT_EQ(static_cast<int32_t>(records_met.size()), records) << name;
    EXPECT_EQ(CheckMdxTree(file, *tag).keys, records) << name;
  }
}

// Two tables standing for two handles on one table, and the MDX file they share, made at once.
struct Shared : index_files::SharedIndexFixture<HXobjMDXFile> {
  explicit Shared(const std::string& stem) : SharedIndexFixture(stem, ".MDX") { Create(); }
};

}  // namespace

TEST(MdxShared, TwoHandlesSeeEachOthersKeysAndSplits) {
  Shared s("SH");
  {
    HXobjMDXFile a(&s.ta, s.path, false, false, true, true), b(&s.tb, s.path, false, false, true, true);
    ASSERT_TRUE(a.Valid() && b.Valid());
    s.ta.Attach(&a);
    s.tb.Attach(&b);
    // Both keep a tag's tree in memory between their updates, as a master tag does.
    a.TagByName("TEXT")->Move(kMoveTop);
    b.TagByName("CALL")->Move(kMoveTop);
    s.AppendThroughBoth(a, b, 300);
    // a walks through CALL while b adds enough keys to split the pages a holds: a meets every
    // key that was there before, once and in order, forward and backward.
    int32_t n = 300;
    index_files::ExpectWalksThroughAnothersSplits(a, "CALL", s.tb, n);
    s.ta.Detach();
    s.tb.Detach();
  }
  CheckShared(s.path, s.ta, 700);
}

TEST(MdxShared, AnotherHandlesRebuildMovesTheTagsItReadsAndWrites) {
  Shared s("RB");
  s.AddRecords(1, 400);
  HXobjMDXFile a(&s.ta, s.path, false, false, true, true), b(&s.tb, s.path, false, false, true, true);
  ASSERT_TRUE(a.Valid() && b.Valid());
  a.Reindex();
  HXobjIndexTag* tag = a.TagByName("TEXT");
  const KeyList before = Walk(tag);
  ASSERT_EQ(before.size(), 400u);
  KeyList met;
  int32_t r = tag->Move(kMoveTop);
  for (int i = 0; i < 150 && r != 0; ++i, r = tag->Move(kMoveNext))
    met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  // More records by the time b rebuilds: CALL, built first, grows and TEXT's pages move.
  s.AddRecords(401, 600);
  b.Reindex();
  EXPECT_NE(b.TagByName("TEXT")->HeaderPosition(), tag->HeaderPosition());
  for (; r != 0; r = tag->Move(kMoveNext)) met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  ExpectMetInOrder(met, before);
  // a's updates go into the rebuilt tags.
  s.ta.Attach(&a);
  for (int32_t n = 601; n <= 640; ++n) {
    s.tb.Records().push_back(SharedRecord(n));
    s.ta.Append(SharedRecord(n));
  }
  s.ta.Detach();
  EXPECT_EQ(tag->HeaderPosition(), b.TagByName("TEXT")->HeaderPosition());
  CheckShared(s.path, s.ta, 640);
}

TEST(MdxShared, TwoProcessesAppendingThroughTheHeaderLock) {
  IndexTempDir dir;
  const std::string path = dir.File("PR.MDX");
  FakeIndexTable table(dir.File("PR.DBF"));
  ASSERT_NO_FATAL_FAILURE(CreateShared(path, table));
  const int32_t total = 600;
  ASSERT_NO_FATAL_FAILURE(
      index_files::AppendFromTwoProcesses<HXobjMDXFile>(dir, "PR.DBF", path, table, total));
  CheckShared(path, table, total);
}

namespace {

// Runs the outside reader on one tag of an MDX file. It prints each key as it is stored (text
// padded, numbers and dates as their raw bytes: it does not decode them) and the record number,
// so the output is read by the key length rather than by lines.
KeyList OutsideReader(const std::string& path, const std::string& tag, int keyLength) {
  KeyList out;
  const std::string cmd = "index_dump '" + path + "' " + tag + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::string all;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, p)) > 0;) all.append(buffer, got);
  pclose(p);
  for (size_t at = 0; at < all.size();) {
    if (all.size() - at < static_cast<size_t>(keyLength) + 2) {
      out.emplace_back(all.substr(at), -1);
      break;
    }
    std::string key = all.substr(at, static_cast<size_t>(keyLength));
    at += static_cast<size_t>(keyLength) + 1;
    const size_t end = all.find('\n', at);
    out.emplace_back(key, std::atoi(all.substr(at, end - at).c_str()));
    at = end == std::string::npos ? all.size() : end + 1;
  }
  return out;
}

bool HaveOutsideReader() { return std::system("command -v index_dump >/dev/null 2>&1") == 0; }

FakeRecord ReaderRecord(int i) {
  FakeRecord r;
  r.call = (i % 3 ? "W" : "VK") + std::to_string((i * 7919) % 1500);
  r.number = (i % 41) - 20.25 + (i % 7) * 1000.125;
  r.day = 2459000 + (i * 13) % 800;
  return r;
}

void CheckWithOutsideReader(HXobjMDXFile& file, FakeIndexTable& table) {
  const std::string& path = file.DiskFile()->Name();
  struct Case {
    const char* tag;
    int keyLength;
    std::function<std::string(const FakeRecord&)> stored;
  };
  const Case cases[] = {
      {"CALL", 10, [](const FakeRecord& r) { std::string s = r.call; s.resize(10, ' '); return s; }},
      {"DOWN", 10, [](const FakeRecord& r) { std::string s = r.call; s.resize(10, ' '); return s; }},
      {"NUMBER", 12, [](const FakeRecord& r) {
         std::string s(12, '\0');
         mdx::EncodeNumber(r.number, reinterpret_cast<uint8_t*>(s.data()));
         return s;
       }},
      {"DAY", 8, [](const FakeRecord& r) {
         std::string s(8, '\0');
         const double d = r.day;
         uint64_t bits;
         std::memcpy(&bits, &d, 8);
         EncodeLE64(s.data(), bits);
         return s;
       }},
  };
  for (const Case& c : cases) {
    KeyList ours;
    for (const auto& [key, record] : Walk(file.TagByName(c.tag)))
      ours.emplace_back(c.stored(table.Records()[static_cast<size_t>(record - 1)]), record);
    ASSERT_FALSE(ours.empty());
    EXPECT_EQ(OutsideReader(path, c.tag, c.keyLength), ours) << c.tag;
  }
}

void CreateReaderTags(HXobjMDXFile& file) {
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  ASSERT_TRUE(file.CreateTag("DOWN", "CALL", "", false, false));
  ASSERT_TRUE(file.CreateTag("NUMBER", "NUMBER", "", true, false));
  ASSERT_TRUE(file.CreateTag("DAY", "DAY", "", true, false));
}

}  // namespace

TEST(MdxInterop, OutsideReaderAgreesOnFreshBuildAndAfterSingleAdds) {
  if (!HaveOutsideReader()) GTEST_SKIP() << "index_dump is not installed";
  {
    IndexTempDir dir;
    FakeIndexTable table(dir.File("LOG.DBF"));
    for (int i = 0; i < 5000; ++i) table.Records().push_back(ReaderRecord(i));
    HXobjMDXFile file(&table, dir.File("LOG.MDX"), false, true, false, true);
    ASSERT_NO_FATAL_FAILURE(CreateReaderTags(file));
    CheckWithOutsideReader(file, table);
  }
  IndexTempDir dir;
  FakeIndexTable table(dir.File("LOG.DBF"));
  HXobjMDXFile file(&table, dir.File("LOG.MDX"), false, true, false, true);
  ASSERT_NO_FATAL_FAILURE(CreateReaderTags(file));
  table.Attach(&file);
  for (int i = 0; i < 3000; ++i) table.Append(ReaderRecord(i));
  // Rewrites move keys between pages too.
  for (int i = 1; i <= 3000; i += 7) table.Rewrite(i, ReaderRecord(i * 3 + 1));
  table.Detach();
  CheckWithOutsideReader(file, table);
}

TEST(MdxDamage, APageNamingAnAncestorIsReportedAsDamage) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("CY.DBF"));
  for (int i = 0; i < 100; ++i) {
    FakeRecord r = Rec("K");
    r.text = std::to_string(1000 + i);
    table.Records().push_back(r);
  }
  const std::string path = dir.File("CY.MDX");
  int32_t root;
  {
    HXobjMDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("TEXT", "TEXT", "", true, false));
    root = file.TagByName("TEXT")->Root();
  }
  // Three levels: the root's first child is interior; its first entry now names the root.
  const int32_t child = static_cast<int32_t>(DecodeLE32(Page(path, root).data() + 8));
  ASSERT_NE(DecodeLE32(Page(path, child).data() + 8 + DecodeLE32(Page(path, child).data()) * 104), 0u);
  const uint32_t back = static_cast<uint32_t>(root);
  WriteBytes(path, int64_t{child} * 512 + 8, &back, 4);
  HXobjMDXFile file(&table, path, false, false, false, true);
  try {
    file.TagByName("TEXT")->Move(kMoveTop);
    ADD_FAILURE() << "no error";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smIndexCorrupted);
    EXPECT_NE(std::string(e.what()).find("CY.MDX"), std::string::npos);
  }
}

TEST(MdxDamage, MutatedFilesGiveAClearErrorNeverACrashOrAHang) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("F.DBF"));
  std::mt19937 rng(77);
  for (int i = 0; i < 200; ++i) table.Records().push_back(index_model::RandomRecord(rng));
  const std::string pristine = dir.File("PRISTINE.MDX");
  {
    HXobjMDXFile file(&table, pristine, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
    ASSERT_TRUE(file.CreateTag("NUMBER", "NUMBER", "", false, false));
    ASSERT_TRUE(file.CreateTag("DAY", "DAY", "BAND=20", true, false));
  }
  const auto size = static_cast<int64_t>(std::filesystem::file_size(pristine));
  const auto good = ReadBytes(pristine, 0, size);
  const std::string path = dir.File("F.MDX");
  const std::vector<FakeRecord> records = table.Records();
  {
    // A file too short for its header is damage, reported and left as it is (not made empty).
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(good.data(), 1, 300, f);
    fclose(f);
    HXobjMDXFile file(&table, path, false, false, false, true);
    EXPECT_FALSE(file.Valid());
  }
  EXPECT_EQ(std::filesystem::file_size(path), 300u);
  int errors = 0;
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    std::vector<uint8_t> bytes = good;
    const int kind = round % 4;
    if (kind == 3) {
      bytes.resize(static_cast<size_t>(rng() % static_cast<uint32_t>(size)));  // cut short
    } else {
      for (int m = 0; m <= static_cast<int>(rng() % 4); ++m) {
        // Header fields, tag headers and page counts first: where damage matters.
        int64_t at;
        if (kind == 0) at = rng() % 64 + (rng() % 2) * (512 + rng() % 1536);
        else if (kind == 1) at = (4 + 2 * int64_t(rng() % 20)) * 512 + rng() % 24;
        else at = rng() % static_cast<uint32_t>(size);
        if (at >= size) continue;
        bytes[static_cast<size_t>(at)] = rng() % 3 ? static_cast<uint8_t>(rng()) : 0xFF;
      }
    }
    {
      FILE* f = fopen(path.c_str(), "wb");
      fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
    try {
      HXobjMDXFile file(&table, path, false, false, false, true);
      if (!file.Valid()) {
        ++errors;
        continue;
      }
      for (int t = 0; t < file.TagCount(); ++t) {
        HXobjIndexTag* tag = file.TagByIndex(t);
        int steps = 0;
        for (int32_t r = tag->Move(kMoveTop); r != 0 && steps < 5000; r = tag->Move(kMoveNext)) ++steps;
        steps = 0;
        for (int32_t r = tag->Move(kMoveBottom); r != 0 && steps < 5000; r = tag->Move(kMovePrior)) ++steps;
        tag->Seek(TextKey("K2"));
      }
      // Key upkeep on a damaged tree.
      table.Attach(&file);
      table.Rewrite(1 + static_cast<int32_t>(rng() % 200), index_model::RandomRecord(rng));
      table.Detach();
    } catch (const ESorrelException&) {
      table.Detach();
      ++errors;
    }
    table.Records() = records;
  }
  EXPECT_GT(errors, 50);
}
