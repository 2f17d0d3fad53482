// The logbook's uses of the dataset's index, search, pack, creator and blob operations over real
// tables: the duplicate check by tag and by scan, seeks in a reference table, tag builds that
// fail, packs that empty the table, new tables opened at once, memo streams.
#include <filesystem>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_blob.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "handler/handler_test_util.h"
#include "support/logbook_layout.h"
#include "support/tool_runner.h"

using namespace handler_test;

namespace {

std::vector<std::string> LogbookLines() {
  std::vector<std::string> lines;
  for (const auto& f : logbook_layout::Fields())
    lines.push_back(std::string(f.name) + ";" + f.type + ";" + std::to_string(f.length) + ";" +
                    std::to_string(f.decimals));
  return lines;
}

bool HaveIndexDump() { return tool_runner::Run("command -v index_dump >/dev/null 2>&1").status == 0; }

class DataSetSearchTest : public HandlerTest {
 protected:
  void TearDown() override {
    ds.Close();
    HandlerTest::TearDown();
  }

  // A new logbook LOG1.DBF written by the creator and open in `ds`.
  void CreateLogbook() {
    ds.SetDatabaseName(dir_);
    ds.SetTableName("LOG1.DBF");
    TCreateSorrelDataSet creator;
    creator.SetDBFTable(&ds);
    creator.SetDBFType(DBaseIV);
    creator.SetCreateFields(LogbookLines());
    ASSERT_TRUE(creator.CreateTable());
  }

  void AddContact(const std::string& station, double band, const std::string& mode = "SSB") {
    ds.Append();
    ds.FieldByName("STATION")->SetAsString(station);
    ds.FieldByName("BAND")->SetAsFloat(band);
    ds.FieldByName("MODE")->SetAsString(mode);
    ds.Post();
  }

  std::string Station() { return ds.FieldByName("STATION")->AsString(); }

  TSorrelDataSet ds;
};

TEST_F(DataSetSearchTest, CreatorOpensTheNewLogbook) {
  TCreateSorrelDataSet creator;
  EXPECT_EQ(ErrorOf([&] { creator.CreateTable(); }), "A table is not assigned to this object");
  creator.SetDBFTable(&ds);
  creator.SetCreateFields({"X;C;1;0"});
  ds.SetDatabaseName(dir_);
  EXPECT_EQ(ErrorOf([&] { creator.CreateTable(); }), "Table name missing");
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
  CreateLogbook();
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.FieldCount(), 27);
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.RecordLength(), 397);
  TCreateSorrelDataSet again;
  again.SetDBFTable(&ds);
  again.SetCreateFields({"X;C;1;0"});
  EXPECT_EQ(ErrorOf([&] { again.CreateTable(); }), "Cannot perform this operation on an open table");
  ds.Close();
  // Declined: the table and the data set stay as they were.
  int asked = 0;
  again.ConfirmOverwrite = [&](const std::string&) { return ++asked, false; };
  EXPECT_FALSE(again.CreateTable());
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(ds.Active());
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 27);
}

