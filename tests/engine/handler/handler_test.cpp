// Database handler: navigation in record and key order with deleted and refused records, Skip,
// filters as record sets, Find and FindKeyInTag, key ranges, index file lists and master tags,
// index upkeep on append and rewrite, and the status reports of long operations.
#include <filesystem>
#include <fstream>

#include "handler/handler_test_util.h"
#include "index/hx6_cdx.h"

using namespace handler_test;

namespace {

class HandlerNav : public HandlerTest {
 protected:
  // Ten contacts; 3 and 7 deleted. Stations are given so that key order differs from record order.
  std::string MakeTen() {
    const std::string path = MakeLog();
    RecordingHandler h(path, false, true);
    const char* stations[] = {"K1", "W5", "A2", "N9", "B4", "W5", "C3", "Z0", "M7", "D6"};
    for (int i = 0; i < 10; ++i)
      Append(h,
             {stations[i], i % 2 ? 40.0 : 20.0, "QTH" + std::to_string(i + 1), i == 2 || i == 6});
    h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
    h.CreateIndexTag("LOG.CDX", "BAND", "BAND", "", 1, 0);
    h.CreateIndexTag("LOG.CDX", "BANDSTAT", "STATION", "BAND = 20", 1, 0);
    return path;
  }
};

TEST_F(HandlerNav, RecordOrderHidesDeletedUnlessShownAndStopsAtBothEnds) {
  RecordingHandler h(MakeTen(), false, true);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1, 2, 4, 5, 6, 8, 9, 10}));
  EXPECT_EQ(Walk(h, false), (std::vector<int32_t>{10, 9, 8, 6, 5, 4, 2, 1}));
  h.SetShowDeleted(true);
  EXPECT_EQ(Walk(h).size(), 10u);
  h.SetShowDeleted(false);

  h.GoTo(kGotoFirst);
  EXPECT_TRUE(h.LastMoveOk());
  h.GoTo(kGotoPrevious);
  EXPECT_TRUE(h.Bof());
  EXPECT_FALSE(h.LastMoveOk());
  h.GoTo(kGotoLast);
  h.GoTo(kGotoNext);
  EXPECT_TRUE(h.Eof());
  // A deleted record asked for by number is read as it is; a re-read moves on from it.
  h.GoTo(3);
  EXPECT_EQ(h.RecNo(), 3);
  EXPECT_TRUE(h.IsDeleted());
  h.GoTo(kGotoCurrent);
  EXPECT_EQ(h.RecNo(), 4);
}

TEST_F(HandlerNav, KeyOrderFollowsTheMasterTag) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  ASSERT_NE(h.MasterTag(), nullptr);
  EXPECT_EQ(h.MasterTagName(), "STATION");
  // A2(3, deleted) B4(5) C3(7, deleted) D6(10) K1(1) M7(9) N9(4) W5(2) W5(6) Z0(8)
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{5, 10, 1, 9, 4, 2, 6, 8}));
  EXPECT_EQ(Walk(h, false), (std::vector<int32_t>{8, 6, 2, 4, 9, 1, 10, 5}));
  h.SetShowDeleted(true);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{3, 5, 7, 10, 1, 9, 4, 2, 6, 8}));
  // After a move by number the tag continues from that record.
  h.GoTo(9);
  h.GoTo(kGotoNext);
  EXPECT_EQ(h.RecNo(), 4);
  // A tag with a FOR condition holds only the records it admits.
  h.SelectMasterTag("bandstat", false);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{3, 5, 7, 1, 9}));
  h.SelectMasterTag("", false);
  EXPECT_EQ(h.MasterTag(), nullptr);
  EXPECT_TRUE(h.ReadBufferActive());
  EXPECT_EQ(Walk(h).front(), 1);
}

TEST_F(HandlerNav, RefusedRecordsArePassedOverInBothOrders) {
  RecordingHandler h(MakeTen(), false, true);
  h.refuse = "W";
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1, 4, 5, 8, 9, 10}));
  h.SetIndexFiles("LOG.CDX", "STATION");
  EXPECT_EQ(Walk(h, false), (std::vector<int32_t>{8, 4, 9, 1, 10, 5}));
}

