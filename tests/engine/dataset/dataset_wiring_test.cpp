// The data set's own entry points reaching the engine behind them: memo text through the fields,
// Locate and Lookup through the data set, aliases for DatabaseName, the busy code while a tag is
// built, master/detail through the master link and index-file list changes on a closed data set.
#include <filesystem>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_alias.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "base/SysSorl.h"
#include "handler/handler_test_util.h"

using namespace handler_test;

namespace {

class DataSetWiringTest : public HandlerTest {
 protected:
  void TearDown() override {
    ds.Close();
    HandlerTest::TearDown();
  }

  // A new table in dir_ written by the creator and open in `ds`.
  void Create(const std::string& table, const std::vector<std::string>& fields) {
    ds.SetDatabaseName(dir_);
    ds.SetTableName(table);
    TCreateSorrelDataSet creator;
    creator.SetDBFTable(&ds);
    creator.SetDBFType(DBaseIV);
    creator.SetCreateFields(fields);
    ASSERT_TRUE(creator.CreateTable());
  }

  void CreateLog() { Create("LOG.DBF", {"STATION;C;10;0", "STATE;C;3;0", "NOTES;M;10;0"}); }

  void Add(const std::string& station, const std::string& state, const std::string& notes = "") {
    ds.Append();
    ds.FieldByName("STATION")->SetAsString(station);
    ds.FieldByName("STATE")->SetAsString(state);
    if (!notes.empty()) ds.FieldByName("NOTES")->SetAsString(notes);
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

TEST_F(DataSetWiringTest, MemoTextRoundTripsThroughTheField) {
  CreateLog();
  const std::string longNote(1500, 'x');  // several memo blocks
  Add("W1AW", "CT", "First contact\r\nwith a second line");
  Add("K1ABC", "MA");
  Add("N1XYZ", "CT", longNote);
  ds.Close();
  ds.Open();
  ds.First();
  EXPECT_EQ(ds.FieldByName("NOTES")->AsString(), "First contact\r\nwith a second line");
  ds.Next();
  EXPECT_TRUE(ds.FieldByName("NOTES")->IsNull());
  EXPECT_EQ(ds.FieldByName("NOTES")->AsString(), "");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("NOTES")->AsString(), longNote);

  // Replaced by a shorter text in an edit; a cancelled edit leaves the stored text alone.
  ds.Edit();
  ds.FieldByName("NOTES")->SetAsString("short");
  ds.Post();
  ds.First();
  ds.Edit();
  ds.FieldByName("NOTES")->SetAsString("never stored");
  ds.Cancel();
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.FieldByName("NOTES")->AsString(), "First contact\r\nwith a second line");
  ds.Last();
  EXPECT_EQ(ds.FieldByName("NOTES")->AsString(), "short");
  // Writing outside edit mode is refused, as for any field.
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("NOTES")->SetAsString("no"); }),
            "Dataset not in edit or insert mode");
}

