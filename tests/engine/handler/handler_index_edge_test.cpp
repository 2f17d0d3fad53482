// Handler and compound index edge cases: keys whose stored form differs from the form in memory,
// Locate through a tag against the scan for partial questions, Find and key ranges on descending
// tags, the status reports of Pack, and the header fields a new tag is written with.
#include <filesystem>

#include "base/byteorder.h"
#include "handler/handler_test_util.h"
#include "index/hx6_cdx.h"

using namespace handler_test;

namespace {

class HandlerIndexEdge : public HandlerTest {
 protected:
  static std::vector<uint8_t> Bytes(const std::string& path, int64_t at, int size) {
    const std::string all = Contents(path);
    std::vector<uint8_t> out(static_cast<size_t>(size), 0);
    for (int i = 0; i < size && at + i < static_cast<int64_t>(all.size()); ++i)
      out[static_cast<size_t>(i)] = static_cast<uint8_t>(all[static_cast<size_t>(at + i)]);
    return out;
  }
};

TEST_F(HandlerIndexEdge, GeneralKeyEndingInABlankWeightIsReplacedAfterReopening) {
  const std::string path = MakeLog();
  {
    RecordingHandler h(path, false, true);
    Append(h, {"AB/", 20, ""});
    Append(h, {"CD", 20, ""});
    h.CreateIndexTag("LOG.CDX", "GEN", "STATION", "", 1, 7);
  }
  {
    RecordingHandler h(path, false, true);
    h.SetIndexFiles("LOG.CDX", "GEN");
    h.GoTo(1);
    h.PutText("STATION", "XY");
    h.UpdateRecord(1);
    EXPECT_EQ(Walk(h), (std::vector<int32_t>{2, 1}));
  }
  RecordingHandler h(path, false, true);
  h.SetIndexFiles("LOG.CDX", "GEN");
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{2, 1}));
}

TEST_F(HandlerIndexEdge, PartialLocateWithAnEmptyLastValueAgreesWithTheScan) {
  RecordingHandler h(MakeLog(), false, true);
  Append(h, {"W1AW", 20, "BOSTON"});
  Append(h, {"K1AB", 20, "PARIS"});
  h.CreateIndexTag("LOG.CDX", "SQ", "STATION+QTH", "", 1, 0);
  h.CreateIndexTag("LOG.CDX", "S", "STATION", "", 1, 0);
  for (const char* list : {"LOG.CDX", ""}) {
    h.SetIndexFiles(list, "");
    // Every station begins with the empty text.
    EXPECT_TRUE(h.Locate("STATION", {std::string("")}, true, false)) << list;
    // The first field is asked whole: W1A is no station here, whatever the second field.
    EXPECT_FALSE(h.Locate("STATION;QTH", {std::string("W1A"), std::string("")}, true, false))
        << list;
    EXPECT_TRUE(h.Locate("STATION;QTH", {std::string("W1AW"), std::string("")}, true, false))
        << list;
    EXPECT_EQ(h.RecNo(), 1) << list;
  }
}

TEST_F(HandlerIndexEdge, DescendingTagWithAKeyRange) {
  RecordingHandler h(MakeLog(), false, true);
  const char* stations[] = {"K1", "W5", "A2", "N9", "B4", "M7"};
  for (const char* s : stations) Append(h, {s, 20, ""});
  h.CreateIndexTag("LOG.CDX", "DOWN", "STATION", "", 1, 1);
  h.SetIndexFiles("LOG.CDX", "DOWN");
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{2, 4, 6, 1, 5, 3}));
  h.SetKeyRange("K", "N", {1, 1, 1});
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{4, 6, 1}));
  EXPECT_EQ(Walk(h, false), (std::vector<int32_t>{1, 6, 4}));
  h.GoTo(kGotoFirst);
  h.Skip(1);
  EXPECT_EQ(h.RecNo(), 6);
}

TEST_F(HandlerIndexEdge, PackReportsItsPhaseWithTheRecordCount) {
  RecordingHandler h(MakeLog(), false, true);
  for (int i = 0; i < 4; ++i) Append(h, {"S" + std::to_string(i), 20, "", i == 1});
  h.reports.clear();
  h.Pack();
  std::vector<std::tuple<int, int, int>> want;
  want.emplace_back(-1, 11, 4);
  for (int r = 1; r <= 4; ++r) want.emplace_back(11, r, 0);
  want.emplace_back(0, 0, 0);
  ASSERT_GE(h.reports.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), h.reports.begin()));
}