TEST_F(DataSetSearchTest, DuplicateCheckAgreesOnTagAndScan) {
  CreateLogbook();
  AddContact("W1AW", 20);
  AddContact("K1ABC", 40);
  AddContact("W1AW", 40, "CW");
  AddContact("W1AWX", 20);
  AddContact("W1AW", 15, "CW");
  ds.SetFilter("STATION = 'W1AW'");
  ds.SetFiltered(true);

  struct Ask {
    const char* fields;
    TVarValue second;
    int record;  // 0: not found
  };
  const std::vector<Ask> asks = {
      {"STATION;BAND", 40.0, 3}, {"STATION;BAND", 20.0, 1}, {"STATION;BAND", 80.0, 0},
      {"STATION;MODE", "CW", 3},  {"STATION;MODE", "SSB", 1}, {"STATION;MODE", "FM", 0}};
  auto run = [&](const char* path) {
    for (const Ask& a : asks) {
      SCOPED_TRACE(std::string(path) + " " + a.fields + " " + a.second.AsString());
      ds.First();
      ds.Next();
      const int before = ds.RecNo();
      EXPECT_EQ(SorrelLocate(ds, a.fields, {TVarValue("W1AW"), a.second}, 0), a.record != 0);
      EXPECT_EQ(ds.RecNo(), a.record != 0 ? a.record : before);
    }
    // Filtered out: K1ABC is not found, whatever its band.
    EXPECT_FALSE(SorrelLocate(ds, "STATION;BAND", {TVarValue("K1ABC"), TVarValue(40.0)}, 0));
  };
  run("scan");
  // Tags over the asked fields: the same answers through the tags (a key of text fields joined
  // by "+" serves a locate on those fields).
  BuildIndexTag(ds, "LOG1.cdx", "STATBAND", "STATION+STR(BAND,20,4)", "", 1, 0);
  BuildIndexTag(ds, "LOG1.cdx", "STATMODE", "STATION+MODE", "", 1, 0);
  BuildIndexTag(ds, "LOG1.cdx", "STATION", "STATION", "", 1, 0);
  OpenIndexList(ds, "LOG1.cdx", "STATION");
  run("tag");
  ASSERT_EQ(SorrelTagCount(ds), 3);
  // The compound file lists its tags by name.
  EXPECT_EQ(SorrelTagName(ds, 1) + " " + SorrelTagName(ds, 2) + " " + SorrelTagName(ds, 3),
            "STATBAND STATION STATMODE");
  EXPECT_EQ(SorrelTagExpression(ds, 1), "STATION+STR(BAND,20,4)");
  EXPECT_EQ(SorrelTagName(ds, 4), "");
  EXPECT_EQ(SorrelTagName(ds, 0), "");
  // The view follows: the filtered rows in station order.
  ds.First();
  std::vector<std::string> rows;
  while (!ds.Eof()) {
    rows.push_back(Station() + "/" + ds.FieldByName("BAND")->AsString());
    ds.Next();
  }
  // (Whether W1AWX passes the filter is the expression engine's comparison rule.)
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + 3),
            (std::vector<std::string>{"W1AW/20", "W1AW/40", "W1AW/15"}));
}

TEST_F(DataSetSearchTest, SeekNearAndExactInAReferenceTable) {
  {
    HXO_DB4Build b(PathOf("STATES.DBF"));
    b.AddField("STATE", "C", 2, 0);
    b.AddField("NAME", "C", 20, 0);
    b.CreateFiles();
  }
  ds.SetDatabaseName(dir_);
  ds.SetTableName("STATES.DBF");
  ds.SetExclusive(true);
  ds.Open();
  EXPECT_EQ(ErrorOf([&] { SeekIndexKey(ds, "MA", true, true); }), "No index is assigned for Find operation");
  BuildIndexTag(ds, "STATES.CDX", "STATE", "STATE", "", 1, 0);
  OpenIndexList(ds, "STATES.CDX", "STATE");
  EXPECT_FALSE(SeekIndexKey(ds, "MA", false, true));  // empty table: nothing moves
  for (const char* s : {"TX", "MA", "CA", "NY", "ME"}) {
    ds.Append();
    ds.FieldByName("STATE")->SetAsString(s);
    ds.FieldByName("NAME")->SetAsString(std::string("State ") + s);
    ds.Post();
  }
  ds.First();
  auto state = [&] { return ds.FieldByName("STATE")->AsString(); };
  EXPECT_TRUE(SeekIndexKey(ds, "NY", true, false));
  EXPECT_EQ(state(), "NY");
  EXPECT_TRUE(SeekIndexKey(ds, "M", false, true));  // a key beginning with the text
  EXPECT_EQ(state(), "MA");
  EXPECT_FALSE(SeekIndexKey(ds, "M", true, true));  // no whole key "M": stays on the next key
  EXPECT_EQ(state(), "MA");
  EXPECT_FALSE(SeekIndexKey(ds, "MB", true, true));
  EXPECT_EQ(state(), "ME");
  EXPECT_FALSE(SeekIndexKey(ds, "NA", true, false));  // not near: the last record
  EXPECT_EQ(state(), "TX");
  EXPECT_FALSE(SeekIndexKey(ds, "ZZ", false, true));  // past the end: the last record
  EXPECT_EQ(state(), "TX");
  EXPECT_TRUE(SeekIndexKey(ds, "CA", false, true));
  EXPECT_EQ(state(), "CA");
  // Keys are the stored text: no code-page change on the way to the tag.
  ds.Append();
  ds.FieldByName("STATE")->SetAsString("\xC9Z");  // a CP1252 capital E acute
  ds.Post();
  EXPECT_TRUE(SeekIndexKey(ds, "\xC9Z", true, false));
  EXPECT_EQ(state(), "\xC9Z");
}

