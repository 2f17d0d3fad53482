// CDX files through the index framework: building, navigation, seeks, key upkeep, file layout.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <random>
#include <set>

#include "base/byteorder.h"
#include "index/hx6_cdx.h"
#include "index/index_fake_table.h"
#include "index/index_file_util.h"
#include "index/index_model.h"

namespace {

using index_files::CallKey;
using index_files::ExpectMetInOrder;
using index_files::Rec;
using index_files::SharedRecord;
using index_files::WriteFileBytes;
using index_model::KeyList;
using index_model::Walk;
using index_model::WalkBack;

std::vector<uint8_t> ReadNode(const std::string& path, int64_t position, int size = 512) {
  return index_files::ReadFileBytes(path, position, size);
}

// Checks a tag's tree on disk: every interior entry names its child's last key and record, the
// leaves form one sibling chain in key order, and every node lies inside the file. Returns the
// depth (1 for a root leaf) and the number of leaf keys.
struct TreeShape {
  int depth = 0;
  int keys = 0;
  int leaves = 0;
};

TreeShape CheckTree(const std::string& path, int64_t header, const cdx::KeyForm& form) {
  TreeShape shape;
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
  auto h = ReadNode(path, header, 1024);
  int32_t root = static_cast<int32_t>(DecodeLE32(h.data()));
  std::vector<int32_t> leaves;
  std::function<std::pair<std::string, uint32_t>(int32_t, int, bool)> visit =
      [&](int32_t pos, int depth, bool isRoot) -> std::pair<std::string, uint32_t> {
    EXPECT_TRUE(pos > 0 && pos % 512 == 0 && pos + 512 <= size) << pos;
    auto node = ReadNode(path, pos);
    cdx::NodeHeader nh = cdx::ReadNodeHeader(node.data());
    EXPECT_EQ((nh.attributes & 1) != 0, isRoot) << pos;
    std::vector<cdx::NodeEntry> entries;
    if (nh.attributes >= 2) {
      EXPECT_TRUE(cdx::DecodeLeaf(node.data(), form, entries));
      shape.depth = std::max(shape.depth, depth);
      shape.keys += static_cast<int>(entries.size());
      ++shape.leaves;
      leaves.push_back(pos);
      if (entries.empty()) {
        EXPECT_TRUE(isRoot) << "empty leaf below the root at " << pos;
        return {"", 0};
      }
      return {entries.back().key, entries.back().record};
    }
    EXPECT_TRUE(cdx::DecodeInterior(node.data(), form, entries));
    EXPECT_FALSE(entries.empty()) << "empty interior node at " << pos;
    for (const auto& e : entries) {
      auto last = visit(e.child, depth + 1, false);
      EXPECT_EQ(last.first, e.key) << "interior key at " << pos;
      EXPECT_EQ(last.second, e.record) << "interior record at " << pos;
    }
    return entries.empty() ? std::pair<std::string, uint32_t>{"", 0}
                           : std::pair<std::string, uint32_t>{entries.back().key,
                                                              entries.back().record};
  };
  visit(root, 1, true);
  // The sibling chain of the leaves, in tree order.
  for (size_t i = 0; i < leaves.size(); ++i) {
    auto node = ReadNode(path, leaves[i]);
    cdx::NodeHeader nh = cdx::ReadNodeHeader(node.data());
    EXPECT_EQ(nh.left, i == 0 ? -1 : leaves[i - 1]) << "left of " << leaves[i];
    EXPECT_EQ(nh.right, i + 1 == leaves.size() ? -1 : leaves[i + 1]) << "right of " << leaves[i];
  }
  return shape;
}

HXobjIndexKeyData TextKey(const std::string& s, int32_t rec = kAnyRecord) {
  HXobjIndexKeyData k;
  k.PutString(s);
  k.SetRecNo(rec);
  k.SetTarget(rec);
  return k;
}

}  // namespace

TEST(CdxFile, NewFileHoldsDirectoryAndEmptyTagHasEmptyRootLeaf) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("LOG.DBF"));
  const std::string path = dir.File("LOG.CDX");
  {
    HXobjCDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.Valid());
    EXPECT_TRUE(table.production_);
    EXPECT_EQ(std::filesystem::file_size(path), 1536u);
    ASSERT_TRUE(file.CreateTag("call", "CALL", "", true, false));
    HXobjIndexTag* tag = file.TagByName("CALL");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->KeyLength(), 10);
    EXPECT_EQ(tag->Move(kMoveTop), 0);
    EXPECT_TRUE(tag->Bof());
    EXPECT_TRUE(tag->Eof());
    EXPECT_EQ(tag->Move(kMoveBottom), 0);
    EXPECT_TRUE(tag->Bof() && tag->Eof());
  }
  // Directory header at 0, its root leaf at 1024, the tag header at 1536, its root at 2560.
  auto h = ReadNode(path, 0, 1024);
  EXPECT_EQ(DecodeLE32(h.data()), 1024u);
  EXPECT_EQ(DecodeLE16(h.data() + 12), 10);
  EXPECT_EQ(h[14], 0xE0);
  auto dirRoot = ReadNode(path, 1024);
  EXPECT_EQ(DecodeLE16(dirRoot.data()), 3);
  EXPECT_EQ(DecodeLE16(dirRoot.data() + 2), 1);
  auto th = ReadNode(path, 1536, 1024);
  EXPECT_EQ(DecodeLE32(th.data()), 2560u);
  EXPECT_EQ(th[14], 0x60);
  EXPECT_EQ(th[15], 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(th.data() + 512)), "CALL");
  auto root = ReadNode(path, 2560);
  EXPECT_EQ(DecodeLE16(root.data()), 3);
  EXPECT_EQ(DecodeLE16(root.data() + 2), 0);
  EXPECT_EQ(static_cast<int32_t>(DecodeLE32(root.data() + 4)), -1);
  EXPECT_EQ(static_cast<int32_t>(DecodeLE32(root.data() + 8)), -1);
  EXPECT_EQ(DecodeLE16(root.data() + 12), 488);
  EXPECT_EQ(root[23], 3);
  EXPECT_EQ(std::filesystem::file_size(path), 3072u);
}

