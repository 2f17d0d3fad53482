// Data safety of the write paths: what a failed or interrupted write leaves on disk, locks that
// must end with the operation that took them, and writes that must start from the record as it is
// on disk rather than from a copy another program may have overtaken.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "dataset/Sorl6db.h"
#include "index/hx6_cdx.h"
#include "handler/handler_test_util.h"
#include "support/tool_runner.h"

using namespace handler_test;

namespace {

class StationLink : public TDataLink {
 public:
  explicit StationLink(int buffers) { SetBufferCount(buffers); }
};

// A handler whose record writes fail once armed, as on a disk that has gone bad.
class FailingWriteHandler : public HXO_dBHandler {
 public:
  using HXO_dBHandler::HXO_dBHandler;
  void Write(int64_t offset, const void* buffer, int32_t count) override {
    if (failAfter == 0) throw ESorrelError(smWriteError, {Name()});
    if (failAfter > 0) --failAfter;
    HXO_dBHandler::Write(offset, buffer, count);
  }
  int failAfter = -1;  // writes still allowed; -1 for no limit
};

// A handler whose reads fail once armed.
class FailingReadHandler : public HXO_dBHandler {
 public:
  using HXO_dBHandler::HXO_dBHandler;
  int32_t Read(int64_t offset, void* buffer, int32_t count) override {
    if (failReads) throw ESorrelError(smReadError, {Name()});
    return HXO_dBHandler::Read(offset, buffer, count);
  }
  bool failReads = false;
};

class DataSafetyTest : public HandlerTest {
 protected:
  // Twelve contacts; station order differs from record order.
  void MakeTwelve() {
    MakeLog();
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    const char* stations[] = {"K1", "W5", "A2", "N9", "B4", "W6", "C3", "Z0", "M7", "D6", "E8", "F9"};
    for (int i = 0; i < 12; ++i) Append(h, {stations[i], 20.0, "QTH" + std::to_string(i + 1)});
    h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  }
  void OpenOn(TSorrelDataSet& d) {
    d.SetDatabaseName(dir_);
    d.SetTableName("LOG.DBF");
    d.Open();
  }
  static std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }

  TSorrelDataSet ds;
};

// ---------------------------------------------------------------------------------------------
// Deleting through a data set

TEST_F(DataSafetyTest, DeleteDuringAnEditEndsTheEditsRecordLock) {
  MakeTwelve();
  OpenOn(ds);
  ds.Edit();
  ASSERT_TRUE(ds.RecordLocked());
  ds.Delete();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_FALSE(ds.RecordLocked());
  // The lock of the deleted record is gone: the next record can be edited, by this data set and
  // by another one.
  ds.Edit();
  ds.FieldByName("QTH")->SetAsString("After");
  ds.Post();
  TSorrelDataSet other;
  OpenOn(other);
  other.Edit();
  other.Cancel();
}

TEST_F(DataSafetyTest, DeleteStartsFromTheRecordOnDiskAndRespectsAnotherEditsLock) {
  MakeTwelve();
  OpenOn(ds);
  ASSERT_EQ(ds.RecNo(), 1);
  TSorrelDataSet other;
  OpenOn(other);
  other.Edit();
  other.FieldByName("QTH")->SetAsString("Changed");
  // While the other edit holds the record, a delete must not write it.
  EXPECT_THROW(ds.Delete(), EDatabaseError);
  other.Post();
  // The delete writes the record as the other program left it, only marked deleted.
  ds.Delete();
  ds.Close();
  other.Close();
  HXO_dBHandler h(PathOf("LOG.DBF"), false, false);
  h.SetShowDeleted(true);
  h.GoTo(1);
  EXPECT_TRUE(h.IsDeleted());
  EXPECT_EQ(Trimmed(h.GetString("QTH")), "Changed");
}

