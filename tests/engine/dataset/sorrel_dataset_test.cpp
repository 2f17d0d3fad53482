// The dataset component over real tables: the cursor contract in tag order under a filter, editing
// and posting through the handler, record locks between two data sets on one file, appends that
// end the file correctly, bookmarks, record counts, field conversions of every type, messages.
#include <cmath>
#include <filesystem>
#include <fstream>

#include "dataset/Sorl6db.h"
#include "base/byteorder.h"
#include "handler/handler_test_util.h"
#include "base/hx6_date.h"
#include "support/tool_runner.h"

using namespace handler_test;

namespace {

class IdLink : public TDataLink {
 public:
  explicit IdLink(int buffers) { SetBufferCount(buffers); }
  std::vector<std::string> Stations() {
    std::vector<std::string> out;
    for (int i = 0; i < RecordCount(); ++i) {
      TRowScope row(*this, i);
      out.push_back(DataSet()->FieldByName("STATION")->AsString());
    }
    return out;
  }
};

class SorrelDataSetTest : public HandlerTest {
 protected:
  // Twelve contacts in record order; key order by station differs; bands 20 and 40 alternate.
  void MakeTwelve() {
    MakeLog();
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    const char* stations[] = {"K1", "W5", "A2", "N9", "B4", "W6", "C3", "Z0", "M7", "D6", "E8", "F9"};
    for (int i = 0; i < 12; ++i) Append(h, {stations[i], i % 2 ? 40.0 : 20.0, "QTH" + std::to_string(i + 1)});
    h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  }

  void Name(TSorrelDataSet& ds, const std::string& table = "LOG.DBF") {
    ds.SetDatabaseName(dir_);
    ds.SetTableName(table);
  }
  void OpenOn(TSorrelDataSet& ds, const std::string& table = "LOG.DBF") {
    Name(ds, table);
    ds.Open();
  }

  std::string Station(TDataSet& ds) { return ds.FieldByName("STATION")->AsString(); }

  TSorrelDataSet ds;
};

TEST_F(SorrelDataSetTest, CursorContractInTagOrderUnderAFilter) {
  MakeTwelve();
  Name(ds);  // a new table name clears the index-file list, so it comes first
  ds.SetIndexFiles({"LOG.CDX"});
  ds.SetIndexName("STATION");
  ds.SetFilter("BAND = 20");
  ds.SetFiltered(true);
  TDataSource source(&ds);
  IdLink link(5);
  link.SetDataSource(&source);
  ds.Open();
  // Band 20 in station order: A2 B4 C3 E8 K1 M7 (record numbers 3 5 7 11 1 9).
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"A2", "B4", "C3", "E8", "K1"}));
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Prior();
  EXPECT_EQ(Station(ds), "A2");
  EXPECT_EQ(ds.MoveBy(5), 5);
  EXPECT_EQ(Station(ds), "M7");
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"B4", "C3", "E8", "K1", "M7"}));
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Station(ds), "M7");
  ds.First();
  ds.Last();
  EXPECT_EQ(Station(ds), "M7");
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"B4", "C3", "E8", "K1", "M7"}));
  EXPECT_EQ(ds.MoveBy(-100), -5);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Station(ds), "A2");
  EXPECT_FALSE(ds.IsSequenced());

  // Insert in the middle: the record goes to the end of the table and shows in key order.
  ds.MoveBy(2);
  ASSERT_EQ(Station(ds), "C3");
  ds.Insert();
  ds.FieldByName("STATION")->SetAsString("C9");
  ds.FieldByName("BAND")->SetAsFloat(20);
  ds.Post();
  EXPECT_EQ(Station(ds), "C9");
  EXPECT_EQ(ds.RecNo(), 13);
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"B4", "C3", "C9", "E8", "K1"}));
  ds.Next();
  EXPECT_EQ(Station(ds), "E8");

  // Deleting the last visible record leaves the cursor on the one before.
  ds.Last();
  ds.Delete();
  EXPECT_EQ(Station(ds), "K1");
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 13);  // the header count: deleted and filtered-out included
  ds.SetExactCount(true);
  EXPECT_EQ(ds.RecordCount(), 6);
  EXPECT_EQ(Station(ds), "K1");
}

