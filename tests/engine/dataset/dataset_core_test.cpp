// The dataset core over an in-memory data set: the window of buffers, navigation, the edit
// protocol and its events, bookmarks, links and their notices, disabled controls, fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/dblink.h"
#include "dataset/fake_dataset.h"

using fake::FakeDataSet;
using fake::Row;

namespace {

// A link that records what it is told and reads the IDs of its window.
class RecordingLink : public TDataLink {
 public:
  explicit RecordingLink(int buffers) { SetBufferCount(buffers); }
  std::vector<std::string> log;
  int changed = 0;
  std::vector<int> scrolls;

  std::vector<int> Ids() {
    std::vector<int> ids;
    for (int i = 0; i < RecordCount(); ++i) {
      TRowScope row(*this, i);
      ids.push_back(DataSet()->FieldByName("ID")->AsInteger());
    }
    return ids;
  }
  int ActiveId() {
    return DataSet()->FieldByName("ID")->AsInteger();
  }

 protected:
  void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { ++changed; }
  void DataSetScrolled(int distance) override { scrolls.push_back(distance); }
  void EditingChanged() override { log.push_back(Editing() ? "editing" : "browsing"); }
  void RecordChanged(TField* field) override {
    log.push_back(field != nullptr ? "field " + field->FieldName() : "record");
  }
  void UpdateData() override { log.push_back("update"); }
  void CheckBrowseMode() override { log.push_back("checkbrowse"); }
};

class DataSetCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Twelve rows stored out of order; the view is ID order.
    const int ids[] = {50, 10, 120, 30, 90, 20, 110, 40, 70, 60, 100, 80};
    for (int id : ids) ds.rows.push_back(Row{id, "n" + std::to_string(id), id / 10.0});
    // Filter out the multiples of 30: visible 10 20 40 50 70 80 100 110.
    ds.predicate = [](const Row& r) { return r.id % 30 != 0; };
    ds.SetFiltered(true);
    source.SetDataSet(&ds);
    link.SetDataSource(&source);
  }

  int Id() { return ds.FieldByName("ID")->AsInteger(); }

  FakeDataSet ds;
  TDataSource source;
  RecordingLink link{5};
};

TEST_F(DataSetCoreTest, WindowFollowsTheCursorThroughFirstNextPriorLastAndMoveBy) {
  ds.Open();
  EXPECT_EQ(ds.BufferCount(), 5);
  EXPECT_EQ(link.Ids(), (std::vector<int>{10, 20, 40, 50, 70}));
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(Id(), 10);
  EXPECT_EQ(ds.RecordCount(), 8);

  ds.Prior();  // at the first record: stays, BOF
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Id(), 10);

  for (int i = 0; i < 4; ++i) ds.Next();
  EXPECT_EQ(Id(), 70);
  EXPECT_EQ(link.ActiveRecord(), 4);
  link.scrolls.clear();
  ds.Next();  // past the window: it scrolls by one
  EXPECT_EQ(Id(), 80);
  EXPECT_EQ(link.Ids(), (std::vector<int>{20, 40, 50, 70, 80}));
  EXPECT_EQ(link.scrolls, (std::vector<int>{1}));
  EXPECT_EQ(link.ActiveRecord(), 4);

  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Id(), 110);
  EXPECT_EQ(link.Ids(), (std::vector<int>{50, 70, 80, 100, 110}));
  EXPECT_EQ(ds.MoveBy(1), 0);
  EXPECT_EQ(Id(), 110);

  EXPECT_EQ(ds.MoveBy(-6), -6);
  EXPECT_EQ(Id(), 20);
  EXPECT_EQ(link.Ids(), (std::vector<int>{20, 40, 50, 70, 80}));
  EXPECT_EQ(link.ActiveRecord(), 0);
  EXPECT_EQ(ds.RecNo(), 2);

  EXPECT_EQ(ds.MoveBy(-5), -1);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Id(), 10);
  EXPECT_EQ(ds.MoveBy(100), 7);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Id(), 110);
}

TEST_F(DataSetCoreTest, ASmallLinkKeepsItsOwnWindowInsideTheLargerOne) {
  RecordingLink small(2);
  small.SetDataSource(&source);
  ds.Open();
  EXPECT_EQ(ds.BufferCount(), 5);
  for (int i = 0; i < 3; ++i) ds.Next();
  EXPECT_EQ(Id(), 50);
  EXPECT_EQ(small.RecordCount(), 2);
  EXPECT_EQ(small.Ids(), (std::vector<int>{40, 50}));
  EXPECT_EQ(small.ActiveRecord(), 1);
  // Dropping the large link shrinks the window around the active record.
  link.SetDataSource(nullptr);
  EXPECT_EQ(ds.BufferCount(), 2);
  EXPECT_EQ(Id(), 50);
  ds.Next();
  EXPECT_EQ(Id(), 70);
  EXPECT_EQ(small.Ids(), (std::vector<int>{50, 70}));
}