TEST(CdxFile, BuildsWalksAndSeeksAcrossTypes) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("LOG.DBF"));
  std::mt19937 rng(11);
  for (int i = 0; i < 3000; ++i) {
    std::string call = "K" + std::to_string(rng() % 5000);
    table.Records().push_back(Rec(call, static_cast<double>(static_cast<int>(rng() % 2000)) - 1000.5,
                                  2450000 + static_cast<int32_t>(rng() % 9000), 20));
  }
  HXobjCDXFile file(&table, dir.File("LOG.CDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  ASSERT_TRUE(file.CreateTag("NUMBER", "NUMBER", "", true, false));
  ASSERT_TRUE(file.CreateTag("DAY", "DAY", "", true, false));
  std::set<std::pair<std::string, int32_t>> calls, numbers, days;
  for (size_t i = 0; i < table.Records().size(); ++i) {
    const auto& r = table.Records()[i];
    const auto n = static_cast<int32_t>(i + 1);
    calls.emplace(CallKey(r.call), n);
    numbers.emplace(cdx::EncodeNumberKey(r.number), n);
    days.emplace(cdx::EncodeNumberKey(r.day), n);
  }
  EXPECT_EQ(Walk(file.TagByName("CALL")), KeyList(calls.begin(), calls.end()));
  EXPECT_EQ(Walk(file.TagByName("NUMBER")), KeyList(numbers.begin(), numbers.end()));
  EXPECT_EQ(Walk(file.TagByName("DAY")), KeyList(days.begin(), days.end()));
  KeyList back = WalkBack(file.TagByName("CALL"));
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(back, KeyList(calls.begin(), calls.end()));

  HXobjIndexTag* call = file.TagByName("CALL");
  for (const auto& [key, rec] : calls) {
    int32_t got = call->Seek(TextKey(key));
    ASSERT_NE(got, 0) << key;
    EXPECT_EQ(CallKey(table.Records()[static_cast<size_t>(got - 1)].call), key);
    // The first record of equal keys comes first.
    EXPECT_EQ(got, calls.lower_bound({key, 0})->second);
  }
  HXobjIndexKeyData num;
  num.PutFloat(table.Records()[10].number);
  num.SetRecNo(kAnyRecord);
  EXPECT_NE(file.TagByName("NUMBER")->Seek(num), 0);
}

namespace {

// The model test's tags in one compound file: text, number and date keys, a long text key that
// makes deep trees, and a FOR condition.
index_model::ModelFormat CdxModelFormat() {
  using index_files::PaddedText;
  using index_files::PutDayKey;
  using index_files::PutNumberKey;
  using index_model::ModelTag;
  index_model::ModelFormat f;
  f.equalKeysByRecord = true;
  auto callKey = [](const FakeRecord& r) { return CallKey(r.call); };
  auto numberKey = [](const FakeRecord& r) { return cdx::EncodeNumberKey(r.number); };
  auto dayKey = [](const FakeRecord& r) { return cdx::EncodeNumberKey(r.day); };
  auto textKey = [](const FakeRecord& r) { return index_files::TrimmedText(r.text, 100); };
  f.tags = {
      ModelTag{"CALL", callKey, callKey, PaddedText(10, &FakeRecord::call), nullptr},
      ModelTag{"NUMBER", numberKey, numberKey, PutNumberKey, nullptr},
      ModelTag{"DAY", dayKey, dayKey, PutDayKey, nullptr},
      ModelTag{"CALL20", callKey, callKey, PaddedText(10, &FakeRecord::call),
               [](const FakeRecord& r) { return r.band == 20; }},
      ModelTag{"TEXT", textKey, textKey, PaddedText(100, &FakeRecord::text), nullptr},
  };
  f.open = [](FakeIndexTable& table, const IndexTempDir& dir, bool create) {
    std::vector<std::unique_ptr<HXobjIndexFile>> files;
    auto file = std::make_unique<HXobjCDXFile>(&table, dir.File("MODEL.CDX"), false, create,
                                               false, true);
    if (create) {
      for (const auto& [name, expr, filter] :
           {std::tuple{"CALL", "CALL", ""}, std::tuple{"NUMBER", "NUMBER", ""},
            std::tuple{"DAY", "DAY", ""}, std::tuple{"TEXT", "TEXT", ""},
            std::tuple{"CALL20", "CALL", "BAND=20"}})
        EXPECT_TRUE(file->CreateTag(name, expr, filter, true, false)) << name;
    } else {
      EXPECT_EQ(file->TagCount(), 5);
      // The long keys made a deep tree.
      auto* tag = static_cast<HXobjCDXTag*>(file->TagByName("TEXT"));
      EXPECT_GE(CheckTree(file->DiskFile()->Name(), tag->HeaderPosition(), tag->Form()).depth, 3);
    }
    files.push_back(std::move(file));
    return files;
  };
  f.checkDisk = [](HXobjIndexFile& file, HXobjIndexTag& tag, const index_model::KeyList& expected) {
    auto& cdxTag = static_cast<HXobjCDXTag&>(tag);
    EXPECT_EQ(CheckTree(file.DiskFile()->Name(), cdxTag.HeaderPosition(), cdxTag.Form()).keys,
              static_cast<int>(expected.size()))
        << tag.TagName() << " on disk";
  };
  return f;
}

void RunModel(unsigned seed, int batches, int perBatch, bool buildFirst, int pageCache = 0) {
  index_model::RunModel(CdxModelFormat(), seed, batches, perBatch, buildFirst, pageCache);
}

}  // namespace

TEST(CdxModel, AppendsAndRewritesOnEmptyStart) { RunModel(1, 10, 60, false); }
TEST(CdxModel, AppendsAndRewritesAfterBuild) { RunModel(2, 8, 80, true); }
TEST(CdxModel, TinyPageCache) {
  // Pages are freed and decoded again all the time, beside changed pages that must stay.
  RunModel(21, 6, 80, false, 3);
  RunModel(22, 4, 100, true, 5);
  RunModel(23, 5, 100, false, 24);
  RunModel(24, 5, 100, true, 40);
}
TEST(CdxModel, MoreSeeds) {
  for (unsigned seed = 10; seed < 14; ++seed) RunModel(seed, 3, 120, seed % 2 == 0);
}

namespace {

// Runs the outside reader on one tag; its lines are "key record".
std::vector<std::pair<std::string, int32_t>> IndexDump(const std::string& path,
                                                       const std::string& tag,
                                                       const std::string& type) {
  std::vector<std::pair<std::string, int32_t>> out;
  std::string cmd = "index_dump -type=" + type + " '" + path + "' " + tag + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char line[512];
  while (fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t sp = s.rfind(' ');
    if (sp == std::string::npos) {
      out.emplace_back(s, -1);
      continue;
    }
    out.emplace_back(s.substr(0, sp), std::atoi(s.c_str() + sp + 1));
  }
  pclose(p);
  return out;
}

std::string FormatNumber(double v) {
  char b[64];
  snprintf(b, sizeof b, "%.15g", v);
  return b;
}

void CheckWithIndexDump(HXobjCDXFile& file, FakeIndexTable& table, const std::string& path) {
  // Our own order, keys written as the reader prints them.
  auto ours = [&](const std::string& name, auto render) {
    std::vector<std::pair<std::string, int32_t>> v;
    for (auto& [key, rec] : Walk(file.TagByName(name)))
      v.emplace_back(render(table.Records()[static_cast<size_t>(rec - 1)]), rec);
    return v;
  };
  auto calls = ours("CALL", [](const FakeRecord& r) { return CallKey(r.call); });
  auto numbers = ours("NUMBER", [](const FakeRecord& r) { return FormatNumber(r.number); });
  auto days = ours("DAY", [](const FakeRecord& r) { return std::to_string(r.day); });
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(IndexDump(path, "CALL", "char"), calls);
  EXPECT_EQ(IndexDump(path, "NUMBER", "num"), numbers);
  EXPECT_EQ(IndexDump(path, "DAY", "num"), days);
}

bool HaveIndexDump() { return std::system("command -v index_dump >/dev/null 2>&1") == 0; }

FakeRecord DumpRecord(int i) {
  FakeRecord r;
  r.call = (i % 3 ? "W" : "VK") + std::to_string((i * 7919) % 1500);
  r.number = (i % 41) - 20.25;
  r.day = 2459000 + (i * 13) % 800;
  return r;
}

}  // namespace

TEST(CdxInterop, OutsideReaderAgreesOnFreshBuild) {
  if (!HaveIndexDump()) GTEST_SKIP() << "index_dump is not installed";
  IndexTempDir dir;
  FakeIndexTable table(dir.File("LOG.DBF"));
  for (int i = 0; i < 5000; ++i) table.Records().push_back(DumpRecord(i));
  HXobjCDXFile file(&table, dir.File("LOG.CDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  ASSERT_TRUE(file.CreateTag("NUMBER", "NUMBER", "", true, false));
  ASSERT_TRUE(file.CreateTag("DAY", "DAY", "", true, false));
  CheckWithIndexDump(file, table, dir.File("LOG.CDX"));
}

TEST(CdxInterop, OutsideReaderAgreesAfterKeysAddedOneByOne) {
  if (!HaveIndexDump()) GTEST_SKIP() << "index_dump is not installed";
  IndexTempDir dir;
  FakeIndexTable table(dir.File("LOG.DBF"));
  HXobjCDXFile file(&table, dir.File("LOG.CDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  ASSERT_TRUE(file.CreateTag("NUMBER", "NUMBER", "", true, false));
  ASSERT_TRUE(file.CreateTag("DAY", "DAY", "", true, false));
  table.Attach(&file);
  for (int i = 0; i < 3000; ++i) table.Append(DumpRecord(i));
  // Rewrites move keys between leaves too.
  for (int i = 1; i <= 3000; i += 7) table.Rewrite(i, DumpRecord(i * 3 + 1));
  table.Detach();
  CheckWithIndexDump(file, table, dir.File("LOG.CDX"));
}

namespace {

uint32_t Fnv(const std::vector<uint8_t>& b) {
  uint32_t h = 2166136261u;
  for (uint8_t c : b) h = (h ^ c) * 16777619u;
  return h;
}

struct Golden {
  int64_t fileSize;
  int depth, leaves;
  uint8_t entryBytes, recordBits;
  uint32_t hash;
};

Golden BuildGolden(int records) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("G.DBF"));
  for (int i = 0; i < records; ++i) table.Records().push_back(Rec("K" + std::to_string((i * 37) % 9973)));
  const std::string path = dir.File("G.CDX");
  int32_t header;
  cdx::KeyForm form;
  {
    HXobjCDXFile file(&table, path, false, true, false, true);
    EXPECT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
    auto* tag = static_cast<HXobjCDXTag*>(file.TagByName("CALL"));
    header = tag->HeaderPosition();
    form = tag->Form();
  }
  Golden g{};
  g.fileSize = static_cast<int64_t>(std::filesystem::file_size(path));
  TreeShape shape = CheckTree(path, header, form);
  EXPECT_EQ(shape.keys, records);
  g.depth = shape.depth;
  g.leaves = shape.leaves;
  // The first leaf of the tree sits right after the tag header.
  auto leaf = ReadNode(path, header + 1024);
  EXPECT_GE(DecodeLE16(leaf.data()), 2);
  g.entryBytes = leaf[23];
  g.recordBits = leaf[20];
  std::vector<uint8_t> all = ReadNode(path, 0, static_cast<int>(g.fileSize));
  g.hash = Fnv(all);
  return g;
}

}  // namespace

TEST(CdxGolden, EmptyTag) {
  Golden g = BuildGolden(0);
  EXPECT_EQ(g.fileSize, 3072);
  EXPECT_EQ(g.depth, 1);
  EXPECT_EQ(g.entryBytes, 3);
  EXPECT_EQ(g.recordBits, 16);
  EXPECT_EQ(g.hash, 768604385u) << std::hex << g.hash;
}

TEST(CdxGolden, ThousandRecords) {
  Golden g = BuildGolden(1000);
  EXPECT_EQ(g.entryBytes, 3);
  EXPECT_EQ(g.recordBits, 16);
  EXPECT_EQ(g.depth, 2);
  // Directory (3 nodes), tag header (2), 11 leaves and their root: nothing allocated unused.
  EXPECT_EQ(g.fileSize, 17 * 512);
  EXPECT_EQ(g.leaves, 11);
  EXPECT_EQ(g.hash, 768525218u) << std::hex << g.hash;
}

TEST(CdxGolden, SeventyThousandRecords) {
  Golden g = BuildGolden(70000);
  EXPECT_EQ(g.entryBytes, 4);
  EXPECT_EQ(g.recordBits, 24);
  EXPECT_EQ(g.depth, 3);
  EXPECT_EQ(g.fileSize, 686 * 512);
  EXPECT_EQ(g.leaves, 655);
  EXPECT_EQ(g.hash, 63857108u) << std::hex << g.hash;
}

TEST(CdxTag, UniqueTagKeepsTheFirstRecordOfAKey) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("U.DBF"));
  auto file = std::make_unique<HXobjCDXFile>(&table, dir.File("U.CDX"), false, true, false, true);
  ASSERT_TRUE(file->CreateTag("U", "CALL", "", true, true));
  table.Attach(file.get());
  table.Append(Rec("W1AW"));
  table.Append(Rec("W1AW"));
  table.Append(Rec("K2X"));
  HXobjIndexTag* tag = file->TagByName("U");
  EXPECT_EQ(Walk(tag), (KeyList{{"K2X", 3}, {"W1AW", 1}}));
  // Rewritten with its key unchanged: the entry stays, nothing is added twice.
  table.Rewrite(1, Rec("W1AW", 5));
  EXPECT_EQ(Walk(tag), (KeyList{{"K2X", 3}, {"W1AW", 1}}));
  EXPECT_EQ(file->TagByName("U")->Unique(), true);
  table.Detach();
  file.reset();
  HXobjCDXFile again(&table, dir.File("U.CDX"), false, false, false, true);
  EXPECT_TRUE(again.TagByName("U")->Unique());
}

TEST(CdxTag, RootGrowthKeepsTheRootPositionInTheHeader) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("R.DBF"));
  const std::string path = dir.File("R.CDX");
  HXobjCDXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("TEXT", "TEXT", "", true, false));
  auto* tag = static_cast<HXobjCDXTag*>(file.TagByName("TEXT"));
  const uint32_t root = DecodeLE32(ReadNode(path, tag->HeaderPosition()).data());
  table.Attach(&file);
  for (int i = 0; i < 200; ++i) {
    FakeRecord r = Rec("X");
    r.text = std::string(static_cast<size_t>(i % 90), 'M') + std::to_string(i * 7919 % 1000);
    table.Append(r);
    // Each append leaves a whole tree on disk, the splits that grow the root included.
    ASSERT_EQ(CheckTree(path, tag->HeaderPosition(), tag->Form()).keys, i + 1) << i;
  }
  table.Detach();
  EXPECT_EQ(DecodeLE32(ReadNode(path, tag->HeaderPosition()).data()), root);
  TreeShape shape = CheckTree(path, tag->HeaderPosition(), tag->Form());
  EXPECT_GE(shape.depth, 3);
  EXPECT_EQ(shape.keys, 200);
}

