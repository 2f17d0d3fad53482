// A whole check of an open table's tags: every tag against the keys of every record (count,
// every key with its record, order), and in a compound file the leaf chain, as other programs
// follow it, against the tree.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/byteorder.h"
#include "handler/hx6_dbsy.h"
#include "index/hx6_indx.h"

namespace tag_check {

// The leaves of the CDX tag whose header is at `header` in the file `bytes`, in tree order, and
// the same walked by the right links from the leftmost leaf; each leaf's left link must name the
// leaf before it.
inline void ExpectCdxLeafChainFollowsTree(const std::string& bytes, int32_t header) {
  auto node = [&](int64_t at) -> const uint8_t* {
    if (at <= 0 || at % 512 != 0 || at + 512 > static_cast<int64_t>(bytes.size())) return nullptr;
    return reinterpret_cast<const uint8_t*>(bytes.data()) + at;
  };
  const uint8_t* h = node(header);
  ASSERT_NE(h, nullptr) << "tag header at " << header;
  const int keyLength = DecodeLE16(h + 12);
  std::vector<int32_t> tree;
  std::vector<int32_t> stack{static_cast<int32_t>(DecodeLE32(h))};
  while (!stack.empty()) {
    const int32_t at = stack.back();
    stack.pop_back();
    const uint8_t* n = node(at);
    ASSERT_NE(n, nullptr) << "a child outside the file: " << at;
    ASSERT_LT(tree.size(), bytes.size() / 512) << "a loop in the tree";
    if (DecodeLE16(n) >= 2) {
      tree.push_back(at);
      continue;
    }
    const int count = DecodeLE16(n + 2);
    for (int i = count - 1; i >= 0; --i)
      stack.push_back(static_cast<int32_t>(DecodeBE32(n + 12 + i * (keyLength + 8) + keyLength + 4)));
  }
  std::vector<int32_t> chain;
  int32_t previous = -1;
  for (int32_t at = tree.empty() ? -1 : tree.front(); at != -1;) {
    const uint8_t* n = node(at);
    ASSERT_NE(n, nullptr) << "a right link outside the file: " << at << " after " << previous;
    ASSERT_LE(chain.size(), tree.size()) << "the chain is longer than the tree";
    EXPECT_EQ(static_cast<int32_t>(DecodeLE32(n + 4)), previous) << "left link of " << at;
    chain.push_back(at);
    previous = at;
    at = static_cast<int32_t>(DecodeLE32(n + 8));
  }
  EXPECT_EQ(chain, tree) << "the leaf chain differs from the tree";
}

inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every tag of `h` holds exactly one entry per record (whose FOR condition holds), with the key
// the record gives, in the tag's order; in CDX files the leaf chain follows the tree. Moves the
// handler's position.
inline void ExpectTagsAgreeWithTable(HXO_dBHandler& h) {
  const int32_t count = h.RecordCount();
  for (int t = 1; t <= h.TagCount(); ++t) {
    HXobjIndexTag* tag = h.TagByPosition(t);
    SCOPED_TRACE(tag->TagName() + " (" + tag->KeyExpression() + ")");
    std::vector<HXobjIndexKeyData> expected;
    for (int32_t r = 1; r <= count; ++r) {
      h.GoTo(r);
      if (tag->HasFilter() && !tag->EvaluateFilter()) continue;
      HXobjIndexKeyData k;
      EXPECT_TRUE(tag->EvaluateKey(k));
      k.SetRecNo(r);
      k.SetTarget(r);
      tag->TranslateKey(k, true);
      expected.push_back(k);
    }
    std::vector<HXobjIndexKeyData> walked;
    for (int32_t r = tag->Move(kMoveTop); r != 0; r = tag->Move(kMoveNext)) {
      HXobjIndexKeyData k = tag->CurrentKey();
      k.SetRecNo(r);
      if (!walked.empty()) {
        EXPECT_LE(tag->CompareEntries(walked.back(), k), 0) << "out of order at #" << r;
      }
      walked.push_back(k);
      if (walked.size() > static_cast<size_t>(count) + 5) break;
    }
    auto byKeyAndRecord = [](const HXobjIndexKeyData& a, const HXobjIndexKeyData& b) {
      return std::make_pair(a.Bytes(), a.Target()) < std::make_pair(b.Bytes(), b.Target());
    };
    std::sort(expected.begin(), expected.end(), byKeyAndRecord);
    std::sort(walked.begin(), walked.end(), byKeyAndRecord);
    EXPECT_EQ(walked.size(), expected.size());
    for (size_t i = 0; i < std::min(walked.size(), expected.size()); ++i) {
      if (walked[i].Bytes() != expected[i].Bytes() || walked[i].Target() != expected[i].Target()) {
        ADD_FAILURE() << "entry " << i << ": [" << walked[i].Bytes() << "] #" << walked[i].Target()
                      << " where [" << expected[i].Bytes() << "] #" << expected[i].Target()
                      << " belongs";
        break;
      }
    }
    if (tag->FormatName() == "CDX" && tag->File()->DiskFile())
      ExpectCdxLeafChainFollowsTree(FileBytes(tag->File()->DiskFile()->Name()),
                                    tag->HeaderPosition());
  }
}

}  // namespace tag_check