TEST_F(DataSetCoreTest, ALinkAddedLaterGrowsTheWindowAroundTheActiveRecord) {
  link.SetDataSource(nullptr);
  ds.Open();
  EXPECT_EQ(ds.BufferCount(), 1);
  ds.MoveBy(6);
  ASSERT_EQ(Id(), 100);
  RecordingLink wide(4);
  wide.SetDataSource(&source);
  EXPECT_EQ(ds.BufferCount(), 4);
  EXPECT_EQ(Id(), 100);
  const std::vector<int> ids = wide.Ids();
  EXPECT_EQ(ids, (std::vector<int>{70, 80, 100, 110}));
  EXPECT_EQ(wide.ActiveRecord(), 2);
  ds.Next();
  EXPECT_EQ(Id(), 110);
  EXPECT_EQ(wide.ActiveRecord(), 3);
  ds.Next();
  EXPECT_TRUE(ds.Eof());
}

TEST_F(DataSetCoreTest, InsertInTheMiddleShowsThePostedRecordInOrder) {
  ds.Open();
  ds.MoveBy(2);
  ASSERT_EQ(Id(), 40);
  ds.Insert();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_EQ(link.ActiveRecord(), 2);
  EXPECT_TRUE(ds.FieldByName("NAME")->IsNull());
  ds.FieldByName("ID")->SetAsInteger(45);
  ds.FieldByName("NAME")->SetAsString("new");
  EXPECT_TRUE(ds.Modified());
  ds.Post();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.rows.back().id, 45);  // stored at the end
  EXPECT_EQ(Id(), 45);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "new");
  EXPECT_EQ(link.Ids(), (std::vector<int>{20, 40, 45, 50, 70}));
  ds.Next();
  EXPECT_EQ(Id(), 50);
}

TEST_F(DataSetCoreTest, InsertOnAnEmptyViewAndCancelLeaveItEmpty) {
  ds.predicate = [](const Row&) { return false; };
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.Eof());
  ds.Edit();  // an empty data set inserts instead
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_FALSE(ds.IsEmpty());
  ds.Cancel();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_THROW(ds.Delete(), EDatabaseError);
}

TEST_F(DataSetCoreTest, DeletingTheLastVisibleRecordStepsBack) {
  ds.Open();
  ds.Last();
  ds.Delete();
  EXPECT_EQ(Id(), 100);
  EXPECT_EQ(link.Ids(), (std::vector<int>{40, 50, 70, 80, 100}));
  EXPECT_FALSE(ds.Eof());
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 7);
  // Deleting everything leaves an empty window.
  ds.First();
  while (!ds.IsEmpty()) ds.Delete();
  EXPECT_EQ(link.RecordCount(), 0);
  EXPECT_TRUE(ds.Bof() && ds.Eof());
}

TEST_F(DataSetCoreTest, EditPostAndCancelRunTheirEventsInOrder) {
  std::vector<std::string> events;
  auto note = [&events](const char* name) { return [&events, name](TDataSet&) { events.push_back(name); }; };
  ds.BeforeEdit = note("BeforeEdit");
  ds.AfterEdit = note("AfterEdit");
  ds.BeforePost = note("BeforePost");
  ds.AfterPost = note("AfterPost");
  ds.BeforeCancel = note("BeforeCancel");
  ds.AfterCancel = note("AfterCancel");
  ds.BeforeScroll = note("BeforeScroll");
  ds.AfterScroll = note("AfterScroll");
  ds.Open();
  ds.Next();
  events.clear();
  link.log.clear();

  ds.Edit();
  EXPECT_EQ(link.log, (std::vector<std::string>{"checkbrowse", "editing", "record"}));
  ds.FieldByName("NAME")->SetAsString("changed");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "n20");
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}));

  events.clear();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("changed");
  ds.Next();  // leaving the record posts it
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost",
                                              "BeforeScroll", "AfterScroll"}));
  EXPECT_EQ(ds.rows[5].name, "changed");
  EXPECT_EQ(Id(), 40);

  // An edit without changes is cancelled, not posted, when the cursor moves on.
  const int posts = ds.postCalls;
  ds.Edit();
  ds.Next();
  EXPECT_EQ(ds.postCalls, posts);
}