TEST(CdxTag, SeekMatchesPrefixesUnlessExact) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("S.DBF"));
  for (const char* c : {"W1AW", "W1ABC", "K2XYZ", "W1", "DL1"}) table.Records().push_back(Rec(c));
  HXobjCDXFile file(&table, dir.File("S.CDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  HXobjIndexTag* tag = file.TagByName("CALL");
  EXPECT_EQ(tag->Seek(TextKey("W1A")), 2);  // W1ABC comes before W1AW
  EXPECT_EQ(tag->Seek(TextKey("W1")), 4);
  EXPECT_EQ(tag->Seek(TextKey("W1AW   ")), 1);  // trailing blanks do not count
  EXPECT_EQ(tag->Seek(TextKey("A")), 0);
  EXPECT_TRUE(tag->Bof());  // below every key
  EXPECT_EQ(tag->Seek(TextKey("ZZ")), 0);
  EXPECT_TRUE(tag->Eof());
  EXPECT_EQ(tag->Seek(TextKey("VE")), 0);  // between keys: not found, inside the tag
  EXPECT_FALSE(tag->Bof());
  file.SetExact(true);
  EXPECT_EQ(tag->Seek(TextKey("W1A")), 0);
  EXPECT_EQ(tag->Seek(TextKey("W1")), 4);
  file.SetExact(false);
  // FindRecord compares whole keys and leaves the position alone.
  EXPECT_EQ(tag->Move(kMoveTop), 5);
  EXPECT_EQ(tag->FindRecord(TextKey("K2XYZ")), 3);
  EXPECT_EQ(tag->FindRecord(TextKey("K2")), 0);
  EXPECT_EQ(tag->Move(kMoveNext), 3);
}

TEST(CdxTag, DescendingTagsRangesAndResync) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("D.DBF"));
  for (const char* c : {"B", "D", "A", "C", "E", "C"}) table.Records().push_back(Rec(c));
  const std::string path = dir.File("D.CDX");
  HXobjCDXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("DOWN", "CALL", "", false, false));
  ASSERT_TRUE(file.CreateTag("UP", "CALL", "", true, false));
  HXobjIndexTag* down = file.TagByName("DOWN");
  EXPECT_EQ(Walk(down), (KeyList{{"E", 5}, {"D", 2}, {"C", 6}, {"C", 4}, {"B", 1}, {"A", 3}}));
  auto* cdxDown = static_cast<HXobjCDXTag*>(down);
  EXPECT_EQ(DecodeLE16(ReadNode(path, cdxDown->HeaderPosition() + 502, 2).data()), 1);

  HXobjIndexTag* up = file.TagByName("UP");
  HXobjIndexKeyData low = TextKey("B"), high = TextKey("C");
  EXPECT_TRUE(up->SetRange(&low, &high, false, false, false));
  EXPECT_EQ(Walk(up), (KeyList{{"B", 1}, {"C", 4}, {"C", 6}}));
  KeyList back = WalkBack(up);
  EXPECT_EQ(back, (KeyList{{"C", 6}, {"C", 4}, {"B", 1}}));
  EXPECT_FALSE(up->SetRange(&low, &high, false, false, false));
  EXPECT_TRUE(up->SetRange(&low, &high, true, false, true));  // both ends excluded
  EXPECT_EQ(Walk(up), KeyList{});
  EXPECT_TRUE(up->SetRange(nullptr, nullptr, false, false, false));
  EXPECT_EQ(Walk(up).size(), 6u);

  table.GoTo(4);
  EXPECT_EQ(up->Resync(4), 4);
  EXPECT_EQ(up->Move(kMoveNext), 6);
  EXPECT_EQ(up->Move(kMovePrior), 4);
  EXPECT_EQ(up->Move(kMoveCurrent), 4);
}