TEST_F(HandlerIndexEdge, NewTagHeaderFields) {
  const std::string path = MakeLog();
  RecordingHandler h(path, false, true);
  Append(h, {"W1AW", 20, "BOSTON"});
  h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  h.CreateIndexTag("LOG.CDX", "UNIQ", "QTH", "BAND = 20", 0, 1);
  h.CreateIndexTag("LOG.CDX", "GEN", "QTH", "", 1, 8);
  const std::string cdx = PathOf("LOG.CDX");
  const auto dir = Bytes(cdx, 0, 1024);
  EXPECT_EQ(dir[14], 0xE0);
  EXPECT_EQ(dir[15], 1);
  EXPECT_EQ(DecodeLE16(dir.data() + 12), 10);
  EXPECT_EQ(DecodeLE16(dir.data() + 504), 1);
  EXPECT_EQ(DecodeLE16(dir.data() + 506), 1);
  EXPECT_EQ(DecodeLE16(dir.data() + 510), 1);
  h.SetIndexFiles("LOG.CDX", "");
  auto* file = h.IndexFile(1);
  ASSERT_NE(file, nullptr);
  auto header = [&](const char* name) {
    return Bytes(cdx, file->TagByName(name)->HeaderPosition(), 1024);
  };
  const auto s = header("STATION");
  EXPECT_EQ(s[14], 0x60);
  EXPECT_EQ(s[15], 1);
  EXPECT_EQ(DecodeLE16(s.data() + 12), 10);
  EXPECT_EQ(DecodeLE16(s.data() + 502), 0);
  EXPECT_EQ(DecodeLE16(s.data() + 504), 8);
  EXPECT_EQ(DecodeLE16(s.data() + 506), 1);
  EXPECT_EQ(DecodeLE16(s.data() + 510), 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.data() + 512)), "STATION");
  const auto u = header("UNIQ");
  EXPECT_EQ(u[14], 0x69);
  EXPECT_EQ(DecodeLE16(u.data() + 502), 1);
  EXPECT_EQ(DecodeLE16(u.data() + 506), 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(u.data() + 516)), "BAND = 20");
  const auto g = header("GEN");
  EXPECT_EQ(g[15], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.data() + 494)), "GENERAL");
  EXPECT_EQ(DecodeLE16(g.data() + 12), 24);
  EXPECT_EQ(DecodeLE16(g.data() + 502), 1);
}

TEST_F(HandlerIndexEdge, FindOnADescendingTagStartsAtTheFirstMatchInItsOrder) {
  RecordingHandler h(MakeLog(), false, true);
  const char* stations[] = {"K1", "W5", "A2", "W5", "W5X", "M7"};
  for (const char* s : stations) Append(h, {s, 20, ""});
  h.CreateIndexTag("LOG.CDX", "DOWN", "STATION", "", 1, 1);
  h.SetIndexFiles("LOG.CDX", "DOWN");
  // W5X(5) W5(4) W5(2) M7(6) K1(1) A2(3)
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{5, 4, 2, 6, 1, 3}));
  h.SetExact(true);
  EXPECT_TRUE(h.Find("W5"));
  EXPECT_EQ(h.RecNo(), 4);
  h.GoTo(kGotoNext);
  EXPECT_EQ(h.RecNo(), 2);
  // A hidden first match gives the next one in the tag's order.
  h.GoTo(4);
  h.DeleteRecord();
  EXPECT_TRUE(h.Find("W5"));
  EXPECT_EQ(h.RecNo(), 2);
  h.GoTo(4);
  h.RecallRecord();
  h.GoTo(2);
  h.DeleteRecord();
  EXPECT_TRUE(h.Find("W5"));
  EXPECT_EQ(h.RecNo(), 4);
  // A prefix search starts at the first key that begins with it.
  h.SetExact(false);
  EXPECT_TRUE(h.Find("W"));
  EXPECT_EQ(h.RecNo(), 5);
}

}  // namespace

namespace {

TEST_F(HandlerIndexEdge, StepsOffEitherEndComeBackToTheEndRecordInBothOrders) {
  const std::string path = MakeLog();
  {
    RecordingHandler h(path, false, true);
    for (const char* s : {"B", "A", "C"}) Append(h, {s, 20, ""});
    h.CreateIndexTag("LOG.CDX", "UP", "STATION", "", 1, 0);
    h.CreateIndexTag("LOG.CDX", "DOWN", "STATION", "", 1, 1);
  }
  for (const bool shared : {false, true}) {
    RecordingHandler t(path, shared, true);
    for (const auto& [tag, first, last] :
         {std::tuple{"UP", 2, 3}, std::tuple{"DOWN", 3, 2}}) {
      t.SetIndexFiles("LOG.CDX", tag);
      t.GoTo(kGotoFirst);
      t.GoTo(kGotoPrevious);
      ASSERT_TRUE(t.Bof()) << tag;
      t.GoTo(kGotoNext);
      EXPECT_EQ(t.RecNo(), first) << tag << " shared " << shared;
      t.GoTo(kGotoLast);
      t.GoTo(kGotoNext);
      ASSERT_TRUE(t.Eof()) << tag;
      t.GoTo(kGotoPrevious);
      EXPECT_EQ(t.RecNo(), last) << tag << " shared " << shared;
    }
  }
}

}  // namespace