TEST_F(DataSafetyTest, DeleteInAWindowOfRecordsKeepsOneIndexKeyPerRecord) {
  MakeTwelve();
  TDataSource source(&ds);
  StationLink link(5);
  link.SetDataSource(&source);
  ds.SetDatabaseName(dir_);
  ds.SetTableName("LOG.DBF");
  ds.SetIndexFiles({"LOG.CDX"});
  ds.SetIndexName("STATION");
  ds.Open();
  ASSERT_EQ(Trimmed(ds.FieldByName("STATION")->AsString()), "A2");
  ds.Delete();
  ds.Close();
  HXO_dBHandler h(PathOf("LOG.DBF"), false, false);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.SetShowDeleted(true);
  const std::vector<int32_t> order = Walk(h);
  EXPECT_EQ(order.size(), 12u);
  EXPECT_EQ(std::set<int32_t>(order.begin(), order.end()).size(), 12u);
}

// ---------------------------------------------------------------------------------------------
// Memos of an edit that is not posted

class MemoEditTest : public DataSafetyTest, public ::testing::WithParamInterface<int> {
 protected:
  // LOG.DBF with STATION and NOTES in the dialect of the parameter: 3, 4 or 5 (FoxPro).
  void MakeNotes() {
    std::unique_ptr<HXO_DBFBuild> b;
    if (GetParam() == 3) b = std::make_unique<HXO_DBFBuild>(PathOf("LOG.DBF"));
    if (GetParam() == 4) b = std::make_unique<HXO_DB4Build>(PathOf("LOG.DBF"));
    if (GetParam() == 5) b = std::make_unique<HXO_DBFoxBuild>(PathOf("LOG.DBF"));
    b->AddField("STATION", "C", 10, 0);
    b->AddField("NOTES", "M", 10, 0);
    b->CreateFiles();
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    h.BlankRecord();
    h.PutText("STATION", "K1");
    h.PutMemo("NOTES", "Worked on 20 m, a long chat about antennas");
    h.AppendRecord();
  }
};

TEST_P(MemoEditTest, ACancelledEditLeavesTheMemoOnDiskAsItWas) {
  MakeNotes();
  OpenOn(ds);
  ds.Edit();
  ds.FieldByName("NOTES")->SetAsString("Short");
  // Until the post, another program reading the record reads its old memo.
  {
    HXO_dBHandler reader(PathOf("LOG.DBF"), true, false);
    reader.GoTo(1);
    EXPECT_EQ(reader.GetMemo("NOTES"), "Worked on 20 m, a long chat about antennas");
  }
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NOTES")->AsString(), "Worked on 20 m, a long chat about antennas");
  ds.Edit();
  ds.FieldByName("NOTES")->SetAsString("First");
  ds.FieldByName("NOTES")->SetAsString("Second, longer than the first");
  ds.Post();
  ds.Close();
  HXO_dBHandler h(PathOf("LOG.DBF"), false, false);
  h.GoTo(1);
  EXPECT_EQ(h.GetMemo("NOTES"), "Second, longer than the first");
}

INSTANTIATE_TEST_SUITE_P(Dialects, MemoEditTest, ::testing::Values(3, 4, 5));

TEST_F(DataSafetyTest, AMemoThatCannotBeStoredFailsItsAssignment) {
  MakeLog();
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    Append(h, {"K1", 20.0, "Boston"});
  }
  // The memo file has gone missing: the text cannot be kept, and saying nothing would let the
  // post report success without it.
  std::filesystem::rename(PathOf("LOG.DBT"), PathOf("LOG.OLD"));
  OpenOn(ds);
  ds.Edit();
  EXPECT_THROW(ds.FieldByName("NOTES")->SetAsString("Worked him on 40 m"), ESorrelError);
  ds.Cancel();
}

// ---------------------------------------------------------------------------------------------
// Index files shared with other programs