TEST(CdxTag, KeysLongerThanTheKeyLengthAreCut) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("L.DBF"));
  FakeRecord first = Rec("A");
  first.text = "SHORT";
  table.Records().push_back(first);
  for (int i = 0; i < 40; ++i) {
    FakeRecord r = Rec("A");
    r.text = "LONGER-" + std::to_string(i) + std::string(200, 'Z');
    table.Records().push_back(r);
  }
  table.GoTo(1);
  HXobjCDXFile file(&table, dir.File("L.CDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("VAR", "VAR", "", true, false));
  HXobjIndexTag* tag = file.TagByName("VAR");
  EXPECT_EQ(tag->KeyLength(), 5);
  KeyList keys = Walk(tag);
  ASSERT_EQ(keys.size(), 41u);
  for (const auto& k : keys) EXPECT_LE(k.first.size(), 5u);
  // Added one by one, long keys are cut the same way.
  table.Attach(&file);
  FakeRecord r = Rec("A");
  r.text = std::string(300, 'Y');
  const int32_t n = table.Append(r);
  table.Detach();
  EXPECT_EQ(tag->Seek(TextKey("YYYYY")), n);
}

TEST(CdxTag, RefusedTagDefinitions) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("F.DBF"));
  table.Records().push_back(Rec("A"));
  FakeRecord wide = Rec("A");
  wide.text = std::string(240, 'W');
  table.AddExpression("W240", [](const FakeRecord&, ThxVariant& v) {
    v.PutString(std::string(240, 'W'));
    return kExpTypeText;
  });
  table.AddExpression("W239", [](const FakeRecord&, ThxVariant& v) {
    v.PutString(std::string(239, 'W'));
    return kExpTypeText;
  });
  table.GoTo(1);
  auto file = std::make_unique<HXobjCDXFile>(&table, dir.File("F.CDX"), false, true, false, true);
  ASSERT_TRUE(file->CreateTag("CALL", "CALL", "", true, false));
  // Names are directory keys of ten characters: a longer one would be cut onto another tag.
  EXPECT_THROW(file->CreateTag("CALLSIGNTAG", "CALL", "", true, false), ESorrelError);
  EXPECT_EQ(file->TagCount(), 1);
  try {
    file->CreateTag("WIDE", "W240", "", true, false);
    ADD_FAILURE() << "a 240-byte key was accepted";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smSortKeyLength);
    EXPECT_STREQ(e.what(), "Sort key length must be 1-240 bytes, is 241");
  }
  EXPECT_TRUE(file->CreateTag("WIDE", "W239", "", true, false));
  EXPECT_EQ(Walk(file->TagByName("WIDE")).size(), 1u);
  // A key that cannot be evaluated builds nothing and leaves no tag behind.
  EXPECT_FALSE(file->CreateTag("NONE", "NOKEY", "", true, false));
  EXPECT_EQ(file->TagByName("NONE"), nullptr);
  EXPECT_THROW(file->CreateTag("BAD", "NO SUCH FIELD", "", true, false), ESorrelExpression);
  EXPECT_EQ(file->TagCount(), 2);
  file.reset();
  HXobjCDXFile again(&table, dir.File("F.CDX"), false, false, false, true);
  EXPECT_TRUE(again.Valid());
  EXPECT_EQ(again.TagCount(), 2);
}