TEST_F(DataSetSearchTest, MissingTagIsRefusedAndTheOldOrderStays) {
  CreateLogbook();
  AddContact("W1AW", 20);
  AddContact("DL1XYZ", 40);
  AddContact("K1ABC", 80);
  BuildIndexTag(ds, "LOG1.cdx", "STATION", "STATION", "", 1, 0);
  OpenIndexList(ds, "LOG1.cdx", "STATION");
  auto stations = [&] {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(Station());
    return out;
  };
  const std::vector<std::string> byStation = {"DL1XYZ", "K1ABC", "W1AW"};
  // Asked for a tag no open file holds (the sort box's GRID): refused, the old tag still rules.
  EXPECT_EQ(ErrorOf([&] { OpenIndexList(ds, "LOG1.cdx", "GRID"); }), "Cannot find index tag GRID");
  EXPECT_EQ(ds.IndexName(), "STATION");
  EXPECT_EQ(stations(), byStation);
  // Closed and opened again, as every sort does: the table opens in the old order.
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.IndexName(), "STATION");
  EXPECT_EQ(stations(), byStation);
  // The same on a data set whose handler is open but not active (the name is tried at once).
  EXPECT_EQ(ErrorOf([&] { SelectIndexTag(ds, "NOSUCH"); }), "Cannot find index tag NOSUCH");
  EXPECT_EQ(ds.IndexName(), "STATION");
}