TEST_F(SorrelDataSetTest, EditPostsInPlaceAndCancelRestores) {
  MakeTwelve();
  OpenOn(ds);
  ds.Next();
  ds.Edit();
  EXPECT_TRUE(ds.RecordLocked());
  ds.FieldByName("QTH")->SetAsString("Boston");
  ds.Post();
  EXPECT_FALSE(ds.RecordLocked());
  EXPECT_EQ(ds.FieldByName("QTH")->AsString(), "Boston");
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Edit();
  ds.FieldByName("QTH")->SetAsString("Nowhere");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("QTH")->AsString(), "Boston");
  ds.Close();
  HXO_dBHandler h(PathOf("LOG.DBF"), true, false);
  h.GoTo(2);
  EXPECT_EQ(h.GetString("QTH"), "Boston      ");
}

TEST_F(SorrelDataSetTest, TwoDataSetsOnOneFileMeetTheRecordLock) {
  MakeTwelve();
  TSorrelDataSet other;
  OpenOn(ds);
  OpenOn(other);
  ds.Edit();
  try {
    other.Edit();
    FAIL() << "the second edit was not refused";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Record is locked by another user");
  }
  EXPECT_EQ(other.State(), TDataSetState::dsBrowse);
  EXPECT_FALSE(other.RecordLocked());
  ds.FieldByName("QTH")->SetAsString("Posted first");
  ds.Post();
  // The second edit takes the lock and then reads the record: it starts from the posted value.
  EXPECT_EQ(other.FieldByName("QTH")->AsString(), "QTH1");
  other.Edit();
  EXPECT_EQ(other.FieldByName("QTH")->AsString(), "Posted first");
  other.Cancel();
  other.Refresh();
  EXPECT_EQ(other.FieldByName("QTH")->AsString(), "Posted first");
}

TEST_F(SorrelDataSetTest, AppendsEndTheFileInOneEndByteAndReadBack) {
  MakeLog("LOG.DBF", false);
  // A calculated field sits right after the record in every buffer.
  ds.AddField(std::make_unique<TField>(&ds, "STATION", TFieldType::ftString, 10));
  ds.AddField(std::make_unique<TField>(&ds, "BAND", TFieldType::ftFloat));
  ds.AddField(std::make_unique<TField>(&ds, "QTH", TFieldType::ftString, 12));
  ds.AddField(std::make_unique<TField>(&ds, "QSODATE", TFieldType::ftDate));
  TField* tag = ds.AddField(std::make_unique<TField>(&ds, "TAG", TFieldType::ftString, 4, TFieldKind::fkCalculated));
  ds.OnCalcFields = [](TDataSet& d) { d.FieldByName("TAG")->SetAsString("calc"); };
  OpenOn(ds);
  for (int i = 0; i < 3; ++i) {
    ds.Append();
    ds.FieldByName("STATION")->SetAsString("W" + std::to_string(i));
    ds.FieldByName("BAND")->SetAsFloat(14.5 + i);
    ds.FieldByName("QSODATE")->SetAsDateTime(JulianToDateTime(DBFDate().EncodeDate(2024, 2, 29)));
    ds.Post();
    EXPECT_EQ(tag->AsString(), "calc");
  }
  ds.AppendRecord({TVarValue("K9"), TVarValue(7.0)});
  EXPECT_EQ(ds.RecNo(), 4);
  ds.Close();

  const std::string bytes = Contents(PathOf("LOG.DBF"));
  const int header = DecodeLE16(reinterpret_cast<const uint8_t*>(bytes.data()) + 8);
  const int length = DecodeLE16(reinterpret_cast<const uint8_t*>(bytes.data()) + 10);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(header + 4 * length + 1));
  EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 0x1A);
  EXPECT_EQ(bytes.find('\x1A', static_cast<size_t>(header)), bytes.size() - 1);

  if (tool_runner::Run("/usr/bin/python3 -c 'import dbfread' 2>/dev/null").status != 0)
    GTEST_SKIP() << "python3-dbfread is not installed";
  const auto out = tool_runner::RunPython(
      PathOf("read.py"),
      "import sys, dbfread\n"
      "for r in dbfread.DBF(sys.argv[1]):\n"
      "    print(r['STATION'], r['BAND'], r['QSODATE'])\n",
      PathOf("LOG.DBF"));
  EXPECT_EQ(out.output,
            "W0 14.5 2024-02-29\nW1 15.5 2024-02-29\nW2 16.5 2024-02-29\nK9 7.0 None\n");
}