TEST(CdxFile, ReplacingDeletingAndRebuildingTags) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("T.DBF"));
  for (int i = 0; i < 500; ++i) table.Records().push_back(Rec("C" + std::to_string(i % 77), i));
  const std::string path = dir.File("T.CDX");
  auto file = std::make_unique<HXobjCDXFile>(&table, path, false, true, false, true);
  ASSERT_TRUE(file->CreateTag("A", "CALL", "", true, false));
  ASSERT_TRUE(file->CreateTag("B", "NUMBER", "", true, false));
  const auto size1 = std::filesystem::file_size(path);
  // Same name again: replaced, the file only grows.
  ASSERT_TRUE(file->CreateTag("a", "NUMBER", "", true, false));
  EXPECT_EQ(file->TagCount(), 2);
  EXPECT_GT(std::filesystem::file_size(path), size1);
  EXPECT_EQ(file->TagByName("A")->KeyType(), 'N');
  std::vector<int> statuses;
  table.onStatus = [&](int a, int b, int c) {
    if (a < 0 || (a == 0 && b == 0 && c == 0)) statuses.push_back(a * 100 + b);
  };
  file->Reindex();
  EXPECT_EQ(statuses, (std::vector<int>{-99, 0, -98, 0, -99, 0, -98, 0}));
  table.onStatus = nullptr;
  KeyList b = Walk(file->TagByName("B"));
  EXPECT_EQ(b.size(), 500u);
  file.reset();
  file = std::make_unique<HXobjCDXFile>(&table, path, false, false, false, true);
  ASSERT_EQ(file->TagCount(), 2);
  EXPECT_EQ(file->TagByIndex(0)->TagName(), "A");
  EXPECT_EQ(Walk(file->TagByName("A")), b);
  EXPECT_TRUE(file->DeleteTag("A"));
  EXPECT_FALSE(file->DeleteTag("A"));
  EXPECT_EQ(file->TagCount(), 1);
  EXPECT_TRUE(file->DeleteTag("b"));
  EXPECT_EQ(std::filesystem::file_size(path), 1536u);
  file.reset();
  HXobjCDXFile empty(&table, path, false, false, false, true);
  EXPECT_TRUE(empty.Valid());
  EXPECT_EQ(empty.TagCount(), 0);
}

TEST(CdxTag, EmptiedTreeBecomesAnEmptyLeafRootAndGrowsAgain) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("E.DBF"));
  const std::string path = dir.File("E.CDX");
  HXobjCDXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("T20", "TEXT", "BAND=20", true, false));
  table.Attach(&file);
  for (int i = 0; i < 60; ++i) {
    FakeRecord r = Rec("X", 0, 0, 20);
    r.text = std::to_string(i * 7 % 60) + std::string(50, 'P');
    table.Append(r);
  }
  auto* tag = static_cast<HXobjCDXTag*>(file.TagByName("T20"));
  EXPECT_GE(CheckTree(path, tag->HeaderPosition(), tag->Form()).depth, 3);
  // Every record leaves the FOR condition: every page empties.
  for (int32_t n = 1; n <= 60; ++n) {
    FakeRecord r = table.Records()[static_cast<size_t>(n - 1)];
    r.band = 40;
    table.Rewrite(n, r);
  }
  EXPECT_EQ(Walk(tag), KeyList{});
  auto root = ReadNode(path, DecodeLE32(ReadNode(path, tag->HeaderPosition()).data()));
  EXPECT_EQ(DecodeLE16(root.data()), 3);  // leaf root
  EXPECT_EQ(DecodeLE16(root.data() + 2), 0);
  // And back again.
  for (int32_t n = 60; n >= 1; --n) {
    FakeRecord r = table.Records()[static_cast<size_t>(n - 1)];
    r.band = 20;
    table.Rewrite(n, r);
  }
  table.Detach();
  EXPECT_EQ(Walk(tag).size(), 60u);
  TreeShape shape = CheckTree(path, tag->HeaderPosition(), tag->Form());
  EXPECT_EQ(shape.keys, 60);
}

TEST(CdxTag, GeneralCollationDoublesKeysAndSortsSharpSAsSs) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("G.DBF"));
  for (const char* c : {"STRASSE", "STRA\xDF" "E", "STRASSA", "STRAST", "strasse"})
    table.Records().push_back(Rec(c));
  const std::string path = dir.File("G.CDX");
  auto file = std::make_unique<HXobjCDXFile>(&table, path, false, true, false, true);
  HXobjCDXFile::SetNewTagCollation(cdx::kCollateGeneral);
  ASSERT_TRUE(file->CreateTag("GEN", "CALL", "", true, false));
  HXobjCDXFile::SetNewTagCollation(cdx::kCollateNone);
  auto* tag = static_cast<HXobjCDXTag*>(file->TagByName("GEN"));
  EXPECT_EQ(tag->KeyLength(), 20);
  auto h = ReadNode(path, tag->HeaderPosition(), 1024);
  EXPECT_EQ(h[15], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + 494)), "GENERAL");
  std::vector<int32_t> order;
  for (auto& k : Walk(tag)) order.push_back(k.second);
  // STRASSA < STRASSE = STRA(sharp s)E = strasse (case and the sharp s weigh alike; equal keys
  // by record) < STRAST.
  EXPECT_EQ(order, (std::vector<int32_t>{3, 1, 2, 5, 4}));
  table.Attach(file.get());
  table.Append(Rec("STRASSB"));
  table.Detach();
  order.clear();
  for (auto& k : Walk(tag)) order.push_back(k.second);
  EXPECT_EQ(order, (std::vector<int32_t>{3, 6, 1, 2, 5, 4}));
  KeyList keys = Walk(tag);
  file.reset();
  file = std::make_unique<HXobjCDXFile>(&table, path, false, false, false, true);
  EXPECT_EQ(static_cast<HXobjCDXTag*>(file->TagByName("GEN"))->Collation(), cdx::kCollateGeneral);
  EXPECT_EQ(Walk(file->TagByName("GEN")), keys);
}

TEST(CdxFile, EncryptedTablesScrambleIndexBlocks) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("X.DBF"));
  table.password_ = "secret";
  for (int i = 0; i < 300; ++i) table.Records().push_back(Rec("CALL" + std::to_string(i)));
  const std::string path = dir.File("X.CDX");
  KeyList keys;
  {
    HXobjCDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
    keys = Walk(file.TagByName("CALL"));
    ASSERT_EQ(keys.size(), 300u);
  }
  auto raw = ReadNode(path, 0, 1024);
  EXPECT_NE(DecodeLE32(raw.data()), 1024u);  // the directory header is scrambled
  {
    HXobjCDXFile file(&table, path, false, false, false, true);
    ASSERT_TRUE(file.Valid());
    EXPECT_EQ(Walk(file.TagByName("CALL")), keys);
    file.Rescramble("secret", "");
  }
  table.password_.clear();
  EXPECT_EQ(DecodeLE32(ReadNode(path, 0, 1024).data()), 1024u);
  HXobjCDXFile plain(&table, path, false, false, false, true);
  EXPECT_EQ(Walk(plain.TagByName("CALL")), keys);
}

TEST(CdxFile, DamagedHeadersMarkTheFileInvalid) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("B.DBF"));
  table.Records().push_back(Rec("A"));
  const std::string path = dir.File("B.CDX");
  int32_t header;
  {
    HXobjCDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
    header = file.TagByName("CALL")->HeaderPosition();
  }
  // Key length 241.
  const uint8_t len[2] = {241, 0};
  WriteFileBytes(path, header + 12, len, sizeof len);
  HXobjCDXFile file(&table, path, false, false, false, true);
  EXPECT_FALSE(file.Valid());
  EXPECT_TRUE(file.HeaderError());
}

