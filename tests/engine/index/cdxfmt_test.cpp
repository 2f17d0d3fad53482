// CDX node layouts and key encodings, checked on byte images.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "base/byteorder.h"
#include "index/hx6_cdxfmt.h"

using namespace cdx;

TEST(CdxLeafLayout, WidthsFollowKeyLengthAndRecordCount) {
  LeafLayout l = ChooseLeafLayout(10, 1000);
  EXPECT_EQ(l.entryBytes, 3);
  EXPECT_EQ(l.recordBits, 16);
  EXPECT_EQ(l.recordMask, 0xFFFFu);
  EXPECT_EQ(l.dupBits, 4);
  EXPECT_EQ(l.trailBits, 4);
  EXPECT_EQ(l.dupMask, 0x0F);
  EXPECT_EQ(l.trailMask, 0x0F);

  l = ChooseLeafLayout(10, 70000);
  EXPECT_EQ(l.entryBytes, 4);
  EXPECT_EQ(l.recordBits, 24);
  EXPECT_EQ(l.recordMask, 0xFFFFFFu);

  l = ChooseLeafLayout(8, 0);  // 8 needs four bits
  EXPECT_EQ(l.dupBits, 4);
  EXPECT_EQ(l.entryBytes, 3);
  l = ChooseLeafLayout(1, 0);
  EXPECT_EQ(l.dupBits, 1);
  EXPECT_EQ(l.recordBits, 22);
  l = ChooseLeafLayout(240, 100);
  EXPECT_EQ(l.dupBits, 8);
  EXPECT_EQ(l.entryBytes, 3);
  EXPECT_EQ(l.recordBits, 8);
  l = ChooseLeafLayout(240, 256);
  EXPECT_EQ(l.entryBytes, 4);
  EXPECT_EQ(l.recordBits, 16);
  // The mask stops at the largest record number a file can hold.
  l = ChooseLeafLayout(10, 0x7FFFFFFF);
  EXPECT_EQ(l.recordMask, 0x7FFFFFFFu);
  EXPECT_EQ(l.recordBits, 31);
  EXPECT_EQ(l.entryBytes, 5);
}

TEST(CdxLeaf, TrailingBlanksAndDuplicatesCompressAndRoundTrip) {
  uint8_t node[kNodeSize] = {};
  KeyForm form{10, true, false};
  LeafLayout layout = ChooseLeafLayout(10, 1000);
  LeafBuilder b(node, form, layout);
  ASSERT_TRUE(b.Add("AB", 7));
  ASSERT_TRUE(b.Add("ABC", 9));
  ASSERT_TRUE(b.Add("ABC", 3));
  ASSERT_TRUE(b.Add("B", 1000));
  EXPECT_EQ(DecodeLE16(node + kNodeCount), 4);
  // First entry: record 7, no duplicates, trailing count 8 (a two-letter key in ten bytes).
  uint32_t e0 = node[24] | (node[25] << 8) | (node[26] << 16);
  EXPECT_EQ(e0 & 0xFFFF, 7u);
  EXPECT_EQ((e0 >> 16) & 0xF, 0u);
  EXPECT_EQ(e0 >> 20, 8u);
  EXPECT_EQ(node[510], 'A');
  EXPECT_EQ(node[511], 'B');
  // Second: shares two bytes and stores one.
  uint32_t e1 = node[27] | (node[28] << 8) | (node[29] << 16);
  EXPECT_EQ((e1 >> 16) & 0xF, 2u);
  EXPECT_EQ(e1 >> 20, 7u);
  EXPECT_EQ(node[509], 'C');
  // Free bytes: 488 - (3+2) - (3+1) - (3+0) - (3+1).
  EXPECT_EQ(DecodeLE16(node + kLeafFree), 488 - 16);

  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeLeaf(node, form, out));
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].key, "AB");
  EXPECT_EQ(out[1].key, "ABC");
  EXPECT_EQ(out[2].key, "ABC");
  EXPECT_EQ(out[2].record, 3u);
  EXPECT_EQ(out[3].key, "B");
  EXPECT_EQ(out[3].record, 1000u);
}

TEST(CdxLeaf, FillsUntilFullAndRejectsCorruptCounts) {
  uint8_t node[kNodeSize] = {};
  KeyForm form{20, true, false};
  LeafLayout layout = ChooseLeafLayout(20, 70000);
  LeafBuilder b(node, form, layout);
  std::mt19937 rng(5);
  std::vector<std::string> keys;
  for (int i = 0; i < 200; ++i) {
    std::string k;
    int n = 1 + static_cast<int>(rng() % 20);
    for (int j = 0; j < n; ++j) k.push_back(static_cast<char>('A' + rng() % 26));
    keys.push_back(k);
  }
  std::sort(keys.begin(), keys.end());
  int added = 0;
  for (const auto& k : keys) {
    if (!b.Add(k, static_cast<uint32_t>(60000 + added))) break;
    ++added;
  }
  EXPECT_GT(added, 10);
  EXPECT_LT(added, 200);
  EXPECT_GE(b.Free(), 0);
  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeLeaf(node, form, out));
  ASSERT_EQ(static_cast<int>(out.size()), added);
  for (int i = 0; i < added; ++i) {
    EXPECT_EQ(out[static_cast<size_t>(i)].key, keys[static_cast<size_t>(i)]);
    EXPECT_EQ(out[static_cast<size_t>(i)].record, static_cast<uint32_t>(60000 + i));
  }
  // A count that claims more entries than the area holds is refused, not read past the node.
  EncodeLE16(node + kNodeCount, 400);
  EXPECT_FALSE(DecodeLeaf(node, form, out));
}