TEST_F(SorrelDataSetTest, HandlerWritesNothingPastTheRecordOfADataSetBuffer) {
  MakeLog("LOG.DBF", false);
  OpenOn(ds);
  DBFObject& h = *ds.Handler();
  const size_t length = static_cast<size_t>(h.RecordLength());
  std::vector<char> buffer(length + 8, '#');
  char* const own = h.SetRecordBuffer(buffer.data());
  h.BlankRecord();
  buffer[length] = '#';
  h.PutText("STATION", "X1");
  h.AppendRecord();
  EXPECT_EQ(buffer[length], '#');
  EXPECT_EQ(h.RecordBuffer(), buffer.data());
  h.PutText("STATION", "X2");
  h.UpdateRecord(1);
  EXPECT_EQ(buffer[length], '#');
  h.SetRecordBuffer(own);
  ds.Close();
  const std::string bytes = Contents(PathOf("LOG.DBF"));
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_EQ(bytes.substr(bytes.size() - 1 - length, 3), " X2");
}

TEST_F(SorrelDataSetTest, BookmarksCompareByRecordNumberAndCheckTheRange) {
  MakeTwelve();
  OpenOn(ds);
  ds.MoveBy(8);
  const TBookmark nine = ds.Bookmark();
  ds.Next();
  const TBookmark ten = ds.Bookmark();
  ASSERT_EQ(nine.size(), 11u);
  EXPECT_EQ(nine[0], 1);
  EXPECT_EQ(nine.substr(1, 1), "9");
  EXPECT_EQ(ds.CompareBookmarks(nine, ten), -1);  // as texts "9" would follow "10"
  EXPECT_EQ(ds.CompareBookmarks(ten, nine), 1);
  EXPECT_EQ(ds.CompareBookmarks(ten, ten), 0);
  EXPECT_TRUE(ds.BookmarkValid(ten));
  TBookmark zero(11, '\0');
  zero[0] = 1;
  zero[1] = '0';
  EXPECT_FALSE(ds.BookmarkValid(zero));
  TBookmark beyond(11, '\0');
  beyond[0] = 2;
  beyond[1] = '1';
  beyond[2] = '3';
  EXPECT_FALSE(ds.BookmarkValid(beyond));
  ds.First();
  ds.GotoBookmark(nine);
  EXPECT_EQ(ds.RecNo(), 9);
  EXPECT_EQ(Station(ds), "M7");
}

TEST_F(SorrelDataSetTest, RecordCountExactOrFromTheHeader) {
  MakeTwelve();
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    h.GoTo(3);
    h.DeleteRecord();
  }
  ds.SetFilter("BAND = 40");
  ds.SetFiltered(true);
  OpenOn(ds);
  ds.Next();
  ds.Next();
  EXPECT_EQ(ds.RecordCount(), 12);
  ds.SetExactCount(true);
  EXPECT_EQ(ds.RecordCount(), 6);
  EXPECT_EQ(ds.RecNo(), 6);
  ds.Next();
  EXPECT_EQ(ds.RecNo(), 8);
  ds.SetUseDeleted(true);
  ds.SetFilter("");
  EXPECT_EQ(ds.RecordCount(), 12);
}

TEST_F(SorrelDataSetTest, FilterEventAndUndelete) {
  MakeTwelve();
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) {
    accept = d.FieldByName("STATION")->AsString() < "D";
  };
  ds.SetFiltered(true);
  TDataSource source(&ds);
  IdLink link(10);
  link.SetDataSource(&source);
  OpenOn(ds);
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"A2", "B4", "C3"}));
  ds.Next();
  ds.Delete();
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"A2", "C3"}));
  ds.SetUseDeleted(true);
  ds.First();
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"A2", "B4", "C3"}));
  ds.Next();
  ds.UndeleteRecord();
  ds.SetUseDeleted(false);
  ds.First();
  EXPECT_EQ(link.Stations(), (std::vector<std::string>{"A2", "B4", "C3"}));
}

