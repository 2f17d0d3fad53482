// MDX files through the index framework: layouts, key encodings, building, key upkeep, tag
// table, sharing, the outside reader and damaged files.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "byteorder.h"
#include "hx6_mdx.h"
#include "index_fake_table.h"
#include "index_model.h"

namespace {

using index_model::KeyList;
using index_model::Walk;
using index_model::WalkBack;

std::vector<uint8_t> ReadBytes(const std::string& path, int64_t offset, int64_t size) {
  std::vector<uint8_t> b(static_cast<size_t>(size));
  FILE* f = fopen(path.c_str(), "rb");
  fseek(f, static_cast<long>(offset), SEEK_SET);
  b.resize(fread(b.data(), 1, b.size(), f));
  fclose(f);
  return b;
}

[[maybe_unused]] void WriteBytes(const std::string& path, int64_t offset, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "r+b");
  fseek(f, static_cast<long>(offset), SEEK_SET);
  fwrite(data, 1, size, f);
  fclose(f);
}

std::vector<uint8_t> Page(const std::string& path, int32_t block) {
  return ReadBytes(path, int64_t{block} * 512, 1024);
}

// Checks a tag's tree on disk: counts in range, leaves at one depth, keys in order within and
// across pages, every counted interior key equal to the last key of its child, no page reached
// twice. Keys are compared as the tag reads them (through its own page reader).
index_model::Format::Shape CheckMdxTree(HXobjMDXFile& file, HXobjMDXTag& tag) {
  index_model::Format::Shape shape;
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

index_model::Format MdxModelFormat() {
  index_model::Format f;
  f.extension = "MDX";
  f.open = [](FakeIndexTable& table, const std::string& path, bool create) {
    return std::make_unique<HXobjMDXFile>(&table, path, false, create, false, true);
  };
  f.disk = [](HXobjIndexFile& file, HXobjIndexTag& tag) {
    return CheckMdxTree(static_cast<HXobjMDXFile&>(file), static_cast<HXobjMDXTag&>(tag));
  };
  f.descendingTag = true;
  return f;
}

[[maybe_unused]] FakeRecord Rec(std::string call, double number = 0, int32_t day = 0, int band = 0) {
  FakeRecord r;
  r.call = std::move(call);
  r.number = number;
  r.day = day;
  r.band = band;
  return r;
}

[[maybe_unused]] HXobjIndexKeyData TextKey(const std::string& s) {
  HXobjIndexKeyData k;
  k.PutString(s);
  k.SetRecNo(kAnyRecord);
  return k;
}

[[maybe_unused]] HXobjIndexKeyData NumberKey(double v) {
  HXobjIndexKeyData k;
  k.PutFloat(v);
  k.SetRecNo(kAnyRecord);
  return k;
}

[[maybe_unused]] std::vector<int32_t> Records(const KeyList& keys) {
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