namespace {

void CreateSharedFile(const std::string& path, FakeIndexTable& table) {
  index_files::CreateSharedIndex<HXobjCDXFile>(path, table);
}

void CheckSharedFile(const std::string& path, FakeIndexTable& table, int32_t records) {
  HXobjCDXFile file(&table, path, false, false, true, true);
  ASSERT_TRUE(file.Valid());
  std::set<std::pair<std::string, int32_t>> calls, texts;
  for (int32_t n = 1; n <= records; ++n) {
    calls.emplace(CallKey(SharedRecord(n).call), n);
    texts.emplace(cdx::TrimKey(SharedRecord(n).text, ' '), n);
  }
  EXPECT_EQ(Walk(file.TagByName("CALL")), KeyList(calls.begin(), calls.end()));
  EXPECT_EQ(Walk(file.TagByName("TEXT")), KeyList(texts.begin(), texts.end()));
  for (int i = 0; i < file.TagCount(); ++i) {
    auto* tag = static_cast<HXobjCDXTag*>(file.TagByIndex(i));
    EXPECT_EQ(CheckTree(path, tag->HeaderPosition(), tag->Form()).keys, records);
  }
}

// Two tables standing for two handles on one table, and the CDX file they share.
struct SharedIndex : index_files::SharedIndexFixture<HXobjCDXFile> {
  explicit SharedIndex(const std::string& stem) : SharedIndexFixture(stem, ".CDX") {}
};

}  // namespace

TEST(CdxShared, TwoHandlesInOneProcessSeeEachOthersKeys) {
  SharedIndex s("SH");
  ASSERT_NO_FATAL_FAILURE(s.Create());
  {
    HXobjCDXFile a(&s.ta, s.path, false, false, true, true),
        b(&s.tb, s.path, false, false, true, true);
    ASSERT_TRUE(a.Valid() && b.Valid());
    s.ta.Attach(&a);
    s.tb.Attach(&b);
    // Both keep a tag's tree in memory between their updates, as a master tag does.
    a.TagByName("TEXT")->Move(kMoveTop);
    b.TagByName("CALL")->Move(kMoveTop);
    s.AppendThroughBoth(a, b, 400);
    s.ta.Detach();
    s.tb.Detach();

    // The header lock: the second handle waits for the first.
    a.LockHeader();
    auto start = std::chrono::steady_clock::now();
    std::thread waiter([&] { b.LockHeader(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    a.UnlockHeader();
    waiter.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    b.UnlockHeader();
  }
  CheckSharedFile(s.path, s.ta, 400);
}

TEST(CdxShared, AnotherHandlesRebuildMovesTheTagsItReads) {
  // A rebuild lays every tag out anew at the end of the truncated file; a handle that had the
  // file open before finds its tags where the directory now says they are, and updates them
  // there.
  SharedIndex s("RB");
  ASSERT_NO_FATAL_FAILURE(s.Create());
  {
    HXobjCDXFile a(&s.ta, s.path, false, false, true, true),
        b(&s.tb, s.path, false, false, true, true);
    ASSERT_TRUE(a.Valid() && b.Valid());
    s.ta.Attach(&a);
    s.tb.Attach(&b);
    // Both stand for handles on one table: each sees every record, either writes the keys.
    int32_t n = 0;
    for (int round = 0; round < 3; ++round) {
      // The first tag grows, so that the second tag's header lands elsewhere in the next build.
      for (int i = 0; i < 150; ++i, ++n) s.Append(n + 1, (n + 1) % 2 ? s.ta : s.tb);
      (round % 2 ? b : a).Reindex();
      for (const char* tag : {"CALL", "TEXT"}) {
        EXPECT_EQ(Walk(a.TagByName(tag)).size(), static_cast<size_t>(n)) << tag << " round " << round;
        EXPECT_EQ(Walk(b.TagByName(tag)).size(), static_cast<size_t>(n)) << tag << " round " << round;
      }
    }
    // Updates after the other's rebuild go into the rebuilt tags.
    a.Reindex();
    for (int i = 0; i < 40; ++i, ++n) s.Append(n + 1, s.tb);
    s.ta.Detach();
    s.tb.Detach();
  }
  CheckSharedFile(s.path, s.ta, 490);
}

TEST(CdxShared, AHeldTreeIsNotUpdatedAfterAnotherHandlesRebuild) {
  // A rebuild sets the directory's change counter back to 0, the value a handle that has changed
  // nothing since it opened still holds: its tree in memory (a master tag's) is from before the
  // rebuild all the same, and its next update must not write into it.
  SharedIndex s("HT");
  ASSERT_NO_FATAL_FAILURE(s.Create());
  {
    HXobjCDXFile a(&s.ta, s.path, false, false, true, true),
        b(&s.tb, s.path, false, false, true, true);
    ASSERT_TRUE(a.Valid() && b.Valid());
    s.ta.Attach(&a);
    s.tb.Attach(&b);
    int32_t n = 0;
    for (; n < 200; ++n) s.Append(n + 1, s.ta);
    a.Reindex();
    // b holds both trees from here on, and has written nothing.
    b.TagByName("TEXT")->Move(kMoveTop);
    b.TagByName("CALL")->Move(kMoveBottom);
    for (; n < 300; ++n) s.Append(n + 1, s.ta);
    a.Reindex();
    for (; n < 340; ++n) s.Append(n + 1, s.tb);
    s.ta.Detach();
    s.tb.Detach();
  }
  CheckSharedFile(s.path, s.ta, 340);
}

TEST(CdxShared, RebuildWaitsForAnUpdateAndReadersWaitForTheRebuild) {
  SharedIndex s("WT");
  ASSERT_NO_FATAL_FAILURE(s.Create());
  s.AddRecords(1, 120);
  HXobjCDXFile a(&s.ta, s.path, false, false, true, true),
      b(&s.tb, s.path, false, false, true, true);
  ASSERT_TRUE(a.Valid() && b.Valid());
  a.Reindex();
  // An update holds the header lock for a moment: the rebuild waits for it instead of failing.
  a.LockHeader();
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    a.UnlockHeader();
  });
  EXPECT_NO_THROW(b.Reindex());
  releaser.join();
  // While a rebuild has the file locked, a tag header can be half written: a reader that finds
  // it so waits for the rebuild and reads it again.
  auto* tag = static_cast<HXobjCDXTag*>(a.TagByName("TEXT"));
  const int32_t position = b.TagByName("TEXT")->HeaderPosition();
  uint8_t saved[4];
  ASSERT_TRUE(b.ReadBlock(position + cdx::kHdrRoot, saved, 4));
  ASSERT_TRUE(b.DiskFile()->LockFile());
  const uint8_t zero[4] = {};
  b.WriteBlock(position + cdx::kHdrRoot, zero, 4);
  std::thread rebuilder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    b.WriteBlock(position + cdx::kHdrRoot, saved, 4);
    b.DiskFile()->Unlock();
  });
  std::vector<std::pair<std::string, int32_t>> keys;
  EXPECT_NO_THROW(keys = Walk(tag));
  rebuilder.join();
  EXPECT_EQ(keys.size(), 120u);
}