TEST_F(DataSafetyTest, ATagAddedToASharedIndexFileWaitsForItsHeaderLock) {
  MakeTwelve();
  // Another program is in the middle of a record write: it holds the index header lock and may
  // take new nodes at the end of the file at any moment.
  HXO_dBHandler writer(PathOf("LOG.DBF"), true, true);
  writer.SetIndexFiles("LOG.CDX", "STATION");
  writer.LockIndexFiles();
  HXO_dBHandler creator(PathOf("LOG.DBF"), true, true);
  EXPECT_THROW(creator.CreateIndexTag("LOG.CDX", "QTH", "QTH", "", 1, 0), ESorrelError);
  writer.UnlockIndexFiles();
  // Once the lock is free the tag is added, and both tags hold every record.
  creator.CreateIndexTag("LOG.CDX", "QTH", "QTH", "", 1, 0);
  HXO_dBHandler check(PathOf("LOG.DBF"), true, false);
  check.SetIndexFiles("LOG.CDX", "QTH");
  EXPECT_EQ(Walk(check).size(), 12u);
  check.SelectMasterTag("STATION", false);
  EXPECT_EQ(Walk(check).size(), 12u);
}

TEST_F(DataSafetyTest, AHeaderWriteKeepsTheFlagsAnotherProgramSet) {
  MakeLog();
  HXO_dBHandler a(PathOf("LOG.DBF"), true, true);
  Append(a, {"K1", 20.0, "Boston"});
  {
    // Another program gives the table its production index.
    HXO_dBHandler b(PathOf("LOG.DBF"), true, true);
    b.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  }
  auto flagsOnDisk = [&] {
    std::ifstream in(PathOf("LOG.DBF"), std::ios::binary);
    char header[32] = {};
    in.read(header, sizeof header);
    return static_cast<uint8_t>(header[kDbfHdrFlags]);
  };
  ASSERT_NE(flagsOnDisk() & kDbfFlagProductionIndex, 0);
  Append(a, {"W5", 40.0, "Austin"});
  a.GoTo(1);
  a.PutText("QTH", "Salem");
  a.UpdateRecord(1);
  EXPECT_NE(flagsOnDisk() & kDbfFlagProductionIndex, 0);
  EXPECT_TRUE(a.ProductionIndex());
}

TEST_F(DataSafetyTest, AFlagSetUnderATableLockReachesTheHeaderAtTheUnlock) {
  MakeLog();
  HXO_dBHandler a(PathOf("LOG.DBF"), true, true);
  Append(a, {"K1", 20.0, "Boston"});
  ASSERT_TRUE(a.LockTable());
  a.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  EXPECT_TRUE(a.ProductionIndex());
  a.FileUnlock();
  EXPECT_TRUE(a.ProductionIndex());
  std::ifstream in(PathOf("LOG.DBF"), std::ios::binary);
  char header[32] = {};
  in.read(header, sizeof header);
  EXPECT_NE(static_cast<uint8_t>(header[kDbfHdrFlags]) & kDbfFlagProductionIndex, 0);
}

// The stations met walking the STATION tag of a fresh reader; the walk must meet every record
// once, in station order, each under its own station.
static void ExpectStationTagMatchesTheTable(const std::string& path, size_t count = 12) {
  HXO_dBHandler check(path, true, false);
  check.SetIndexFiles("LOG.CDX", "STATION");
  std::vector<std::string> keys;
  std::set<int32_t> records;
  check.GoTo(kGotoFirst);
  while (!check.Eof() && !check.Bof()) {
    records.insert(check.RecNo());
    keys.push_back(check.GetString("STATION"));
    check.GoTo(kGotoNext);
  }
  EXPECT_EQ(records.size(), count);
  EXPECT_EQ(keys.size(), count);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
}