TEST_F(HandlerNav, SkipCountsVisibleRecordsAndCutsAtTheEnds) {
  RecordingHandler h(MakeTen(), false, true);
  h.GoTo(kGotoFirst);
  h.Skip(3);  // 2, 4, 5
  EXPECT_EQ(h.RecNo(), 5);
  h.Skip(-2);
  EXPECT_EQ(h.RecNo(), 2);
  h.Skip(20);
  EXPECT_TRUE(h.Eof());
  // With deleted records shown and no filter, Skip counts record numbers.
  h.SetShowDeleted(true);
  h.GoTo(10);
  h.Skip(1);
  EXPECT_TRUE(h.Eof());
  EXPECT_EQ(h.RecNo(), 10);
  h.GoTo(1);
  h.Skip(-1);
  EXPECT_TRUE(h.Bof());
  h.GoTo(2);
  h.Skip(2);
  EXPECT_EQ(h.RecNo(), 4);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.GoTo(5);
  h.Skip(3);  // B4 C3 D6 K1
  EXPECT_EQ(h.RecNo(), 1);
  h.GoTo(8);
  h.Skip(1);
  EXPECT_TRUE(h.Eof());
}

TEST_F(HandlerNav, EmptyTableSetsBothEndsEverywhere) {
  RecordingHandler h(MakeLog(), false, true);
  h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.GoTo(kGotoFirst);
  EXPECT_TRUE(h.Bof() && h.Eof());
  h.SelectMasterTag("", false);
  h.GoTo(kGotoLast);
  EXPECT_TRUE(h.Bof() && h.Eof());
  EXPECT_FALSE(h.Find("W1"));
  EXPECT_FALSE(h.Locate("STATION", {std::string("W1")}, false, false));
  h.SetFilter("BAND = 20", false, true);
  h.SetFilterActive(true);
  h.GoTo(kGotoFirst);
  EXPECT_TRUE(h.Bof() && h.Eof());
}

// ---------------------------------------------------------------------------------------------
// Filters

TEST_F(HandlerNav, FilterIsASetOfPassingRecordsInBothOrders) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetFilterActive(true);
  h.SetFilter("BAND = 20", false, true);
  ASSERT_TRUE(h.FilterInForce());
  EXPECT_TRUE(h.FilterSet()->TestBit(1));
  EXPECT_FALSE(h.FilterSet()->TestBit(2));
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1, 5, 9}));
  EXPECT_EQ(Walk(h, false), (std::vector<int32_t>{9, 5, 1}));
  h.SetShowDeleted(true);
  h.RefreshFilter();
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1, 3, 5, 7, 9}));
  h.SetShowDeleted(false);
  h.SetIndexFiles("LOG.CDX", "STATION");
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{5, 1, 9}));
  // Switched off, every visible record returns.
  h.SetFilterActive(false);
  EXPECT_EQ(Walk(h).size(), 8u);
  h.SetFilterActive(true);
  // A record written is judged again.
  h.GoTo(2);
  h.PutFloat("BAND", 20);
  h.UpdateRecord(2);
  EXPECT_TRUE(h.FilterSet()->TestBit(2));
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{5, 1, 9, 2}));
}

TEST_F(HandlerNav, FilterBuildPassesOverRefusedRecordsAndReadsEncryptedOnes) {
  const std::string path = MakeTen();
  {
    RecordingHandler h(path, false, true);
    h.SetPassword("pw");
  }
  RecordingHandler h(path, false, true, "pw");
  h.SetReadBuffer(true);
  h.refuse = "K";
  h.SetFilterActive(true);
  h.SetFilter("BAND = 20", false, true);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{5, 9}));
  EXPECT_FALSE(h.FilterSet()->TestBit(1));  // refused while the set was built
}

TEST_F(HandlerNav, FilterWithNoPassingRecordSetsBothEnds) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetFilterActive(true);
  h.SetFilter("BAND = 80", false, true);
  h.GoTo(kGotoFirst);
  EXPECT_TRUE(h.Bof() && h.Eof());
  h.GoTo(kGotoLast);
  EXPECT_TRUE(h.Bof() && h.Eof());
}

TEST_F(HandlerNav, ABadFilterLeavesThePreviousOneInForce) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetFilterActive(true);
  h.SetFilter("BAND = 40", false, true);
  const auto before = Walk(h);
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.SetFilter("STATION", false, true); }),
            "Filter expression must return boolean result");
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.SetFilter("STATION = 20", false, true); }),
            "The two sides of an operation do not match");
  EXPECT_NE(TempFolder::ErrorOf([&] { h.SetFilter("BAND = (20", false, true); }), "");
  EXPECT_EQ(h.FilterText(), "BAND = 40");
  EXPECT_TRUE(h.FilterInForce());
  EXPECT_EQ(Walk(h), before);
  // The empty text removes the filter.
  h.SetFilter("", false, true);
  EXPECT_FALSE(h.FilterInForce());
  EXPECT_EQ(Walk(h).size(), 8u);
}

