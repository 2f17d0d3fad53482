// CDX files through the index framework: building, navigation, seeks, key upkeep, file layout.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

#include "byteorder.h"
#include "hx6_cdx.h"
#include "index_fake_table.h"

namespace {

using KeyList = std::vector<std::pair<std::string, int32_t>>;

KeyList Walk(HXobjIndexTag* tag) {
  KeyList out;
  for (int32_t r = tag->Move(kMoveTop); r != 0 && !tag->Eof(); r = tag->Move(kMoveNext))
    out.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  return out;
}

KeyList WalkBack(HXobjIndexTag* tag) {
  KeyList out;
  for (int32_t r = tag->Move(kMoveBottom); r != 0 && !tag->Bof(); r = tag->Move(kMovePrior))
    out.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  return out;
}

std::vector<uint8_t> ReadNode(const std::string& path, int64_t position, int size = 512) {
  std::vector<uint8_t> b(static_cast<size_t>(size));
  FILE* f = fopen(path.c_str(), "rb");
  fseek(f, static_cast<long>(position), SEEK_SET);
  size_t got = fread(b.data(), 1, b.size(), f);
  fclose(f);
  b.resize(got);
  return b;
}

std::string CallKey(const std::string& call) {
  std::string s = call.substr(0, 10);
  return cdx::TrimKey(s, ' ');
}

FakeRecord Rec(std::string call, double number = 0, int32_t day = 0, int band = 0) {
  FakeRecord r;
  r.call = std::move(call);
  r.number = number;
  r.day = day;
  r.band = band;
  return r;
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