TEST(CdxShared, AWalkGoesOnThroughAnotherHandlesSplits) {
  // a steps through a tag while b adds enough keys to split the pages a holds: a meets every
  // key that was there before, once and in order, forward and backward.
  SharedIndex s("SW");
  ASSERT_NO_FATAL_FAILURE(s.Create());
  HXobjCDXFile a(&s.ta, s.path, false, false, true, true),
      b(&s.tb, s.path, false, false, true, true);
  ASSERT_TRUE(a.Valid() && b.Valid());
  s.tb.Attach(&b);
  int32_t n = 0;
  for (; n < 300; ++n) s.tb.AppendAs(n + 1, SharedRecord(n + 1));
  index_files::ExpectWalksThroughAnothersSplits(a, "CALL", s.tb, n);
  s.tb.Detach();
}

TEST(CdxShared, AWalkGoesOnThroughAnotherHandlesRebuild) {
  // Neither handle has written since the last rebuild, so both hold the change counter 0 that a
  // rebuild writes: b's rebuild must still show, or a's next step reads moved nodes.
  SharedIndex s("RW");
  ASSERT_NO_FATAL_FAILURE(s.Create());
  s.AddRecords(1, 400);
  {
    HXobjCDXFile first(&s.ta, s.path, false, false, true, true);
    first.Reindex();
  }
  HXobjCDXFile a(&s.ta, s.path, false, false, true, true),
      b(&s.tb, s.path, false, false, true, true);
  ASSERT_TRUE(a.Valid() && b.Valid());
  HXobjIndexTag* tag = a.TagByName("TEXT");
  const KeyList before = Walk(tag);
  ASSERT_EQ(before.size(), 400u);
  KeyList met;
  int32_t r = tag->Move(kMoveTop);
  for (int i = 0; i < 150 && r != 0; ++i, r = tag->Move(kMoveNext))
    met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  // More records by the time b rebuilds: CALL, built first, grows and TEXT's nodes move.
  s.AddRecords(401, 600);
  b.Reindex();
  for (; r != 0; r = tag->Move(kMoveNext)) met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  ExpectMetInOrder(met, before);
  for (const auto& [key, record] : met) EXPECT_GE(record, 1) << key;
  EXPECT_LE(met.size(), 600u);
}

TEST(CdxShared, AStepWaitsWhileAnotherHandleRebuilds) {
  // b rebuilds (the whole file locked, cut short and written again) while a is half way through
  // a tag: a's next step waits for the rebuild and goes on in the rebuilt tag.
  SharedIndex s("SR");
  ASSERT_NO_FATAL_FAILURE(s.Create());
  s.AddRecords(1, 300);
  HXobjCDXFile a(&s.ta, s.path, false, false, true, true),
      b(&s.tb, s.path, false, false, true, true);
  ASSERT_TRUE(a.Valid() && b.Valid());
  a.Reindex();
  HXobjIndexTag* tag = a.TagByName("TEXT");
  const KeyList before = Walk(tag);
  ASSERT_EQ(before.size(), 300u);
  KeyList met;
  int32_t r = tag->Move(kMoveTop);
  for (int i = 0; i < 100 && r != 0; ++i, r = tag->Move(kMoveNext))
    met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  ASSERT_TRUE(b.DiskFile()->LockFile());
  const auto start = std::chrono::steady_clock::now();
  std::thread rebuilder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    b.Reindex();
    b.DiskFile()->Unlock();
  });
  for (; r != 0; r = tag->Move(kMoveNext)) met.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  const auto waited = std::chrono::steady_clock::now() - start;
  rebuilder.join();
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_EQ(met, before);
}

TEST(CdxShared, HeaderLockGivesUpWithTheFileName) {
  IndexTempDir dir;
  const std::string path = dir.File("LK.CDX");
  FakeIndexTable ta(dir.File("LK.DBF"));
  ASSERT_NO_FATAL_FAILURE(CreateSharedFile(path, ta));
  HXobjCDXFile a(&ta, path, false, false, true, true), b(&ta, path, false, false, true, true);
  a.LockHeader();
  try {
    b.LockHeader();
    ADD_FAILURE() << "the lock was granted twice";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smCannotLockFile);
    EXPECT_NE(std::string(e.what()).find("LK.CDX"), std::string::npos);
  }
  a.UnlockHeader();
  b.LockHeader();
  b.UnlockHeader();
}

TEST(CdxShared, TwoProcessesAppendingThroughTheHeaderLock) {
  IndexTempDir dir;
  const std::string path = dir.File("PR.CDX");
  FakeIndexTable table(dir.File("PR.DBF"));
  ASSERT_NO_FATAL_FAILURE(CreateSharedFile(path, table));
  const int32_t total = 600;
  ASSERT_NO_FATAL_FAILURE(
      index_files::AppendFromTwoProcesses<HXobjCDXFile>(dir, "PR.DBF", path, table, total));
  CheckSharedFile(path, table, total);
}

TEST(CdxBuild, LastLeafFilledByTheLastKeyNamesNoRightSibling) {
  // More records than keys (a FOR condition left some out) and the last leaf fills on the last
  // key: its right sibling must not name a node that is never written.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("LB.DBF"));
  for (int i = 0; i < 1000; ++i) table.Records().push_back(Rec("K" + std::to_string(i), 0, 0, 40));
  const std::string path = dir.File("LB.CDX");
  HXobjCDXFile file(&table, path, false, true, false, true);
  ASSERT_TRUE(file.CreateTag("ONLY20", "CALL", "BAND=20", true, false));
  auto* tag = static_cast<HXobjCDXTag*>(file.TagByName("ONLY20"));
  {
    HXobjSortCDX sorter(tag, nullptr, false);
    const int64_t before = file.DiskFile()->FileSize();
    int added = 0;
    // Distinct ten-byte keys until the first leaf is written.
    while (file.DiskFile()->FileSize() == before) {
      char key[16];
      snprintf(key, sizeof key, "Z%09d", added * 7919);
      HXobjIndexKeyData k;
      k.PutString(key);
      ++added;
      sorter.CountEmitted();
      sorter.AddToLevel(0, added, k, added);
    }
    sorter.Finish();
    ASSERT_LT(added, 1000);
    uint8_t h[4];
    EncodeLE32(h, static_cast<uint32_t>(tag->Root()));
    WriteFileBytes(path, tag->HeaderPosition(), h, sizeof h);
    TreeShape shape = CheckTree(path, tag->HeaderPosition(), tag->Form());
    EXPECT_EQ(shape.keys, added);
    EXPECT_EQ(shape.leaves, 1);
    // Nothing was allocated past the last node written.
    EXPECT_EQ(file.End(), file.DiskFile()->FileSize());
  }
}