TEST_F(HandlerNav, FilterOptionsReachTheComparison) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetFilterActive(true);
  h.SetFilter("STATION = 'w5'", false, true);
  EXPECT_TRUE(Walk(h).empty());
  h.SetFilter("STATION = 'w5'", true, true);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{2, 6}));
}

// ---------------------------------------------------------------------------------------------
// Find, FindKeyInTag, key ranges

TEST_F(HandlerNav, FindHonoursExactNearDeletedAndFilter) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  EXPECT_TRUE(h.Find("W5"));
  EXPECT_EQ(h.RecNo(), 2);
  EXPECT_TRUE(h.Find("W"));  // prefix while exact is off
  EXPECT_EQ(h.RecNo(), 2);
  h.SetExact(true);
  EXPECT_FALSE(h.Find("W"));
  EXPECT_TRUE(h.Eof());
  h.SetExact(false);
  // A deleted match is passed over; the next key is no match.
  EXPECT_FALSE(h.Find("A2"));
  EXPECT_TRUE(h.Eof());
  h.SetNear(true);
  EXPECT_FALSE(h.Find("A2"));
  EXPECT_EQ(h.RecNo(), 5);  // stays at the next key, B4
  EXPECT_FALSE(h.Find("L"));
  EXPECT_EQ(h.RecNo(), 9);    // M7
  EXPECT_FALSE(h.Find("0"));  // before every key: the first key
  EXPECT_EQ(h.RecNo(), 5);
  EXPECT_FALSE(h.Find("ZZ"));
  EXPECT_TRUE(h.Eof());
  h.SetNear(false);
  // The filter's excluded records are no match either.
  h.SetFilterActive(true);
  h.SetFilter("RECNO() <> 2", false, true);
  EXPECT_TRUE(h.Find("W5"));
  EXPECT_EQ(h.RecNo(), 6);
  h.SetFilter("RECNO() < 6 .AND. RECNO() <> 2", false, true);
  EXPECT_FALSE(h.Find("W5"));
  // Without a master tag Find finds nothing and stands at the end.
  h.SelectMasterTag("", true);
  EXPECT_FALSE(h.Find("W5"));
  EXPECT_TRUE(h.Eof());
}

TEST_F(HandlerNav, FindOnANumericTagMatchesWholeNumbers) {
  RecordingHandler h(MakeLog(), false, true);
  Append(h, {"A", 20.5, ""});
  Append(h, {"B", 20, ""});
  h.CreateIndexTag("LOG.CDX", "BAND", "BAND", "", 1, 0);
  h.SetIndexFiles("LOG.CDX", "BAND");
  EXPECT_TRUE(h.Find("20"));
  EXPECT_EQ(h.RecNo(), 2);
  EXPECT_TRUE(h.Find("20.5"));
  EXPECT_EQ(h.RecNo(), 1);
  EXPECT_FALSE(h.Find("2"));
}

TEST_F(HandlerNav, FindKeyInTagSeeksAnyTagWithoutMovingTheMaster) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetIndexFiles("LOG.CDX", "BAND");
  h.GoTo(kGotoFirst);
  const int32_t at = h.RecNo();
  EXPECT_EQ(h.FindKeyInTag("station", "N9"), 4);
  EXPECT_EQ(h.FindKeyInTag("STATION", "N"), -1);  // whole keys only
  EXPECT_EQ(h.FindKeyInTag("NOSUCH", "N9"), -1);
  EXPECT_EQ(h.RecNo(), at);
  h.GoTo(kGotoNext);
  EXPECT_NE(h.RecNo(), at);
}

TEST_F(HandlerNav, KeyRangeLimitsTheMasterTag) {
  RecordingHandler h(MakeTen(), false, true);
  EXPECT_FALSE(h.SetKeyRange("W", "W", {1, 1, 1}));
  h.SetIndexFiles("LOG.CDX", "STATION");
  EXPECT_TRUE(h.SetKeyRange("W5", "W5", {1, 1, 1}));
  EXPECT_EQ(h.RecNo(), 2);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{2, 6}));
  h.SetKeyRange("K", "N", {1, 1, 1});
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1, 9, 4}));
  // Options 0 exclude the bounds themselves.
  h.SetKeyRange("K1", "N9", {0, 0, 0});
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{9}));
  h.SetKeyRange("K1", "N9", {0, 1, 0});
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1, 9}));
  h.SetKeyRange("ZZ", "ZZ", {1, 1, 1});
  EXPECT_TRUE(h.Bof());
  h.ClearKeyRange();
  EXPECT_EQ(Walk(h).size(), 8u);
}

