// Data safety of the write paths: what a failed or interrupted write leaves on disk, locks that
// must end with the operation that took them, and writes that must start from the record as it is
// on disk rather than from a copy another program may have overtaken.
#include <algorithm>
#include <set>

#include "Sorl6db.h"
#include "handler_test_util.h"
#include "tool_runner.h"

using namespace handler_test;

namespace {

class StationLink : public TDataLink {
 public:
  explicit StationLink(int buffers) { SetBufferCount(buffers); }
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

}  // namespace