TEST(CdxFile, NamesLockRegionsAndRename) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("NAMES.DBF"));
  table.Records().push_back(Rec("A"));
  {
    // A bare name takes the table's folder and the default extension.
    HXobjCDXFile file(&table, "names", false, true, false, true);
    ASSERT_TRUE(file.Valid());
    EXPECT_EQ(file.FileName(), "names.cdx");
    EXPECT_TRUE(std::filesystem::exists(dir.File("names.cdx")));
    EXPECT_TRUE(file.HasName(dir.File("NAMES.CDX")));
    ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  }
  {
    // Create without overwrite opens what is there.
    HXobjCDXFile file(&table, dir.File("names.cdx"), false, true, true, true);
    EXPECT_EQ(file.TagCount(), 1);
    EXPECT_TRUE(file.DiskFile()->Shared());  // opened as asked, not made again
  }
  {
    HXobjCDXFile file(&table, dir.File("names.cdx"), false, false, true, true);
    ASSERT_TRUE(file.DiskFile()->Shared());
    struct Case {
      int protocol;
      int64_t offset, length;
    } cases[] = {{0, 0x7FFFFFFD, 1}, {1, 0xEFFFFFFE, 2}, {2, 1000000000, 1}, {3, 0x7FFFFFFD, 1}};
    for (const Case& c : cases) {
      file.SetLockProtocol(c.protocol);
      file.LockHeader();
      EXPECT_EQ(file.DiskFile()->LockOffset(), c.offset) << c.protocol;
      EXPECT_EQ(file.DiskFile()->LockLength(), c.length) << c.protocol;
      file.UnlockHeader();
      EXPECT_EQ(file.DiskFile()->LockCount(), 0);
    }
    EXPECT_TRUE(file.Rename(dir.File("renamed.cdx")));
    EXPECT_EQ(file.FileName(), "renamed.cdx");
  }
  HXobjCDXFile missing(&table, dir.File("names.cdx"), false, false, true, true);
  EXPECT_FALSE(missing.Valid());
  EXPECT_EQ(missing.DiskFile(), nullptr);
  HXobjCDXFile renamed(&table, dir.File("renamed.cdx"), false, false, true, true);
  EXPECT_EQ(renamed.TagCount(), 1);
}

TEST(CdxFile, ACycleInTheTreeIsReportedAsDamage) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("CY.DBF"));
  for (int i = 0; i < 3000; ++i) table.Records().push_back(Rec("K" + std::to_string(i)));
  const std::string path = dir.File("CY.CDX");
  int32_t root;
  {
    HXobjCDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
    root = static_cast<HXobjCDXTag*>(file.TagByName("CALL"))->Root();
  }
  // The root's first entry names the root itself.
  auto node = ReadNode(path, root);
  ASSERT_EQ(DecodeLE16(node.data()), 1);
  EncodeBE32(node.data() + 12 + 10 + 4, static_cast<uint32_t>(root));
  WriteFileBytes(path, root, node.data(), node.size());
  HXobjCDXFile file(&table, path, false, false, false, true);
  try {
    file.TagByName("CALL")->Move(kMoveTop);
    ADD_FAILURE() << "no error";
  } catch (const ESorrelError& e) {
    EXPECT_EQ(e.Number(), smIndexCorrupted);
  }
}

TEST(CdxTag, RecordNumbersBeyondOurRecordCountAreKeptWhole) {
  // Another program appended records our table object has not counted yet; their keys pass
  // through our page writes with their record numbers intact.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("W.DBF"));
  HXobjCDXFile file(&table, dir.File("W.CDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("CALL", "CALL", "", true, false));
  table.Attach(&file);
  for (int32_t n = 70000; n < 70300; ++n) table.AppendAs(n, Rec("K" + std::to_string(n % 37)));
  table.Detach();
  KeyList keys = Walk(file.TagByName("CALL"));
  ASSERT_EQ(keys.size(), 300u);
  for (const auto& k : keys) {
    EXPECT_GE(k.second, 70000);
    EXPECT_EQ(k.first, "K" + std::to_string(k.second % 37));
  }
}

namespace {

// Reaches the update mode of a tag, so that many keys collect in one page before it is written.
class BatchTag : public HXobjCDXTag {
 public:
  using HXobjCDXTag::HXobjCDXTag;
  void SetUpdating(bool on) { updating_ = on; }
};

}  // namespace

TEST(CdxTag, APageFarOverOneNodeSplitsUntilEveryPartFits) {
  IndexTempDir dir;
  FakeIndexTable table(dir.File("M.DBF"));
  const std::string path = dir.File("M.CDX");
  int32_t header;
  {
    HXobjCDXFile file(&table, path, false, true, false, true);
    ASSERT_TRUE(file.CreateTag("TEXT", "TEXT", "", true, false));
    header = file.TagByName("TEXT")->HeaderPosition();
  }
  HXobjCDXFile file(&table, path, false, false, false, true);
  BatchTag tag(&file, header, "TEXT");
  ASSERT_TRUE(tag.Valid());
  std::set<std::pair<std::string, int32_t>> ref;
  tag.SetUpdating(true);
  for (int32_t n = 1; n <= 150; ++n) {
    // Long and short keys mixed: a first part below 250 bytes leaves a remainder far over a node.
    std::string text = n % 3 ? std::string(static_cast<size_t>(60 + n % 40), static_cast<char>('A' + n % 26))
                             : std::string(1, static_cast<char>('a' + n % 26));
    text += std::to_string(n);
    HXobjIndexKeyData k;
    k.PutString(text);
    k.SetRecNo(n);
    k.SetTarget(n);
    ASSERT_TRUE(tag.AddKey(k));
    ref.emplace(cdx::TrimKey(text.substr(0, 100), ' '), n);
  }
  tag.SetUpdating(false);
  tag.ReleasePages();
  TreeShape shape = CheckTree(path, header, tag.Form());
  EXPECT_EQ(shape.keys, 150);
  EXPECT_GE(shape.depth, 3);
  EXPECT_EQ(Walk(&tag), KeyList(ref.begin(), ref.end()));
}

TEST(CdxTag, FreedPagesLeaveNoDanglingPathBehind) {
  // A deep tree, a page cache that frees leaves but keeps interior pages, and searches that
  // come back through interior pages whose last child was freed meanwhile.
  IndexTempDir dir;
  FakeIndexTable table(dir.File("P.DBF"));
  std::mt19937 rng(99);
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    FakeRecord r = Rec("A");
    r.text = std::string(static_cast<size_t>(rng() % 70), 'R') + std::to_string(rng() % 100000);
    texts.push_back(cdx::TrimKey(r.text, ' '));
    table.Records().push_back(r);
  }
  HXobjCDXFile file(&table, dir.File("P.CDX"), false, true, false, true);
  ASSERT_TRUE(file.CreateTag("TEXT", "TEXT", "", true, false));
  HXobjIndexTag* tag = file.TagByName("TEXT");
  for (int limit : {120, 60, 8}) {
    tag->SetPageCacheLimit(limit);
    for (int i = 0; i < 1500; ++i) {
      const size_t n = rng() % texts.size();
      file.SetExact(true);
      const int32_t got = tag->Seek(TextKey(texts[n]));
      ASSERT_NE(got, 0) << texts[n];
      EXPECT_EQ(texts[static_cast<size_t>(got - 1)], texts[n]);
      if (i % 7 == 0) tag->Move(kMoveNext);
    }
    EXPECT_LE(tag->LoadedPages(), limit + 8);
  }
  file.SetExact(false);
}