// ---------------------------------------------------------------------------------------------
// Index file list and master tag

TEST_F(HandlerNav, IndexFileListOpensEachNameOnceAndSelectsTheMaster) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetIndexFiles(" \"LOG.CDX\" ;, ", "station");
  EXPECT_EQ(h.IndexFileCount(), 1);
  EXPECT_EQ(h.MasterTagName(), "STATION");
  EXPECT_EQ(h.TagCount(), 3);
  // Tags of a compound file come in directory (name) order.
  EXPECT_EQ(h.TagByPosition(1)->TagName(), "BAND");
  EXPECT_EQ(h.TagByPosition(3)->TagName(), "STATION");
  EXPECT_EQ(h.TagByPosition(0), nullptr);
  EXPECT_EQ(h.TagByPosition(4), nullptr);
  // A list naming one file twice opens it once and selects no master tag.
  h.SetIndexFiles("LOG.CDX,log.cdx", "STATION");
  EXPECT_EQ(h.IndexFileCount(), 1);
  EXPECT_EQ(h.MasterTag(), nullptr);
  EXPECT_EQ(h.OpenIndexFile("LOG.CDX"), -1);
  h.SetIndexFiles("", "");
  EXPECT_EQ(h.IndexFileCount(), 0);
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.SetIndexFiles("LOG.CDX", "NOSUCH"); }),
            "Cannot find index tag NOSUCH");
}

TEST_F(HandlerNav, OpeningIndexFilesByExtension) {
  RecordingHandler h(MakeTen(), false, true);
  // A bare name gets the table's folder and ".ndx".
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.OpenIndexFile("LOG"); }),
            "File " + PathOf("LOG.ndx") + " could not be found");
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.OpenIndexFile("LOG.IDX"); }),
            "File " + PathOf("LOG.IDX") + " could not be found");
  Put("LOG.ndx", std::string(1024, '\0'));
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.OpenIndexFile("LOG"); }),
            "Index file " + PathOf("LOG.ndx") + " is corrupted");
  Put("BAD.CDX", std::string(2048, '\x7f'));
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.OpenIndexFile("BAD.CDX"); }),
            "Index file " + PathOf("BAD.CDX") + " is corrupted");
  EXPECT_EQ(h.IndexFileCount(), 0);
  EXPECT_EQ(h.OpenIndexFile(PathOf("LOG.CDX")), 0);
  EXPECT_EQ(h.IndexFileCount(), 1);
}

TEST_F(HandlerNav, CreateIndexTagLeavesNoFileOpenAndRefusesAnEmptyCdxTagName) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.CreateIndexTag("LOG.CDX", "QTH", "QTH", "", 1, 0);
  EXPECT_EQ(h.IndexFileCount(), 0);
  EXPECT_EQ(h.MasterTag(), nullptr);
  EXPECT_EQ(h.State(), kHandlerIdle);
  EXPECT_EQ(TempFolder::ErrorOf([&] { h.CreateIndexTag("LOG.CDX", " ", "QTH", "", 1, 0); }),
            "Cannot find index tag  ");
  // Order 1 is descending.
  h.CreateIndexTag("LOG.CDX", "DOWN", "STATION", "", 1, 1);
  h.SetIndexFiles("LOG.CDX", "DOWN");
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{8, 6, 2, 4, 9, 1, 10, 5}));
  // The production index flag follows a compound file named like the table.
  EXPECT_TRUE(h.ProductionIndex());
}

// ---------------------------------------------------------------------------------------------
// Index upkeep and status reports

TEST_F(HandlerNav, ATagWhoseKeysAreAllBlankBuildsAndGrows) {
  RecordingHandler h(MakeLog(), false, true);
  for (int i = 0; i < 5; ++i) Append(h, {"X" + std::to_string(i), 20, ""});
  h.CreateIndexTag("LOG.CDX", "QTH", "QTH", "", 1, 0);
  h.SetIndexFiles("LOG.CDX", "QTH");
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  Append(h, {"Y", 20, "A"});
  EXPECT_EQ(Walk(h).back(), 6);
  h.Reindex();
  EXPECT_EQ(Walk(h).size(), 6u);
}

