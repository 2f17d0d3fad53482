// A logbook's seven tags in an MDX file, reached the way the logbook reaches any index file:
// built, opened and searched through the data set, kept current by appends and edits.
#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "handler/handler_test_util.h"
#include "support/logbook_layout.h"

using namespace handler_test;

namespace {

class MdxDataSetTest : public HandlerTest {
 protected:
  void TearDown() override {
    ds.Close();
    HandlerTest::TearDown();
  }

  std::vector<std::string> Column(const char* field) {
    std::vector<std::string> out;
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(field)->AsString());
    return out;
  }

  TSorrelDataSet ds;
};

}  // namespace

TEST_F(MdxDataSetTest, LogbookTagsBuiltOpenedSearchedAndKeptCurrent) {
  ds.SetDatabaseName(dir_);
  ds.SetTableName("LOG1.DBF");
  TCreateSorrelDataSet creator;
  creator.SetDBFTable(&ds);
  creator.SetDBFType(DBaseIV);
  std::vector<std::string> lines;
  for (const auto& f : logbook_layout::Fields())
    lines.push_back(std::string(f.name) + ";" + f.type + ";" + std::to_string(f.length) + ";" +
                    std::to_string(f.decimals));
  creator.SetCreateFields(lines);
  ASSERT_TRUE(creator.CreateTable());
  auto add = [&](const char* station, double band, const char* date) {
    ds.Append();
    ds.FieldByName("STATION")->SetAsString(station);
    ds.FieldByName("BAND")->SetAsFloat(band);
    ds.FieldByName("DATE")->SetAsString(date);
    ds.FieldByName("TIME")->SetAsString("1200");
    ds.Post();
  };
  add("W1AW", 20, "20240301");
  add("K1ABC", 40, "20240215");
  for (const auto& [name, expr] : std::vector<std::pair<const char*, const char*>>{
           {"DATE", "DTOS(DATE)+TIME"}, {"TIME", "(TIME)"}, {"STATION", "STATION"},
           {"STATE", "STATE"}, {"NUMBER", "NUMBER"}, {"QTH", "QTH"}, {"BAND", "BAND"}})
    BuildIndexTag(ds, "LOG1.mdx", name, expr, "", 1, 0);
  BuildIndexTag(ds, "LOG1.mdx", "DOWN", "STATION", "", 1, 1);
  // An index file named like its table is its production index.
  EXPECT_EQ(Contents(PathOf("LOG1.DBF"))[28] & 1, 1);
  OpenIndexList(ds, "LOG1.mdx", "STATION");
  ASSERT_EQ(SorrelTagCount(ds), 8);
  EXPECT_EQ(SorrelTagName(ds, 1), "BAND");  // the tag table lists tags by name
  add("DL1XYZ", 15, "20240110");
  add("W1AW", 80, "20240302");
  add("VE3ABC", 20, "20231231");
  EXPECT_EQ(Column("STATION"), (std::vector<std::string>{"DL1XYZ", "K1ABC", "VE3ABC", "W1AW", "W1AW"}));
  SelectIndexTag(ds, "BAND");
  EXPECT_EQ(Column("BAND"), (std::vector<std::string>{"15", "20", "20", "40", "80"}));
  SelectIndexTag(ds, "DATE");
  EXPECT_EQ(Column("STATION"), (std::vector<std::string>{"VE3ABC", "DL1XYZ", "K1ABC", "W1AW", "W1AW"}));
  SelectIndexTag(ds, "DOWN");
  EXPECT_EQ(Column("STATION"), (std::vector<std::string>{"W1AW", "W1AW", "VE3ABC", "K1ABC", "DL1XYZ"}));
  EXPECT_TRUE(SeekIndexKey(ds, "K1", false, true));
  EXPECT_EQ(ds.FieldByName("STATION")->AsString(), "K1ABC");
  // An edit moves the record's keys.
  SelectIndexTag(ds, "STATION");
  ASSERT_TRUE(SeekIndexKey(ds, "VE3ABC", true, false));
  ds.Edit();
  ds.FieldByName("STATION")->SetAsString("AA1A");
  ds.Post();
  EXPECT_EQ(Column("STATION"), (std::vector<std::string>{"AA1A", "DL1XYZ", "K1ABC", "W1AW", "W1AW"}));
  RebuildIndexes(ds);
  SelectIndexTag(ds, "BAND");
  EXPECT_EQ(Column("BAND"), (std::vector<std::string>{"15", "20", "20", "40", "80"}));
}