TEST_F(DataSetCoreTest, ErrorEventsChooseFailAbortOrRetry) {
  ds.Open();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("x");

  ds.failNextPost = true;
  EXPECT_THROW(ds.Post(), EDatabaseError);
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);

  ds.failNextPost = true;
  ds.OnPostError = [](TDataSet&, const EDatabaseError& e, TDataAction& action) {
    EXPECT_STREQ(e.what(), "Post refused");
    action = TDataAction::daAbort;
  };
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);

  ds.failNextPost = true;
  ds.OnPostError = [](TDataSet&, const EDatabaseError&, TDataAction& action) { action = TDataAction::daRetry; };
  const int before = ds.postCalls;
  ds.Post();
  EXPECT_EQ(ds.postCalls, before + 2);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);

  ds.editLockRefused = true;
  try {
    ds.Edit();
    FAIL() << "edit was not refused";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Record is locked by another user");
  }
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
}

TEST_F(DataSetCoreTest, BookmarksReturnToTheirRecord) {
  ds.Open();
  ds.MoveBy(4);
  const TBookmark mark = ds.Bookmark();
  ASSERT_EQ(mark.size(), 4u);
  ds.First();
  EXPECT_NE(ds.CompareBookmarks(ds.Bookmark(), mark), 0);
  ds.GotoBookmark(mark);
  EXPECT_EQ(Id(), 70);
  EXPECT_EQ(ds.CompareBookmarks(ds.Bookmark(), mark), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, mark), -1);
  EXPECT_EQ(ds.CompareBookmarks(mark, {}), 1);
  // The window is centred on the bookmarked record.
  EXPECT_EQ(link.ActiveRecord(), 2);
}

TEST_F(DataSetCoreTest, DisabledControlsHearOneChangeWhenEnabledAgain) {
  ds.Open();
  link.changed = 0;
  link.scrolls.clear();
  ds.DisableControls();
  ds.DisableControls();
  ds.MoveBy(6);
  ds.First();
  ds.EnableControls();
  EXPECT_EQ(link.changed, 0);
  EXPECT_TRUE(link.scrolls.empty());
  ds.EnableControls();
  EXPECT_EQ(link.changed, 1);
  EXPECT_FALSE(ds.ControlsDisabled());
}

TEST_F(DataSetCoreTest, FilterEventRunsInTheFilterStateAndTheStateComesBackAfterAThrow) {
  ds.predicate = nullptr;
  std::vector<TDataSetState> seen;
  ds.OnFilterRecord = [&seen](TDataSet& d, bool& accept) {
    seen.push_back(d.State());
    accept = d.FieldByName("ID")->AsInteger() > 100;
  };
  ds.Open();
  EXPECT_EQ(link.Ids(), (std::vector<int>{110, 120}));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), TDataSetState::dsFilter);

  ds.OnFilterRecord = [](TDataSet&, bool&) { throw ESorrelError("filter failed"); };
  EXPECT_THROW(ds.First(), ESorrelError);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_FALSE(ds.ControlsDisabled());
}

TEST_F(DataSetCoreTest, LinksHearStateChangesAndFieldChanges) {
  ds.Open();
  EXPECT_EQ(link.log.front(), "active");
  link.log.clear();
  ds.Edit();
  ds.FieldByName("AMOUNT")->SetAsFloat(2.5);
  EXPECT_EQ(link.log, (std::vector<std::string>{"checkbrowse", "editing", "record", "field AMOUNT"}));
  link.log.clear();
  ds.Post();
  EXPECT_EQ(link.log.front(), "update");
  EXPECT_EQ(link.log.back(), "browsing");
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  source.SetEnabled(true);
  EXPECT_TRUE(link.Active());
  ds.Close();
  EXPECT_FALSE(link.Active());
}

TEST_F(DataSetCoreTest, FieldsConvertValidateAndRangeCheck) {
  ds.Open();
  TField* id = ds.FieldByName("id");
  TField* amount = ds.FieldByName("AMOUNT");
  TField* name = ds.FieldByName("NAME");
  EXPECT_THROW(ds.FieldByName("NOPE"), EDatabaseError);
  EXPECT_EQ(id->AsString(), "10");
  EXPECT_EQ(amount->AsString(), "1");
  EXPECT_DOUBLE_EQ(id->AsFloat(), 10.0);
  EXPECT_TRUE(id->Value() == TVarValue(int64_t{10}));

  ds.Edit();
  EXPECT_THROW(id->SetAsString("12x"), EDatabaseError);
  EXPECT_THROW(id->SetAsLargeInt(int64_t{1} << 33), EDatabaseError);
  amount->SetAsFloat(5e9);
  try {
    (void)amount->AsInteger();
    FAIL() << "a value beyond 32 bits was wrapped";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()),
              "5000000000 is not a valid value for field 'AMOUNT'. The allowed range is -2147483648 to 2147483647");
  }
  EXPECT_EQ(amount->AsLargeInt(), 5000000000LL);
  amount->Clear();
  EXPECT_TRUE(amount->IsNull());
  EXPECT_EQ(amount->AsString(), "");
  name->SetAsString("a name longer than sixteen");
  EXPECT_EQ(name->AsString(), "a name longer th");
  name->SetValue(TVarValue("Yes"));
  EXPECT_TRUE(name->AsBoolean());

  name->OnValidate = [](TField& f) {
    if (f.AsString() == "bad") throw EDatabaseError("no bad names");
  };
  EXPECT_THROW(name->SetAsString("bad"), EDatabaseError);
  EXPECT_EQ(name->AsString(), "Yes");
  name->SetAsString("good");
  EXPECT_EQ(name->AsString(), "good");
  ds.Cancel();
}