TEST_F(HandlerNav, AppendsAndRewritesKeepEveryTagCurrent) {
  const std::string path = MakeTen();
  {
    RecordingHandler h(path, true, true);
    h.SetIndexFiles("LOG.CDX", "STATION");
    Append(h, {"AA1", 15, ""});
    h.GoTo(4);  // N9 becomes E8
    h.PutText("STATION", "E8");
    h.UpdateRecord(4);
    EXPECT_EQ(Walk(h), (std::vector<int32_t>{11, 5, 10, 4, 1, 9, 2, 6, 8}));
  }
  // A fresh handler reads the same order from the file.
  RecordingHandler h(path, false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{11, 5, 10, 4, 1, 9, 2, 6, 8}));
  h.SelectMasterTag("BAND", false);
  EXPECT_EQ(Walk(h).front(), 11);
  EXPECT_TRUE(h.Find("E8") == false);  // BAND is numeric: "E8" is no number
  h.SelectMasterTag("BANDSTAT", false);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{5, 1, 9}));
}

TEST_F(HandlerNav, FlushAfterEveryWriteKeepsTheMasterTagInStep) {
  RecordingHandler h(MakeTen(), true, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.SetAutoFlush(true);
  Append(h, {"AB", 20, ""});
  h.GoTo(11);
  h.GoTo(kGotoNext);
  EXPECT_EQ(h.RecNo(), 5);  // AB, then B4
  EXPECT_EQ(Walk(h).size(), 9u);
}

TEST_F(HandlerNav, ClipperLocksHoldTheIndexesOnlyDuringASearch) {
  const std::string path = MakeTen();
  RecordingHandler h(path, true, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.SetLockProtocol(ThxLokProtocol::ClipLock);
  EXPECT_EQ(h.IndexFile(1)->LockProtocol(), 2);
  EXPECT_TRUE(h.Find("N9"));
  EXPECT_EQ(h.FindKeyInTag("STATION", "K1"), 1);
  HXO_DiskFile probe(PathOf("LOG.CDX"), true, true);
  probe.Open();
  EXPECT_TRUE(probe.LockRegion(1000000000, 1));  // nothing left locked
  probe.Unlock();
}

TEST_F(HandlerNav, ReindexReportsEveryPhaseInOrder) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.reports.clear();
  h.Reindex();
  std::vector<std::tuple<int, int, int>> one;
  one.emplace_back(-1, 1, 10);
  for (int r = 1; r <= 10; ++r) one.emplace_back(1, r, 0);
  one.emplace_back(0, 0, 0);
  ASSERT_GE(h.reports.size(), one.size());
  EXPECT_TRUE(std::equal(one.begin(), one.end(), h.reports.begin()));
  // Every phase that starts also ends, and steps count up from 1.
  int open = 0;
  for (auto& [a, b, c] : h.reports) {
    if (a == -1) ++open;
    if (a == 0 && b == 0 && c == 0) --open;
    EXPECT_GE(open, 0);
  }
  EXPECT_EQ(open, 0);
  EXPECT_EQ(h.State(), kHandlerIdle);
  EXPECT_EQ(h.MasterTagName(), "STATION");
  EXPECT_EQ(h.RecNo(), 5);  // the top of the STATION order
}

TEST_F(HandlerNav, ReadBufferFollowsTheMasterTag) {
  RecordingHandler h(MakeTen(), false, true);
  EXPECT_FALSE(h.ReadBufferActive());
  h.SetReadBuffer(true);
  EXPECT_TRUE(h.ReadBufferActive());
  h.SetIndexFiles("LOG.CDX", "STATION");
  EXPECT_FALSE(h.ReadBufferActive());
  h.SelectMasterTag("", true);
  EXPECT_TRUE(h.ReadBufferActive());
  h.AllowReadBuffer(false);
  EXPECT_FALSE(h.ReadBufferActive());
  h.SetReadBuffer(true);
  EXPECT_FALSE(h.ReadBufferActive());
}

TEST_F(HandlerNav, RenameTakesTheIndexFilesNamedLikeTheTable) {
  RecordingHandler h(MakeTen(), false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  ASSERT_TRUE(h.Rename(PathOf("NEWLOG.DBF")));
  EXPECT_TRUE(std::filesystem::exists(PathOf("NEWLOG.CDX")));
  EXPECT_FALSE(std::filesystem::exists(PathOf("LOG.CDX")));
  Append(h, {"AAA", 20, ""});
  EXPECT_EQ(Walk(h).front(), 11);
}

}  // namespace