TEST_F(DataSetSearchTest, FailedTagBuildLeavesTheTableUsableAndTagsCurrent) {
  CreateLogbook();
  AddContact("K1ABC", 20);
  BuildIndexTag(ds, "LOG1.cdx", "STATION", "STATION", "", 1, 0);
  OpenIndexList(ds, "LOG1.cdx", "STATION");
  EXPECT_THROW(BuildIndexTag(ds, "LOG1.cdx", "BAD", "STATION+", "", 1, 0), ESorrelException);
  EXPECT_FALSE(ds.ControlsDisabled());
  EXPECT_EQ(ds.BusyCode(), 0);
  ds.First();  // not refused as busy
  AddContact("W1AW", 40);
  EXPECT_EQ(ds.IndexName(), "STATION");
  ds.Close();
  if (!HaveIndexDump()) GTEST_SKIP() << "index_dump is not installed";
  auto dump = tool_runner::Run("index_dump -type=char " + tool_runner::Quote(PathOf("LOG1.cdx")) + " STATION 2>&1");
  EXPECT_NE(dump.output.find("W1AW"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("K1ABC"), std::string::npos) << dump.output;
}

TEST_F(DataSetSearchTest, PackOfAnAllDeletedLogbook) {
  CreateLogbook();
  for (const char* s : {"A1", "B2", "C3"}) AddContact(s, 20);
  BuildIndexTag(ds, "LOG1.cdx", "STATION", "STATION", "", 1, 0);
  ds.Close();
  ds.SetExclusive(true);
  ds.SetIndexFiles({"LOG1.cdx"});
  ds.SetIndexName("STATION");
  ds.Open();
  EXPECT_EQ(ErrorOf([&] { SorrelLocate(ds, "STATION", {TVarValue("B2")}, 0); }), "");
  while (!ds.IsEmpty()) ds.Delete();
  PackTable(ds);
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.Close();
  const std::string image = Contents(PathOf("LOG1.DBF"));
  EXPECT_EQ(image.size(), 897u + 1);
  EXPECT_EQ(image.back(), '\x1A');
  // Shared, a pack is refused.
  ds.SetExclusive(false);
  ds.Open();
  EXPECT_NE(ErrorOf([&] { PackTable(ds); }).find("requires full access"), std::string::npos);
}

TEST_F(DataSetSearchTest, LookupReadsWithoutMoving) {
  CreateLogbook();
  AddContact("W1AW", 20);
  AddContact("K1ABC", 40);
  AddContact("N0CALL", 80);
  ds.First();
  int scrolls = 0;
  ds.AfterScroll = [&](TDataSet&) { ++scrolls; };
  EXPECT_EQ(SorrelLookup(ds, "STATION", {TVarValue("K1ABC")}, "BAND").AsFloat(), 40.0);
  EXPECT_EQ(SorrelLookup(ds, "STATION", {TVarValue("K1ABC")}, "MODE;BAND").AsString(), "SSB;40");
  EXPECT_TRUE(SorrelLookup(ds, "STATION", {TVarValue("NOBODY")}, "BAND").IsNull());
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(scrolls, 0);
  EXPECT_TRUE(SorrelLocate(ds, "STATION", {TVarValue("n0c")}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(scrolls, 1);
}

TEST_F(DataSetSearchTest, DetailFollowsItsMasterThroughTheTag) {
  {
    HXO_DB4Build b(PathOf("STATES.DBF"));
    b.AddField("STATE", "C", 2, 0);
    b.AddField("NAME", "C", 20, 0);
    b.CreateFiles();
  }
  TSorrelDataSet states;
  states.SetDatabaseName(dir_);
  states.SetTableName("STATES.DBF");
  states.Open();
  for (const char* s : {"CT", "MA"}) {
    states.Append();
    states.FieldByName("STATE")->SetAsString(s);
    states.Post();
  }
  TDataSource master(&states);

  CreateLogbook();
  const char* rows[][2] = {{"W1AW", "CT"}, {"K1ABC", "MA"}, {"N1XYZ", "CT"}, {"W2A", "NY"}};
  for (auto& r : rows) {
    ds.Append();
    ds.FieldByName("STATION")->SetAsString(r[0]);
    ds.FieldByName("STATE")->SetAsString(r[1]);
    ds.Post();
  }
  ds.SetMasterSource(&master);
  // Without a tag the detail cannot follow its master.
  EXPECT_EQ(ErrorOf([&] { ds.SetMasterFields("STATE"); }),
            "Master/Detail relation failed, no index open for LOG1.DBF");
  EXPECT_EQ(ErrorOf([&] { SorrelMasterKey(ds); }),
            "Master/Detail relation failed, no index open for LOG1.DBF");
  BuildIndexTag(ds, "LOG1.cdx", "STATE", "UPPER(STATE)+STATION", "", 1, 0);
  OpenIndexList(ds, "LOG1.cdx", "STATE");
  auto stations = [&] {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(Station());
    return out;
  };
  states.First();
  EXPECT_EQ(SorrelMasterKey(ds), "CT " + std::string(15, ' '));  // STATE C 3, blank STATION
  SorrelMasterChanged(ds);
  EXPECT_EQ(stations(), (std::vector<std::string>{"N1XYZ", "W1AW"}));
  states.Next();
  SorrelMasterChanged(ds);
  EXPECT_EQ(stations(), std::vector<std::string>{"K1ABC"});
  // While the master inserts, no detail key can match and the range stays.
  states.Append();
  EXPECT_EQ(SorrelMasterKey(ds), "\x01");
  states.Cancel();
  SorrelMasterDisabled(ds);
  EXPECT_EQ(stations().size(), 4u);
  EXPECT_EQ(ErrorOf([&] { ds.SetMasterFields("STATE;NAME;STATE"); }),
            "Master/Detail relation failed, field missmatch for LOG1.DBF");
  EXPECT_EQ(ErrorOf([&] { SorrelMasterKey(ds); }),
            "Master/Detail relation failed, field missmatch for LOG1.DBF");
  ds.SetMasterSource(nullptr);
}

TEST(IndexListSplit, SeparatorsAndQuotes) {
  EXPECT_EQ(SorrelSplitIndexList("LOG.cdx"), std::vector<std::string>{"LOG.cdx"});
  EXPECT_EQ(SorrelSplitIndexList(" a.cdx, \"my log.cdx\";b  c ,;"),
            (std::vector<std::string>{"a.cdx", "my log.cdx", "b", "c"}));
  EXPECT_TRUE(SorrelSplitIndexList(" ,; ").empty());
  EXPECT_EQ(SorrelBookmarkOf(42), std::string("\x02" "42\0\0\0\0\0\0\0\0", 11));
}

class BlobStreamTest : public DataSetSearchTest {
 protected:
  void MakeMemoTable() {
    ds.SetDatabaseName(dir_);
    ds.SetTableName("NOTES.DBF");
    TCreateSorrelDataSet creator;
    creator.SetDBFTable(&ds);
    creator.SetDBFType(FoxPro2);
    creator.SetCreateFields({"STATION;C;10;0", "NOTES;M;10;0"});
    ASSERT_TRUE(creator.CreateTable());
  }
  std::string ReadAll(TField* f) {
    TSRBlobStream in(f, TBlobStreamMode::bmRead, ds.Handler());
    std::string text(static_cast<size_t>(in.Size()), '\0');
    in.Read(text.data(), in.Size());
    return text;
  }
};

TEST_F(BlobStreamTest, StreamSemanticsAndWriteBack) {
  MakeMemoTable();
  TField* notes = ds.FieldByName("NOTES");
  ds.Append();
  ds.FieldByName("STATION")->SetAsString("W1AW");
  {
    TSRBlobStream out(notes, TBlobStreamMode::bmWrite, ds.Handler());
    EXPECT_EQ(out.Write("0123456789", 10), 10);
  }
  ds.Post();
  EXPECT_EQ(ReadAll(notes), "0123456789");
  {
    TSRBlobStream in(notes, TBlobStreamMode::bmRead, ds.Handler());
    char buffer[100];
    EXPECT_EQ(in.Read(buffer, 100), 10);  // 100 asked of 10
    EXPECT_EQ(in.Read(buffer, 100), 0);
    EXPECT_EQ(in.Seek(-5, TSeekOrigin::soCurrent), 5);
    EXPECT_EQ(in.Seek(-50, TSeekOrigin::soCurrent), 0);  // never before the start
    EXPECT_EQ(in.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "012");
  }
  // Writing needs edit or insert state; a stream destroyed without a write writes nothing.
  EXPECT_EQ(ErrorOf([&] { TSRBlobStream s(notes, TBlobStreamMode::bmReadWrite, ds.Handler()); }),
            "Dataset not in edit or insert mode");
  const std::string memoBefore = Contents(PathOf("NOTES.FPT"));
  ds.Edit();
  { TSRBlobStream untouched(notes, TBlobStreamMode::bmReadWrite, ds.Handler()); }
  ds.Post();
  EXPECT_EQ(Contents(PathOf("NOTES.FPT")), memoBefore);

  // Overwriting in the middle keeps the tail; a write past the end leaves zero bytes between.
  ds.Edit();
  {
    TSRBlobStream rw(notes, TBlobStreamMode::bmReadWrite, ds.Handler());
    rw.Seek(2, TSeekOrigin::soBeginning);
    rw.Write("ab", 2);
    rw.Seek(3, TSeekOrigin::soEnd);
    rw.Write("Z", 1);
    EXPECT_EQ(rw.Size(), 14);
  }
  EXPECT_TRUE(notes->Modified());
  ds.Post();
  EXPECT_EQ(ReadAll(notes), std::string("01ab456789\0\0\0Z", 14));
}

TEST_F(BlobStreamTest, MemoTextIsTranslatedBothWays) {
  MakeMemoTable();
  TField* notes = ds.FieldByName("NOTES");
  ds.Append();
  {
    TSRBlobStream out(notes, TBlobStreamMode::bmWrite, ds.Handler());
    out.Write("caf\xE9", 4);  // CP1252 e acute
  }
  ds.Post();
  // Stored as CP437 (0x82), read back as CP1252.
  EXPECT_NE(Contents(PathOf("NOTES.FPT")).find("caf\x82"), std::string::npos);
  EXPECT_EQ(ReadAll(notes), "caf\xE9");
  ds.Close();
  ds.SetTranslateASCII(false);
  ds.Open();
  EXPECT_EQ(ReadAll(ds.FieldByName("NOTES")), "caf\x82");
  // A field without transliteration keeps its bytes as they are.
  ds.SetTranslateASCII(true);
  ds.FieldByName("NOTES")->SetTransliterate(false);
  EXPECT_EQ(ReadAll(ds.FieldByName("NOTES")), "caf\x82");
}

}  // namespace