TEST_F(DataSafetyTest, AReindexByAnotherProgramMakesEveryKeptTreeStale) {
  MakeTwelve();
  HXO_dBHandler b(PathOf("LOG.DBF"), true, true);
  b.SetIndexFiles("LOG.CDX", "");
  b.GoTo(1);
  b.PutText("STATION", "K2");
  b.UpdateRecord(1);  // b keeps the tree it changed
  const uint32_t seen = static_cast<HXobjCDXFile*>(b.IndexFile(1))->Directory()->ChangeCounter();
  HXO_dBHandler a(PathOf("LOG.DBF"), true, true);
  a.SetIndexFiles("LOG.CDX", "");
  a.Reindex();
  // As many changes after the rebuild as b had seen before it.
  const char* stations[] = {"AA", "AB", "AC", "AD", "AE", "AF", "AG", "AH"};
  for (uint32_t i = 0; i < seen && i < 8; ++i) {
    a.GoTo(static_cast<int32_t>(2 + i));
    a.PutText("STATION", stations[i]);
    a.UpdateRecord(static_cast<int32_t>(2 + i));
  }
  b.GoTo(12);
  b.PutText("STATION", "ZZ");
  b.UpdateRecord(12);
  ExpectStationTagMatchesTheTable(PathOf("LOG.DBF"));
}

// ---------------------------------------------------------------------------------------------
// Table locks

TEST_F(DataSafetyTest, ATableLockWhoseHeaderCannotBeReadIsNotKept) {
  MakeTwelve();
  FailingReadHandler h(PathOf("LOG.DBF"), true, true);
  h.failReads = true;
  EXPECT_THROW(h.LockTable(), ESorrelError);
  EXPECT_THROW(h.LockWholeFile(), ESorrelError);
  h.failReads = false;
  EXPECT_EQ(h.LockCount(), 0);
  EXPECT_FALSE(h.TableLocked());
  HXO_dBHandler other(PathOf("LOG.DBF"), true, true);
  EXPECT_TRUE(other.LockTable());
  other.FileUnlock();
}

// ---------------------------------------------------------------------------------------------
// Rename

TEST_F(DataSafetyTest, ARenameWhoseMemoFileCannotFollowLeavesTableAndMemoTogether) {
  MakeLog();
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    Append(h, {"K1", 20.0, "Boston"});
    h.PutMemo("NOTES", "the first contact of the year");
    h.UpdateRecord(1);
  }
  // A memo file of the new name is in the way (left behind by another table).
  MakeLog("NEW.DBF");
  std::filesystem::remove(PathOf("NEW.DBF"));
  std::filesystem::rename(PathOf("NEW.DBT"), PathOf("NEW.dbt"));
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    EXPECT_THROW(h.Rename(PathOf("NEW.DBF")), ESorrelError);
    h.GoTo(1);
    EXPECT_EQ(h.GetMemo("NOTES"), "the first contact of the year");
  }
  // The table was not separated from its memos: it is still where it was, with them.
  EXPECT_FALSE(std::filesystem::exists(PathOf("NEW.DBF")));
  HXO_dBHandler h(PathOf("LOG.DBF"), false, false);
  h.GoTo(1);
  EXPECT_EQ(h.GetMemo("NOTES"), "the first contact of the year");
}

// ---------------------------------------------------------------------------------------------
// Password change

TEST_F(DataSafetyTest, APasswordChangeThatFailsLeavesTheHandleWorkingUnderTheOldKey) {
  MakeLog();
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    for (const char* s : {"K1", "W5", "A2"}) {
      Append(h, {s, 20.0, "QTH"});
      h.PutMemo("NOTES", std::string("notes of ") + s);
      h.UpdateRecord(h.RecNo());
    }
    h.SetPassword("old");
  }
  HXO_dBHandler h(PathOf("LOG.DBF"), false, true, "old");
  ArmDiskFaults({DiskFaultPlan::kFail, 1, -1, true});  // the disk refuses the change's first write
  EXPECT_THROW(h.SetPassword("new"), ESorrelError);
  DisarmDiskFaults();
  EXPECT_EQ(h.Password(), "old");
  // The handle goes on under the key the table still has: a memo written now is read back with it.
  h.GoTo(3);
  h.PutMemo("NOTES", "written after the failed change");
  h.UpdateRecord(3);
  h.Close();
  HXO_dBHandler check(PathOf("LOG.DBF"), false, false, "old");
  check.GoTo(3);
  EXPECT_EQ(check.GetMemo("NOTES"), "written after the failed change");
}