TEST_F(DataSetWiringTest, LocateAndLookupGoThroughTheDataSet) {
  CreateLog();
  Add("W1AW", "CT");
  Add("K1ABC", "MA");
  Add("N1XYZ", "CT");
  TDataSet& base = ds;
  ds.First();
  EXPECT_TRUE(base.Locate("STATE;STATION", {TVarValue("CT"), TVarValue("N1XYZ")}, 0));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_FALSE(base.Locate("STATION", {TVarValue("k1a")}, 0));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_TRUE(base.Locate("STATION", {TVarValue("k1a")}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.RecNo(), 2);
  // Lookup answers without moving the view.
  EXPECT_EQ(base.Lookup("STATION", {TVarValue("W1AW")}, "STATE").AsString(), "CT");
  EXPECT_TRUE(base.Lookup("STATION", {TVarValue("NOBODY")}, "STATE").IsNull());
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Close();
  EXPECT_NE(ErrorOf<std::exception>([&] { base.Locate("STATION", {TVarValue("W1AW")}, 0); }), "");
}

TEST_F(DataSetWiringTest, AliasDatabaseNameOpensTheAliasedFolder) {
  CreateLog();
  Add("W1AW", "CT");
  ds.Close();
  // The folder itself was entered as an alias of itself when it was set.
  const std::string folder = dir_;
  EXPECT_EQ(SorrelAliasValue(folder), folder);
  EXPECT_EQ(ResolveDatabaseName(ds), folder + "/");

  const std::string alias = "LOGBOOK_" + std::filesystem::path(dir_).filename().string();
  SorrelAliasAdd(alias, dir_);
  // Run from another folder, so that only the alias can find the table.
  const auto home = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  struct Back {
    std::filesystem::path to;
    ~Back() { std::filesystem::current_path(to); }
  } back{home};
  TSorrelDataSet other;
  const size_t lines = SorrelAliasLines().size();
  other.SetDatabaseName(SysLowerCase(alias) + "/");
  EXPECT_EQ(other.DatabaseName(), SysLowerCase(alias));
  EXPECT_EQ(ResolveDatabaseName(other), dir_ + "/");
  other.SetTableName("LOG.DBF");
  other.Open();
  EXPECT_EQ(other.FieldByName("STATION")->AsString(), "W1AW");
  // Setting the alias did not enter it as a folder of its own.
  EXPECT_EQ(SorrelAliasLines().size(), lines);
  EXPECT_EQ(ErrorOf([&] { other.SetDatabaseName(dir_); }),
            "Cannot perform this operation on an open dataset");
  other.Close();

  // An unknown name stands for itself; the root folder keeps its delimiter.
  other.SetDatabaseName("/");
  EXPECT_EQ(ResolveDatabaseName(other), "/");
  other.SetDatabaseName("");
  EXPECT_EQ(ResolveDatabaseName(other), "");
}

TEST_F(DataSetWiringTest, DataSetIsBusyWhileATagIsBuilt) {
  CreateLog();
  for (int i = 0; i < 30; ++i) Add("S" + std::to_string(i), i % 2 ? "CT" : "MA");
  int reports = 0;
  std::vector<std::string> refusals;
  ds.OnStatus = [&](int, int, int) {
    ++reports;
    if (ds.BusyCode() != 1) return;
    refusals.push_back(ErrorOf([&] { ds.Next(); }));
    refusals.push_back(ErrorOf([&] { SelectIndexTag(ds, "STATE"); }));
    refusals.push_back(
        ErrorOf([&] { static_cast<TDataSet&>(ds).Locate("STATION", {TVarValue("S1")}, 0); }));
  };
  BuildIndexTag(ds, "LOG.cdx", "STATE", "STATE+STATION", "", 1, 0);
  ASSERT_GT(reports, 0);
  ASSERT_FALSE(refusals.empty());
  for (const std::string& e : refusals) EXPECT_EQ(e, "Table is busy building an index");
  EXPECT_EQ(ds.BusyCode(), 0);
  EXPECT_EQ(ds.RecNo(), 1);  // the build ends on the first record

  // A build that fails (bad key expression) leaves the data set idle and usable.
  ds.OnStatus = nullptr;
  EXPECT_NE(ErrorOf([&] { BuildIndexTag(ds, "LOG.cdx", "BAD", "STATE+", "", 1, 0); }), "");
  EXPECT_EQ(ds.BusyCode(), 0);
  OpenIndexList(ds, "LOG.cdx", "STATE");
  ds.First();
  EXPECT_EQ(Station(), "S1");  // CT before MA
  ds.Next();
  EXPECT_EQ(Station(), "S11");
}

TEST_F(DataSetWiringTest, DetailFollowsItsMasterThroughTheLink) {
  {
    HXO_DB4Build b(PathOf("STATES.DBF"));
    b.AddField("STATE", "C", 2, 0);
    b.CreateFiles();
  }
  TSorrelDataSet states;
  states.SetDatabaseName(dir_);
  states.SetTableName("STATES.DBF");
  states.Open();
  for (const char* s : {"CT", "MA", "NY"}) {
    states.Append();
    states.FieldByName("STATE")->SetAsString(s);
    states.Post();
  }
  TDataSource master(&states);

  CreateLog();
  Add("W1AW", "CT");
  Add("K1ABC", "MA");
  Add("N1XYZ", "CT");
  Add("W2A", "VT");
  BuildIndexTag(ds, "LOG.cdx", "STATE", "STATE+STATION", "", 1, 0);
  BuildIndexTag(ds, "LOG.cdx", "STATEONLY", "STATE", "", 1, 0);
  ds.Close();
  ds.SetIndexFiles({"LOG.cdx"});
  ds.SetIndexName("STATE");
  ds.SetMasterSource(&master);
  ds.SetMasterFields("STATE");

  // Opened while the master stands on MA: the range is there from the first record on.
  states.First();
  states.Next();
  ds.Open();
  EXPECT_EQ(Station(), "K1ABC");
  EXPECT_EQ(Stations(), std::vector<std::string>{"K1ABC"});
  // The master's moves reach the detail through the link.
  states.First();
  EXPECT_EQ(Station(), "N1XYZ");
  EXPECT_EQ(Stations(), (std::vector<std::string>{"N1XYZ", "W1AW"}));
  states.Last();
  EXPECT_TRUE(ds.IsEmpty());
  // Another tag takes the same range.
  states.First();
  ds.SetIndexName("STATEONLY");
  EXPECT_EQ(Stations(), (std::vector<std::string>{"W1AW", "N1XYZ"}));
  ds.SetIndexName("STATE");
  EXPECT_EQ(Stations(), (std::vector<std::string>{"N1XYZ", "W1AW"}));
  // A closed master removes the range; opening it again restores it.
  states.Close();
  EXPECT_EQ(Stations().size(), 4u);
  states.Open();
  EXPECT_EQ(Stations(), (std::vector<std::string>{"N1XYZ", "W1AW"}));
  // Unlinked, the detail shows every record again.
  ds.SetMasterSource(nullptr);
  EXPECT_EQ(Stations().size(), 4u);
}

TEST_F(DataSetWiringTest, IndexListChangeOnAClosedDataSet) {
  CreateLog();
  Add("W1AW", "CT");
  Add("K1ABC", "MA");
  BuildIndexTag(ds, "LOG.cdx", "STATION", "STATION", "", 1, 0);
  ds.Close();
  int opens = 0;
  ds.AfterOpen = [&](TDataSet&) { ++opens; };

  // The list is tried at once; the data set stays closed and no open event runs.
  EXPECT_EQ(ErrorOf([&] { ds.SetIndexFiles({"LOG.cdx", "log.CDX"}); }),
            "Index file " + dir_ + "/log.CDX already open");
  EXPECT_EQ(ErrorOf([&] { ds.SetIndexFiles({"NOPE"}); }),
            "Cannot find file " + dir_ + "/NOPE.ndx");
  ds.SetIndexFiles({"LOG.cdx"});
  ds.SetIndexName("STATION");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(opens, 0);
  // An empty list leaves no tag to select.
  ds.SetIndexFiles({});
  EXPECT_EQ(ds.IndexName(), "");
  ds.SetIndexFiles({"LOG.cdx"});
  ds.SetIndexName("STATION");
  ds.Open();
  EXPECT_EQ(Station(), "K1ABC");
  // On an open data set a repeated file is passed over.
  EXPECT_EQ(ErrorOf([&] { ds.SetIndexFiles({"LOG.cdx", "LOG.cdx"}); }), "");
  EXPECT_EQ(Station(), "K1ABC");
  // Without a table name there is nothing to try the list on.
  TSorrelDataSet blank;
  EXPECT_EQ(ErrorOf([&] { blank.SetIndexFiles({"ANY.cdx", "ANY.cdx"}); }), "");
}

}  // namespace