TEST_F(SorrelDataSetTest, MessagesOfMisuse) {
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.Open(); }), "Table name missing");
  EXPECT_FALSE(ds.Active());
  ds.SetDatabaseName(dir_);
  ds.SetTableName("missing");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.Open(); }),
            "Cannot find file " + PathOf("missing.DBF"));
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.RecordCount(); }),
            "missing: Cannot perform this operation on a closed dataset");
  MakeTwelve();
  ds.SetTableName("log.dbf");  // the file is LOG.DBF: names match whatever their case
  ds.Open();
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.SetTableName("x"); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.FieldByName("QTH")->SetAsString("x"); }),
            "Dataset not in edit or insert mode");
  ds.FieldByName("QTH")->SetReadOnly(true);
  ds.Edit();
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.FieldByName("QTH")->SetAsString("x"); }),
            "Field 'QTH' cannot be modified");
  ds.Cancel();
  ds.SetReadOnly(true);
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { ds.Edit(); }), "Cannot modify a read-only dataset");
  ds.SetReadOnly(false);
  EXPECT_FALSE(ds.ReadOnly());
  ds.Close();
  ds.SetReadOnly(true);
  ds.Open();
  ds.SetReadOnly(false);  // opened for reading only: stays read-only
  EXPECT_TRUE(ds.ReadOnly());
  EXPECT_EQ(ds.About(), "Sorrel xBase engine 6.0");
}

TEST_F(SorrelDataSetTest, FieldDefinitionsOfAClosedTableAndExclusiveOpens) {
  MakeTwelve();
  Name(ds);
  ds.InitFieldDefs();
  EXPECT_FALSE(ds.Active());
  ASSERT_EQ(ds.FieldDefs().Count(), 5);
  EXPECT_EQ(ds.FieldDefs().Items(1).Name, "BAND");
  EXPECT_EQ(ds.FieldDefs().Items(1).DataType, TFieldType::ftFloat);
  EXPECT_EQ(ds.FieldDefs().Items(4).DataType, TFieldType::ftMemo);

  ds.SetExclusive(true);
  ds.Open();
  TSorrelDataSet other;
  Name(other);
  EXPECT_THROW(other.Open(), ESorrelException);
  EXPECT_FALSE(other.Active());
  ds.Close();
  other.Open();
  EXPECT_TRUE(other.Active());
}

TEST_F(SorrelDataSetTest, AFailedOpenLeavesTheDataSetClosedAndTheFileFree) {
  MakeTwelve();
  Name(ds);
  ds.SetFilter("STATION");
  ds.SetFiltered(true);
  ds.SetExclusive(true);
  EXPECT_EQ(ErrorOf([&] { ds.Open(); }), "Filter expression must return boolean result");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.Handler(), nullptr);
  // The exclusive open was undone: another data set may open the file.
  TSorrelDataSet other;
  OpenOn(other);
  EXPECT_EQ(other.RecordCount(), 12);
  other.Close();
  ds.SetFilter("BAND = 40");
  ds.Open();
  EXPECT_EQ(Station(ds), "W5");
}

TEST_F(SorrelDataSetTest, StatusReportsReachOnStatus) {
  MakeTwelve();
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    h.GoTo(2);
    h.DeleteRecord();
  }
  std::vector<std::tuple<int, int, int>> reports;
  ds.OnStatus = [&reports](int a, int b, int c) { reports.emplace_back(a, b, c); };
  ds.SetExclusive(true);
  OpenOn(ds);
  ds.Handler()->Pack();
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.front(), std::make_tuple(-1, 11, 12));
  EXPECT_EQ(reports.back(), std::make_tuple(0, 0, 0));
}

// ---- field conversions ----