TEST_F(DataSafetyTest, ARebuildByAnotherProgramThatMovesATagsHeaderIsFollowed) {
  MakeTwelve();
  {
    // The STATION tag grows, so that a tag created afterwards starts far into the file; a rebuild
    // then puts that tag's header right after STATION's packed tree.
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    h.SetIndexFiles("LOG.CDX", "");
    for (int i = 0; i < 150; ++i) Append(h, {"S" + std::to_string(1000 + (i * 37) % 150), 20.0, "Q"});
    h.CreateIndexTag("LOG.CDX", "QTH", "QTH", "", 1, 0);
  }
  HXO_dBHandler b(PathOf("LOG.DBF"), true, true);
  b.SetIndexFiles("LOG.CDX", "");
  const int32_t before = b.IndexFile(1)->TagByName("QTH")->HeaderPosition();
  {
    HXO_dBHandler a(PathOf("LOG.DBF"), true, true);
    a.SetIndexFiles("LOG.CDX", "");
    a.Reindex();
    ASSERT_NE(a.IndexFile(1)->TagByName("QTH")->HeaderPosition(), before);
  }
  Append(b, {"ZZ", 20.0, "ZZTOP"});
  HXO_dBHandler check(PathOf("LOG.DBF"), true, false);
  check.SetIndexFiles("LOG.CDX", "QTH");
  std::vector<std::string> keys;
  check.GoTo(kGotoFirst);
  while (!check.Eof() && !check.Bof()) {
    keys.push_back(check.GetString("QTH"));
    check.GoTo(kGotoNext);
  }
  EXPECT_EQ(keys.size(), 163u);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  check.SelectMasterTag("STATION", false);
  EXPECT_EQ(Walk(check).size(), 163u);
}

TEST_F(DataSafetyTest, ATagReplacedByAnotherProgramGetsTheKeysOfLaterWrites) {
  MakeTwelve();
  HXO_dBHandler b(PathOf("LOG.DBF"), true, true);
  b.SetIndexFiles("LOG.CDX", "");
  {
    HXO_dBHandler a(PathOf("LOG.DBF"), true, true);
    a.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  }
  Append(b, {"ZZ", 20.0, "ZZTOP"});
  ExpectStationTagMatchesTheTable(PathOf("LOG.DBF"), 13);
}

// ---------------------------------------------------------------------------------------------
// Pack

TEST_F(DataSafetyTest, APackThatFailsMidwayKeepsTheMemosOfTheDeletedRecords) {
  MakeLog();
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    Append(h, {"K1", 20.0, "Boston"});
    h.PutMemo("NOTES", std::string(700, 'n'));
    h.UpdateRecord(h.RecNo());
    h.DeleteRecord();
    Append(h, {"W5", 40.0, "Austin"});
    Append(h, {"A2", 20.0, "Paris"});
  }
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    // The new table is being written when the disk fills up.
    ArmDiskFaults({DiskFaultPlan::kFail, 4, 10, true});
    EXPECT_THROW(h.Pack(), ESorrelError);
    DisarmDiskFaults();
  }
  // Nothing was removed: the deleted record is still there, and so is its memo, which a recall
  // would bring back.
  HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
  EXPECT_EQ(h.RecordCount(), 3);
  h.SetShowDeleted(true);
  h.GoTo(1);
  ASSERT_TRUE(h.IsDeleted());
  EXPECT_EQ(h.GetMemo("NOTES"), std::string(700, 'n'));
  // A new memo must not take the deleted record's blocks.
  h.GoTo(2);
  h.PutMemo("NOTES", std::string(700, 'x'));
  h.UpdateRecord(2);
  h.GoTo(1);
  EXPECT_EQ(h.GetMemo("NOTES"), std::string(700, 'n'));
}

}  // namespace