TEST(CdxInterior, EntriesAreBlankPaddedWithBigEndianNumbers) {
  uint8_t node[kNodeSize] = {};
  KeyForm form{6, true, false};
  PutInteriorEntry(node, form, 0, "W1AW", 0x01020304, 0x0600);
  PutInteriorEntry(node, form, 1, "ZZ", 5, 0x0800);
  EncodeLE16(node + kNodeCount, 2);
  EXPECT_EQ(std::memcmp(node + 12, "W1AW  \x01\x02\x03\x04\x00\x00\x06\x00", 14), 0);
  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeInterior(node, form, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].key, "W1AW");
  EXPECT_EQ(out[0].record, 0x01020304u);
  EXPECT_EQ(out[1].child, 0x0800);
  EXPECT_EQ(MaxInteriorKeys(6), 35);
  EncodeLE16(node + kNodeCount, 36);
  EXPECT_FALSE(DecodeInterior(node, form, out));
}

TEST(CdxKeys, NumbersSortAsBytes) {
  std::vector<double> values = {-1e300, -1.5, -1.0, -0.25, 0.0, 1e-300, 0.5, 1.0, 1.5, 2.0, 1e300};
  for (size_t i = 1; i < values.size(); ++i) {
    std::string a = EncodeNumberKey(values[i - 1]);
    std::string b = EncodeNumberKey(values[i]);
    // Trimmed keys compare as their padded forms when the shorter sorts first.
    a.resize(8, '\0');
    b.resize(8, '\0');
    EXPECT_LT(a, b) << values[i - 1] << " vs " << values[i];
    EXPECT_EQ(DecodeNumberKey(EncodeNumberKey(values[i])), values[i]);
  }
  // Trailing zero bytes are dropped: 1.0 is 0xBF 0xF0.
  EXPECT_EQ(EncodeNumberKey(1.0), std::string("\xBF\xF0", 2));
  EXPECT_EQ(EncodeNumberKey(0.0), std::string("\x80", 1));
}

TEST(CdxKeys, GeneralCollation) {
  // Sharp s sorts as two letters S; accents come after the plain letters.
  std::string strasse = EncodeGeneralKey("STRA\xDF" "E");
  std::string strasse2 = EncodeGeneralKey("STRASSE");
  EXPECT_EQ(strasse.substr(0, 7), strasse2.substr(0, 7));
  EXPECT_EQ(EncodeGeneralKey("a"), EncodeGeneralKey("A"));  // case has no weight of its own
  std::string plain = EncodeGeneralKey("CAFE");
  std::string accented = EncodeGeneralKey("CAF\xC9");
  EXPECT_EQ(plain.substr(0, 4), accented.substr(0, 4));
  EXPECT_LT(plain, accented);
  EXPECT_LT(accented, EncodeGeneralKey("CAFF"));
  // Secondary weights of plain letters are cut from the end.
  EXPECT_EQ(EncodeGeneralKey("AB").size(), 2u);
}

TEST(CdxKeys, GeneralTrailingWeightsStoredAsNibbles) {
  uint8_t node[kNodeSize] = {};
  KeyForm form{8, true, true};
  LeafBuilder b(node, form, ChooseLeafLayout(8, 10));
  std::string k = EncodeGeneralKey("\xC9");  // primary E, secondary 0xF1
  ASSERT_EQ(k.size(), 2u);
  ASSERT_TRUE(b.Add(k, 1));
  EXPECT_EQ(node[511], 0x01);
  std::vector<NodeEntry> out;
  ASSERT_TRUE(DecodeLeaf(node, form, out));
  EXPECT_EQ(out[0].key, k);
}

TEST(CdxHeader, RoundTripWithForExpression) {
  uint8_t h[kHeaderSize];
  TagHeader in;
  in.root = 1536;
  in.keyLength = 14;
  in.options = kOptNewTag | kOptFor | kOptUnique;
  in.descending = true;
  in.general = true;
  in.keyExpression = "DTOS(DATE)+TIME";
  in.forExpression = "BAND=20";
  WriteTagHeader(h, in, false);
  EXPECT_EQ(h[15], 2);
  EXPECT_EQ(std::memcmp(h + 494, "GENERAL\0", 8), 0);
  EXPECT_EQ(DecodeLE16(h + 504), 16);
  EXPECT_EQ(DecodeLE16(h + 506), 8);
  EXPECT_EQ(DecodeLE16(h + 510), 16);
  TagHeader out;
  ASSERT_TRUE(ReadTagHeader(h, out));
  EXPECT_EQ(out.root, 1536);
  EXPECT_EQ(out.keyLength, 14);
  EXPECT_TRUE(out.descending);
  EXPECT_TRUE(out.general);
  EXPECT_EQ(out.keyExpression, "DTOS(DATE)+TIME");
  EXPECT_EQ(out.forExpression, "BAND=20");
  // The directory never carries the GENERAL name.
  WriteTagHeader(h, in, true);
  EXPECT_EQ(h[15], 1);
  EXPECT_EQ(h[494], 0);
}