class SorrelFieldTest : public table_images::TempFolder {
 protected:
  void Make(const std::vector<table_images::Field>& fields, const std::vector<std::string>& records,
            uint8_t version = 0x03) {
    Put("T.DBF", table_images::TableImage(version, fields, records));
    ds.SetDatabaseName(dir_);
    ds.SetTableName("T.DBF");
  }
  TField* F(const char* name) { return ds.FieldByName(name); }
  TSorrelDataSet ds;
};

TEST_F(SorrelFieldTest, EveryTypeMapsAndConverts) {
  // C10 D N4 N9 N12.2 L F8.3 M
  Make({{"NAME", 'C', 10}, {"DAY", 'D', 8}, {"SMALL", 'N', 4}, {"MID", 'N', 9}, {"AMOUNT", 'N', 12, 2},
        {"OK", 'L', 1}, {"RATIO", 'F', 8, 3}, {"ODD", 'X', 3}},
       {std::string(" ") + "Ann       " + "20240229" + "  12" + "123456789" + "     1234.50" + "T" +
        "   0.125" + "abc"});
  ds.Open();
  EXPECT_EQ(ds.FieldDefs().Count(), 7);  // the unknown type letter gets no definition
  EXPECT_EQ(ds.FindField("ODD"), nullptr);
  EXPECT_EQ(F("NAME")->DataType(), TFieldType::ftString);
  EXPECT_EQ(F("NAME")->Size(), 10);
  EXPECT_EQ(F("DAY")->DataType(), TFieldType::ftDate);
  EXPECT_EQ(F("SMALL")->DataType(), TFieldType::ftSmallint);
  EXPECT_EQ(F("MID")->DataType(), TFieldType::ftInteger);
  EXPECT_EQ(F("AMOUNT")->DataType(), TFieldType::ftFloat);
  EXPECT_EQ(F("OK")->DataType(), TFieldType::ftBoolean);
  EXPECT_EQ(F("RATIO")->DataType(), TFieldType::ftFloat);

  EXPECT_EQ(F("NAME")->AsString(), "Ann");
  EXPECT_EQ(DBFDate().DTOS(DateTimeToJulian(F("DAY")->AsDateTime())), "20240229");
  EXPECT_EQ(F("SMALL")->AsInteger(), 12);
  EXPECT_EQ(F("MID")->AsInteger(), 123456789);
  EXPECT_DOUBLE_EQ(F("AMOUNT")->AsFloat(), 1234.5);
  EXPECT_TRUE(F("OK")->AsBoolean());
  EXPECT_EQ(F("OK")->AsString(), "True");
  EXPECT_DOUBLE_EQ(F("RATIO")->AsFloat(), 0.125);

  ds.Edit();
  F("NAME")->SetAsString("Bo");
  F("DAY")->SetAsDateTime(JulianToDateTime(DBFDate().EncodeDate(1999, 12, 31)));
  F("SMALL")->SetAsInteger(-999);
  EXPECT_THROW(F("SMALL")->SetAsInteger(40000), EDatabaseError);
  F("MID")->Clear();
  F("AMOUNT")->SetAsString("7.25");
  F("OK")->SetAsBoolean(false);
  ds.Post();
  EXPECT_EQ(std::string(ds.ActiveBuffer(), 45), std::string(" ") + "Bo        " + "19991231" + "-999" +
                                                    std::string(9, ' ') + "        7.25" + "F");
  ds.Edit();
  F("DAY")->Clear();
  ds.Post();
  EXPECT_TRUE(F("DAY")->IsNull());
  EXPECT_EQ(std::string(ds.ActiveBuffer() + 11, 8), "        ");
}

TEST_F(SorrelFieldTest, DatesThatAreNoDatesReadAsBlank) {
  Make({{"DAY", 'D', 8}}, {"         ", " 00000000", " 2024AB01", " 20230230", " 2023-1-1", " 20230101"});
  ds.Open();
  std::vector<bool> nulls;
  for (; !ds.Eof(); ds.Next()) nulls.push_back(ds.FieldByName("DAY")->IsNull());
  EXPECT_EQ(nulls, (std::vector<bool>{true, true, true, true, true, false}));
}