TEST_F(DataSetCoreTest, CalculatedAndLookupFieldsAreFilledPerRecord) {
  FakeDataSet names;
  names.rows = {Row{10, "ten", 0}, Row{20, "twenty", 0}};
  names.Open();

  auto twice = std::make_unique<TField>(&ds, "TWICE", TFieldType::ftFloat, 0, TFieldKind::fkCalculated);
  auto word = std::make_unique<TField>(&ds, "WORD", TFieldType::ftString, 10, TFieldKind::fkLookup);
  word->SetLookupDataSet(&names);
  word->SetKeyFields("ID");
  word->SetLookupKeyFields("ID");
  word->SetLookupResultField("NAME");
  ds.AddField(std::make_unique<TField>(&ds, "ID", TFieldType::ftInteger));
  ds.AddField(std::make_unique<TField>(&ds, "NAME", TFieldType::ftString, FakeDataSet::kNameSize));
  ds.AddField(std::make_unique<TField>(&ds, "AMOUNT", TFieldType::ftFloat));
  TField* twiceField = ds.AddField(std::move(twice));
  TField* wordField = ds.AddField(std::move(word));
  ds.OnCalcFields = [](TDataSet& d) {
    d.FieldByName("TWICE")->SetAsFloat(d.FieldByName("AMOUNT")->AsFloat() * 2);
  };
  ds.Open();
  EXPECT_EQ(ds.CalcFieldsSize(), (8 + 1) + (10 + 1 + 1));
  EXPECT_DOUBLE_EQ(twiceField->AsFloat(), 2.0);
  ds.Next();
  EXPECT_DOUBLE_EQ(twiceField->AsFloat(), 4.0);
  // The fake has no Lookup: the lookup field stays null rather than failing.
  EXPECT_TRUE(wordField->IsNull());
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 5);  // persistent fields survive a close
}

TEST_F(DataSetCoreTest, MasterLinkFollowsTheMasterAndRefusesALoop) {
  FakeDataSet detail;
  detail.rows = {Row{1, "a", 0}};
  detail.Open();
  int changes = 0;
  int disables = 0;
  detail.master.OnMasterChange = [&changes] { ++changes; };
  detail.master.OnMasterDisable = [&disables] { ++disables; };
  detail.master.SetFieldNames("ID");
  detail.master.SetMasterSource(&source);
  EXPECT_EQ(disables, 1);  // master closed
  ds.Open();
  EXPECT_EQ(changes, 1);
  ASSERT_EQ(detail.master.Fields().size(), 1u);
  ds.Next();
  EXPECT_EQ(changes, 2);
  ds.Edit();  // the record-changed notice names no field: the detail follows
  EXPECT_EQ(changes, 3);
  ds.FieldByName("NAME")->SetAsString("other");  // not a master field
  EXPECT_EQ(changes, 3);
  ds.FieldByName("ID")->SetAsInteger(21);
  EXPECT_EQ(changes, 4);
  ds.Cancel();

  TDataSource detailSource(&detail);
  try {
    ds.master.SetMasterSource(&detailSource);
    FAIL() << "a loop of links was accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Circular datalinks are not allowed");
  }
  EXPECT_THROW(detail.master.SetMasterSource(&detailSource), EDatabaseError);
}

TEST_F(DataSetCoreTest, AppendRecordAddsAndPostsInOneCall) {
  ds.Open();
  ds.AppendRecord({TVarValue(75), TVarValue("appended"), TVarValue()});
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Id(), 75);
  EXPECT_EQ(ds.rows.back().name, "appended");
  EXPECT_EQ(ds.RecordCount(), 9);
  // A value that does not fit leaves nothing behind.
  EXPECT_THROW(ds.AppendRecord({TVarValue("x")}), EDatabaseError);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.rows.size(), 13u);
}

TEST_F(DataSetCoreTest, ClosedDataSetRefusesWork) {
  try {
    ds.Next();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
  }
  ds.Open();
  EXPECT_THROW(ds.AddField(std::make_unique<TField>(&ds, "X", TFieldType::ftInteger)), EDatabaseError);
}

}  // namespace
