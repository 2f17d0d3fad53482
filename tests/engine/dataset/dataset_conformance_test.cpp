// The data set's index list and Lookup as callers see them: an emptied index list on an open
// data set, and a Lookup that must leave the view, its window and its links untouched.
#include <cstring>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "handler/handler_test_util.h"

using namespace handler_test;

namespace {

// Counts the notices a grid-like follower of five rows receives.
class CountingLink : public TDataLink {
 public:
  CountingLink() { SetBufferCount(5); }
  int changes = 0;
  int scrolls = 0;

 protected:
  void DataSetChanged() override { ++changes; }
  void DataSetScrolled(int) override { ++scrolls; }
};

class DataSetConformanceTest : public HandlerTest {
 protected:
  void TearDown() override {
    ds.Close();
    HandlerTest::TearDown();
  }

  void CreateLog() {
    ds.SetDatabaseName(dir_);
    ds.SetTableName("LOG.DBF");
    TCreateSorrelDataSet creator;
    creator.SetDBFTable(&ds);
    creator.SetDBFType(DBaseIV);
    creator.SetCreateFields({"STATION;C;10;0", "STATE;C;3;0"});
    ASSERT_TRUE(creator.CreateTable());
  }

  void Add(const std::string& station, const std::string& state) {
    ds.Append();
    ds.FieldByName("STATION")->SetAsString(station);
    ds.FieldByName("STATE")->SetAsString(state);
    ds.Post();
  }

  std::string Station() { return ds.FieldByName("STATION")->AsString(); }

  std::vector<std::string> Stations() {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(Station());
    return out;
  }

  TSorrelDataSet ds;
};

TEST_F(DataSetConformanceTest, EmptyIndexListOnAnOpenDataSetClosesItsTags) {
  CreateLog();
  Add("W1AW", "CT");
  Add("K1ABC", "MA");
  Add("N1XYZ", "CT");
  BuildIndexTag(ds, "LOG.cdx", "STATION", "STATION", "", 1, 0);
  ds.SetIndexFiles({"LOG.cdx"});
  ds.SetIndexName("STATION");
  EXPECT_EQ(Stations(), (std::vector<std::string>{"K1ABC", "N1XYZ", "W1AW"}));

  ds.SetIndexFiles({});
  EXPECT_EQ(ds.IndexName(), "");
  EXPECT_EQ(SorrelTagCount(ds), 0);
  EXPECT_EQ(ds.IndexDefs().Count(), 0);
  EXPECT_EQ(Stations(), (std::vector<std::string>{"W1AW", "K1ABC", "N1XYZ"}));
  // The file opens again when listed again.
  ds.SetIndexFiles({"LOG.cdx"});
  ds.SetIndexName("STATION");
  ds.First();
  EXPECT_EQ(Station(), "K1ABC");
}

TEST_F(DataSetConformanceTest, LookupLeavesTheViewItsWindowAndLinksAlone) {
  CreateLog();
  for (int i = 0; i < 12; ++i) Add("S" + std::to_string(i), i % 2 ? "MA" : "CT");
  TDataSource source(&ds);
  CountingLink link;
  link.SetDataSource(&source);
  ds.First();
  for (int i = 0; i < 4; ++i) ds.Next();
  ASSERT_EQ(link.ActiveRecord(), 4);
  ASSERT_EQ(Station(), "S4");
  int scrolls = 0;
  ds.BeforeScroll = [&](TDataSet&) { ++scrolls; };
  ds.AfterScroll = [&](TDataSet&) { ++scrolls; };
  link.changes = link.scrolls = 0;

  EXPECT_EQ(ds.Lookup("STATION", {TVarValue("S11")}, "STATE").AsString(), "MA");
  EXPECT_EQ(ds.Lookup("STATION", {TVarValue("S10")}, "STATION;STATE").AsString(), "S10;CT");
  EXPECT_TRUE(ds.Lookup("STATION", {TVarValue("NOBODY")}, "STATE").IsNull());

  EXPECT_EQ(Station(), "S4");
  EXPECT_EQ(ds.RecNo(), 5);
  EXPECT_EQ(link.ActiveRecord(), 4);
  EXPECT_EQ(link.changes, 0);
  EXPECT_EQ(link.scrolls, 0);
  EXPECT_EQ(scrolls, 0);
  // The cursor still moves on from where it was.
  ds.Next();
  EXPECT_EQ(Station(), "S5");
  ds.Prior();
  ds.Prior();
  EXPECT_EQ(Station(), "S3");
}

TEST_F(DataSetConformanceTest, LookupComputesTheFoundRecordsCalculatedFields) {
  CreateLog();
  Add("W1AW", "CT");
  Add("K1ABC", "MA");
  ds.Close();
  ds.AddField(std::make_unique<TField>(&ds, "STATION", TFieldType::ftString, 10));
  ds.AddField(std::make_unique<TField>(&ds, "STATE", TFieldType::ftString, 3));
  ds.AddField(std::make_unique<TField>(&ds, "LABEL", TFieldType::ftString, 20,
                                       TFieldKind::fkCalculated));
  ds.OnCalcFields = [](TDataSet& d) {
    d.FieldByName("LABEL")->SetAsString(d.FieldByName("STATION")->AsString() + "/" +
                                        d.FieldByName("STATE")->AsString());
  };
  ds.Open();
  EXPECT_EQ(ds.FieldByName("LABEL")->AsString(), "W1AW/CT");
  EXPECT_EQ(ds.Lookup("STATE", {TVarValue("MA")}, "LABEL").AsString(), "K1ABC/MA");
  EXPECT_EQ(ds.FieldByName("LABEL")->AsString(), "W1AW/CT");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
}

}  // namespace
