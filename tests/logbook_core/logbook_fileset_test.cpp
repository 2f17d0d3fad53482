// The logbook file set: a new logbook made and opened through the program's road, its fields and
// tags, the previous logbook's index left alone, tables that are no logbook refused untouched,
// and the name rules of the new-logbook window.
#include <gtest/gtest.h>

#include "dataset/Sorl6db_search.h"
#include "core_test_util.h"
#include "table/hx6_dbf_fld.h"
#include "new_logbook.h"

namespace {

using namespace quillmere;

class LogbookFilesetTest : public core_test::TempDirTest {};

TEST_F(LogbookFilesetTest, NewLogbookOpensWithItsTagsAndLeavesTheOldIndexAlone) {
  // The old logbook, open with its index.
  core_test::MakeLogbook(PathOf("old.dbf"), {{{"DATE", "20240101"}, {"TIME", "10:00"}, {"STATION", "OLD1"}}});
  TSorrelDataSet dbf1;
  OpenLogbook(dbf1, PathOf("old.dbf"));
  const std::string oldIndex = core_test::ReadFile(PathOf("OLD.cdx"));
  ASSERT_FALSE(oldIndex.empty());

  // The new-logbook window: the name is checked against the list, the table made, then opened.
  ASSERT_EQ(CheckNewLogName("field24", ListLogbookFiles(dir_)), NewLogNameVerdict::Create);
  const std::string path = CreateNewLogbook(dir_, "field24", {});
  ASSERT_EQ(path, PathOf("field24.dbf"));
  {
    HXO_dBaseFld table(path, true, false);
    EXPECT_EQ(table.Version(), 0x03);  // dBase IV without memo
    ASSERT_EQ(table.FieldCount(), kLogFieldCount);
    for (int i = 0; i < kLogFieldCount; ++i) {
      SCOPED_TRACE(LogbookFieldNames()[i]);
      TSorrelFieldLine line;
      ASSERT_TRUE(SorrelSplitFieldLine(LogbookFieldLines()[static_cast<size_t>(i)], line));
      EXPECT_EQ(table.FieldName(i + 1), line.name);
      EXPECT_EQ(table.FieldType(i + 1), line.type);
      EXPECT_EQ(table.FieldLength(i + 1), line.length);
      EXPECT_EQ(table.FieldDecimals(i + 1), line.decimals);
    }
  }
  OpenLogbook(dbf1, path);
  ASSERT_EQ(SorrelTagCount(dbf1), 7);
  // The compound index lists its tags by name.
  std::map<std::string, std::string> tags, expected;
  for (int n = 1; n <= 7; ++n) tags[SorrelTagName(dbf1, n)] = SorrelTagExpression(dbf1, n);
  for (const LogbookTag& tag : LogbookTags()) expected[tag.name] = tag.key;
  EXPECT_EQ(tags, expected);
  EXPECT_EQ(dbf1.IndexName(), "DATE");

  // Contacts logged out of order come back in date order, the newest last.
  const std::pair<const char*, const char*> logged[] = {
      {"20240302", "08:00"}, {"20240301", "23:59"}, {"20240302", "07:59"}, {"20231231", "12:00"}};
  for (const auto& [date, time] : logged) {
    dbf1.Append();
    dbf1.FieldByName("DATE")->SetAsDateTime(JulianToDateTime(DBFDate().CTOD(date)));
    dbf1.FieldByName("TIME")->SetAsString(time);
    dbf1.FieldByName("STATION")->SetAsString(std::string("W") + time);
    dbf1.Post();
  }
  std::vector<std::string> order;
  for (dbf1.First(); !dbf1.Eof(); dbf1.Next()) order.push_back(dbf1.FieldByName("TIME")->AsString());
  EXPECT_EQ(order, (std::vector<std::string>{"12:00", "23:59", "07:59", "08:00"}));
  // The sort box: another tag, the cursor on its last record.
  ASSERT_TRUE(OrderLogbook(dbf1, path, "STATION"));
  EXPECT_EQ(dbf1.FieldByName("STATION")->AsString(), "W23:59");
  dbf1.Close();
  EXPECT_FALSE(OrderLogbook(dbf1, PathOf("noindex.dbf"), "DATE"));  // "No CDX file."
  EXPECT_EQ(core_test::ReadFile(PathOf("OLD.cdx")), oldIndex);
  EXPECT_TRUE(std::filesystem::exists(PathOf("FIELD24.cdx")));
}

TEST_F(LogbookFilesetTest, TablesThatAreNoLogbookAreRefusedUntouched) {
  const std::vector<std::vector<std::string>> notLogbooks = {
      {"CALL;C;10;0", "NAME;C;20;0"},                    // nothing of a logbook
      {"DATE;C;8;0", "TIME;C;6;0", "STATION;C;15;0"},    // a text DATE, and most fields missing
  };
  std::vector<std::string> lines = LogbookFieldLines();
  lines[fBAND] = "BAND;C;20;0";  // every field, but BAND text: its key would sort wrongly
  int n = 0;
  for (const auto& layout : {notLogbooks[0], notLogbooks[1], lines}) {
    const std::string path = PathOf("t" + std::to_string(++n) + ".dbf");
    ASSERT_TRUE(CreateLogbookTable(path, layout, {}));
    const auto before = Entries();
    const std::string bytes = core_test::ReadFile(path);
    TSorrelDataSet dbf1;
    try {
      OpenLogbook(dbf1, path);
      ADD_FAILURE() << path << " opened";
    } catch (const ELogbookRefused& e) {
      EXPECT_EQ(e.GetReason(), ELogbookRefused::Reason::NotALogbook);
    }
    EXPECT_FALSE(dbf1.Active());
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(core_test::ReadFile(path), bytes);
  }
  // A logbook made by the import (numeric reports) is one.
  ASSERT_TRUE(CreateLogbookTable(PathOf("imported.dbf"), ImportFieldLines(), {}));
  TSorrelDataSet dbf1;
  EXPECT_NO_THROW(OpenLogbook(dbf1, PathOf("imported.dbf")));
}

TEST_F(LogbookFilesetTest, TheLogbookIsNamedAfterItsTableOpensAndBeforeItsTagsAreBuilt) {
  core_test::MakeLogbook(PathOf("early.dbf"), {{{"DATE", "20240101"}, {"TIME", "1000"}, {"STATION", "K1ABC"}}});
  TSorrelDataSet dbf1;
  int calls = 0;
  OpenLogbook(dbf1, PathOf("early.dbf"), {}, [&] {
    ++calls;
    EXPECT_TRUE(dbf1.Active());
    EXPECT_FALSE(std::filesystem::exists(PathOf("EARLY.cdx")));  // no tag built yet
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(SorrelTagCount(dbf1), 7);
  dbf1.Close();

  // A table that is no logbook is refused before it is named.
  ASSERT_TRUE(CreateLogbookTable(PathOf("other.dbf"), {"CALL;C;10;0"}, {}));
  calls = 0;
  EXPECT_THROW(OpenLogbook(dbf1, PathOf("other.dbf"), {}, [&] { ++calls; }), ELogbookRefused);
  EXPECT_EQ(calls, 0);
}

TEST(LogbookNames, RefusedAndNewNames) {
  for (const char* name : {"dummy.dbf", "DUMMY.DBF", "STATES.DBF", "states.dbf", "Dxcc.Dbf"})
    EXPECT_TRUE(IsRefusedLogbookName(name)) << name;
  for (const char* name : {"log1.dbf", "dummy.dbf.bak", "mystates.dbf", "dxcc2.dbf"})
    EXPECT_FALSE(IsRefusedLogbookName(name)) << name;
  TSorrelDataSet dbf1;
  try {
    OpenLogbook(dbf1, "/nowhere/STATES.DBF");
    ADD_FAILURE();
  } catch (const ELogbookRefused& e) {
    EXPECT_EQ(e.GetReason(), ELogbookRefused::Reason::RefusedName);
    EXPECT_STREQ(e.what(), "Cannot use this file. ");
  }
  EXPECT_EQ(LogbookIndexPath("/a/b/log1.dbf"), "/a/b/LOG1.cdx");
  EXPECT_EQ(LogbookIndexPath("/a/b/my.log.dbf"), "/a/b/MY.cdx");

  const std::vector<std::string> listed = {"LOG1.DBF", "contest.dbf", "STATES.DBF"};
  const std::pair<const char*, NewLogNameVerdict> cases[] = {
      {"", NewLogNameVerdict::Nothing},
      {"dummy", NewLogNameVerdict::Nothing},
      {"field24", NewLogNameVerdict::Create},
      {"log1", NewLogNameVerdict::Exists},           // whatever the case of the listed file
      {"contest", NewLogNameVerdict::Exists},
      {"log1.old", NewLogNameVerdict::Exists},       // would share LOG1.cdx
      {"contest2", NewLogNameVerdict::Create},
      {"2024log", NewLogNameVerdict::StartsWithDigit},
      {"_log", NewLogNameVerdict::StartsOtherwise},
      {".log", NewLogNameVerdict::StartsOtherwise},
      {"states", NewLogNameVerdict::Exists},         // a listed name is refused as existing first
      {"dxcc", NewLogNameVerdict::Reserved},
  };
  for (const auto& [name, verdict] : cases) EXPECT_EQ(CheckNewLogName(name, listed), verdict) << name;
  // The placeholder in the list: "dummy" is refused as an existing file, not passed over.
  EXPECT_EQ(CheckNewLogName("dummy", {"log1.dbf", "dummy.dbf"}), NewLogNameVerdict::Exists);
  EXPECT_EQ(CheckNewLogName("DUMMY", {"log1.dbf", "Dummy.DBF"}), NewLogNameVerdict::Exists);
  EXPECT_EQ(CheckNewLogName("dummy", {"dummy2.dbf"}), NewLogNameVerdict::Nothing);

  std::string typed;
  for (const char32_t key : {U'a', U'Z', U' ', U'9', U'_', U'.', U'-', U'\r', U'\b', U'é', U'q'})
    if (NewLogNameKeyPasses(key)) typed += key == U'\b' ? '<' : static_cast<char>(key);
  EXPECT_EQ(typed, "a9_.<q");
}

}  // namespace