TEST_F(SorrelFieldTest, WideWholeNumbersFollowLargeIntegerAs) {
  const std::vector<table_images::Field> fields = {{"BIG", 'N', 10}, {"HUGE", 'N', 19}};
  const std::vector<std::string> records = {std::string(" ") + "3000000000" + "1234567890123456789",
                                            std::string(" ") + "        42" + std::string(17, ' ') + "-7"};

  Make(fields, records);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("BIG")->DataType(), TFieldType::ftInteger);
  // 3000000000 does not fit 32 bits: refused, not wrapped to a negative number.
  EXPECT_THROW(ds.FieldByName("BIG")->AsInteger(), EDatabaseError);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("BIG")->AsInteger(), 42);
  ds.Close();

  ds.SetLargeIntegerAs(ThxIntFields::asLargeInt);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("BIG")->DataType(), TFieldType::ftLargeint);
  EXPECT_EQ(ds.FieldByName("BIG")->AsLargeInt(), 3000000000LL);
  EXPECT_EQ(ds.FieldByName("HUGE")->AsLargeInt(), 1234567890123456789LL);  // all 19 digits
  EXPECT_THROW(ds.FieldByName("BIG")->AsInteger(), EDatabaseError);
  ds.Edit();
  ds.FieldByName("HUGE")->SetAsLargeInt(-987654321987654321LL);
  ds.FieldByName("BIG")->SetAsLargeInt(9999999999LL);
  EXPECT_THROW(ds.FieldByName("BIG")->SetAsLargeInt(99999999999LL), ESorrelError);
  ds.Post();
  EXPECT_EQ(ds.FieldByName("HUGE")->AsLargeInt(), -987654321987654321LL);
  EXPECT_EQ(std::string(ds.ActiveBuffer(), 30), " 9999999999-987654321987654321");
  ds.Close();

  ds.SetLargeIntegerAs(ThxIntFields::asFloat);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("BIG")->DataType(), TFieldType::ftFloat);
  EXPECT_DOUBLE_EQ(ds.FieldByName("BIG")->AsFloat(), 9999999999.0);
}

TEST_F(SorrelFieldTest, VisualFoxProTypesMapAndRead) {
  // 0x30: I (4-byte integer), T (day + milliseconds), Y (amount x 10000), B (double) -> blob.
  std::string record(1 + 4 + 8 + 8 + 8, '\0');
  record[0] = ' ';
  EncodeLE32(reinterpret_cast<uint8_t*>(&record[1]), static_cast<uint32_t>(-5));
  EncodeLE32(reinterpret_cast<uint8_t*>(&record[5]), static_cast<uint32_t>(DBFDate().EncodeDate(2020, 1, 2)));
  EncodeLE32(reinterpret_cast<uint8_t*>(&record[9]), 12 * 3600 * 1000);
  EncodeLE64(reinterpret_cast<uint8_t*>(&record[13]), 123450000);
  Make({{"COUNT", 'I', 4}, {"STAMP", 'T', 8}, {"PRICE", 'Y', 8}, {"RAW", 'B', 8}}, {record}, 0x30);
  ds.Open();
  EXPECT_EQ(ds.FieldByName("COUNT")->DataType(), TFieldType::ftInteger);
  EXPECT_EQ(ds.FieldByName("STAMP")->DataType(), TFieldType::ftDateTime);
  EXPECT_EQ(ds.FieldByName("PRICE")->DataType(), TFieldType::ftCurrency);
  EXPECT_EQ(ds.FieldByName("RAW")->DataType(), TFieldType::ftBlob);
  EXPECT_EQ(ds.FieldByName("COUNT")->AsInteger(), -5);
  const TDateTime stamp = ds.FieldByName("STAMP")->AsDateTime();
  EXPECT_EQ(DateTimeToJulian(stamp), DBFDate().EncodeDate(2020, 1, 2));
  EXPECT_DOUBLE_EQ(stamp - std::trunc(stamp), 0.5);
  EXPECT_DOUBLE_EQ(ds.FieldByName("PRICE")->AsFloat(), 12345.0);
  ds.Edit();
  ds.FieldByName("COUNT")->SetAsInteger(77);
  ds.Post();
  EXPECT_EQ(ds.FieldByName("COUNT")->AsInteger(), 77);
}

}  // namespace
