// The order of the data set's events around inserts and appends, over the in-memory data set:
// a new record is a scroll like any other move, so the scroll events frame it as they frame the
// cancel that takes it back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/dblink.h"
#include "dataset/fake_dataset.h"

using fake::FakeDataSet;
using fake::Row;

namespace {

class DataSetEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int id : {10, 20, 30}) ds.rows.push_back(Row{id, "n" + std::to_string(id), id / 10.0});
    auto note = [this](const char* name) { return [this, name](TDataSet&) { events.push_back(name); }; };
    ds.BeforeInsert = note("BeforeInsert");
    ds.AfterInsert = note("AfterInsert");
    ds.OnNewRecord = note("OnNewRecord");
    ds.BeforePost = note("BeforePost");
    ds.AfterPost = note("AfterPost");
    ds.BeforeCancel = note("BeforeCancel");
    ds.AfterCancel = note("AfterCancel");
    ds.BeforeScroll = note("BeforeScroll");
    ds.AfterScroll = note("AfterScroll");
    ds.Open();
    events.clear();
  }

  FakeDataSet ds;
  std::vector<std::string> events;
};

TEST_F(DataSetEventsTest, InsertAndAppendAreFramedByScrollEvents) {
  const std::vector<std::string> opening = {"BeforeInsert", "BeforeScroll", "OnNewRecord",
                                            "AfterInsert", "AfterScroll"};
  ds.Next();
  events.clear();
  ds.Insert();
  EXPECT_EQ(events, opening);
  events.clear();
  ds.Cancel();
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeCancel", "BeforeScroll", "AfterCancel",
                                              "AfterScroll"}));
  events.clear();
  ds.Append();
  EXPECT_EQ(events, opening);
  events.clear();
  ds.FieldByName("NAME")->SetAsString("new");
  ds.Post();
  EXPECT_EQ(events, (std::vector<std::string>{"BeforePost", "AfterPost"}));
}

TEST_F(DataSetEventsTest, ARefusedInsertRunsNoScrollEvent) {
  ds.BeforeInsert = [](TDataSet&) { throw EAbort(); };
  EXPECT_THROW(ds.Insert(), EAbort);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
}

}  // namespace
