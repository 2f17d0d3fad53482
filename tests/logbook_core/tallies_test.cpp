// The WAS and DXCC checks on a small logbook, against copies of the generated reference tables:
// reset, precedence of the marks, mode and band rules, the band filter that limits a tally, the
// call-sign filter that must not, prefixes that share a stem, and the refusal without a logbook.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_creator.h"
#include "dataset/Sorl6db_search.h"
#include "geo_test_support.h"
#include "logbook_fileset.h"
#include "tallies.h"

namespace {

using namespace quillmere;
namespace fs = std::filesystem;

struct Contact {
  const char* station;
  const char* state;
  const char* prefix;
  const char* mode;
  int band;
  const char* qsls;
  const char* qslr;
};

// In log order; each line says what it should do to the tallies.
const Contact kContacts[] = {
    {"W1AW", "CT", "K", "CW", 20, "", "Y"},     // CT CW confirmed
    {"K1ABC", "CT", "K", "CW", 40, "", ""},     // stays C, never downgraded
    {"N1XYZ", "MA", "KH6", "USB", 80, "Y", ""}, // MA SSB sent
    {"N1XYZ", "MA", "KH6", "LSB", 80, "", ""},  // stays O
    {"N1XYZ", "MA", "JA", "CW", 30, "Y", ""},   // MA CW sent ...
    {"N1XYZ", "MA", "ja", "CW", 30, "", "Y"},   // ... then confirmed
    {"W2ABC", "NY", "VP2E", "RTTY", 15, "", ""},// band only
    {"W2ABD", "NY", "VP2M", "PSK", 12, "", "Y"},// RTTY column confirmed
    {"W3AAA", "TX", "3D2/C", "CW", 6, "", ""},  // mode only: 6 m has no column
    {"W4AAA", "T", "ZZ", "CW", 20, "", ""},     // key "T " matches no state; ZZ no entity
    {"W5AAA", "", "", "CW", 20, "", ""},        // empty keys: skipped
    {"W6AAA", "WA", "XX9", "TTY", 10, "", ""},  // TTY has no mode column
    {"W1AW", "CT", "K", "USB", 20, "Y", ""},    // CT SSB sent
};

using Row = std::map<std::string, std::string>;

class TallyTest : public geo_test::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    program_ = dir_ + "/program";
    home_ = dir_ + "/home";
    fs::create_directories(program_);
    fs::create_directories(home_);
    for (const char* f : {"STATES.DBF", "STATES.CDX", "DXCC.DBF", "DXCC.CDX"})
      fs::copy_file(geo_test::BinDir() + "/" + f, program_ + "/" + f);
    logbook_.SetDatabaseName(dir_);
    logbook_.SetTableName("test.dbf");
    TCreateSorrelDataSet creator;
    creator.SetDBFTable(&logbook_);
    creator.SetDBFType(DBaseIV);
    creator.SetCreateFields(LogbookFieldLines());
    ASSERT_TRUE(creator.CreateTable());
    for (const Contact& c : kContacts) {
      logbook_.Append();
      logbook_.FieldByName("STATION")->SetAsString(c.station);
      logbook_.FieldByName("STATE")->SetAsString(c.state);
      logbook_.FieldByName("PREFIX")->SetAsString(c.prefix);
      logbook_.FieldByName("MODE")->SetAsString(c.mode);
      logbook_.FieldByName("BAND")->SetAsInteger(c.band);
      logbook_.FieldByName("QSLS")->SetAsString(c.qsls);
      logbook_.FieldByName("QSLR")->SetAsString(c.qslr);
      logbook_.Post();
    }
  }
  void TearDown() override {
    logbook_.Close();
    reference_.Close();
    TempFolder::TearDown();
  }

  TallyOutcome Run(TallyKind kind) {
    std::string error;
    const std::string folder = PrepareReferenceTable(kind, program_, home_, &error);
    EXPECT_EQ(folder, home_) << error;
    TallyOutcome out = RunTally(kind, logbook_, reference_, folder);
    // Every grid column shows a field of the table.
    if (reference_.Active()) {
      for (const TallyGridColumn& c : TallyGridColumns(kind)) {
        EXPECT_NE(reference_.FindField(c.field), nullptr) << c.field;
      }
    }
    return out;
  }

  // The tally cells of the row with `key`, as the grid shows them.
  Row Cells(const std::string& key) {
    Row row;
    if (!SeekIndexKey(reference_, key, true, false)) return row;
    for (const std::string& c : ModeColumns()) row[c] = reference_.FieldByName(c)->AsString();
    for (const std::string& c : BandColumns())
      if (reference_.FieldByName(c)->AsString() != "---") row[c] = reference_.FieldByName(c)->AsString();
    return row;
  }

  std::string program_, home_;
  TSorrelDataSet logbook_, reference_;
};

TEST_F(TallyTest, WorkedAllStates) {
  const TallyOutcome out = Run(TallyKind::WAS);
  EXPECT_FALSE(out.refused);
  EXPECT_EQ(out.walked, 13);
  EXPECT_EQ(out.tallied, 11);  // "T" and the empty state match no row
  EXPECT_EQ(Cells("CT"), (Row{{"CW", "C"}, {"SSB", "O"}, {"RTTY", "-"}, {"M20", "YES"}, {"M40", "YES"}}));
  EXPECT_EQ(Cells("MA"), (Row{{"CW", "C"}, {"SSB", "O"}, {"RTTY", "-"}, {"M80", "YES"}, {"M30", "YES"}}));
  EXPECT_EQ(Cells("NY"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "C"}, {"M15", "YES"}, {"M12", "YES"}}));
  EXPECT_EQ(Cells("TX"), (Row{{"CW", "W"}, {"SSB", "-"}, {"RTTY", "-"}}));
  EXPECT_EQ(Cells("WA"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "-"}, {"M10", "YES"}}));
  EXPECT_EQ(Cells("TN"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "-"}}));
  // The delivered table stays as it was; the tally lives in the writable copy.
  EXPECT_EQ(geo_test::Slurp(program_ + "/STATES.DBF"), geo_test::Slurp(geo_test::BinDir() + "/STATES.DBF"));
  EXPECT_TRUE(logbook_.Eof() || logbook_.RecNo() == 13);
}

TEST_F(TallyTest, DxccMatchesWholePrefixes) {
  const TallyOutcome out = Run(TallyKind::DX);
  EXPECT_EQ(out.tallied, 11);  // ZZ and the empty prefix match no row
  EXPECT_EQ(Cells("K"), (Row{{"CW", "C"}, {"SSB", "O"}, {"RTTY", "-"}, {"M20", "YES"}, {"M40", "YES"}}));
  EXPECT_EQ(Cells("KH6"), (Row{{"CW", "-"}, {"SSB", "O"}, {"RTTY", "-"}, {"M80", "YES"}}));
  EXPECT_EQ(Cells("JA"), (Row{{"CW", "C"}, {"SSB", "-"}, {"RTTY", "-"}, {"M30", "YES"}}));
  // Entities that share a stem keep their own contacts.
  EXPECT_EQ(Cells("VP2E"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "-"}, {"M15", "YES"}}));
  EXPECT_EQ(Cells("VP2M"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "C"}, {"M12", "YES"}}));
  EXPECT_EQ(Cells("VP2V"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "-"}}));
  EXPECT_EQ(Cells("3D2/C"), (Row{{"CW", "W"}, {"SSB", "-"}, {"RTTY", "-"}}));
  EXPECT_EQ(Cells("3D2OV"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "-"}}));
  EXPECT_EQ(Cells("XX9"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "-"}, {"M10", "YES"}}));
}

TEST_F(TallyTest, BandFilterLimitsTheTallyAndEachCheckStartsAfresh) {
  Run(TallyKind::DX);
  logbook_.SetFilter("BAND =20");
  logbook_.SetFiltered(true);
  const TallyOutcome out = Run(TallyKind::DX);
  EXPECT_EQ(out.walked, 4);
  EXPECT_EQ(Cells("K"), (Row{{"CW", "C"}, {"SSB", "O"}, {"RTTY", "-"}, {"M20", "YES"}}));
  EXPECT_EQ(Cells("JA"), (Row{{"CW", "-"}, {"SSB", "-"}, {"RTTY", "-"}}));
  EXPECT_TRUE(logbook_.Filtered());
}

TEST_F(TallyTest, CallSignFilterIsLiftedForTheTallyAndPutBack) {
  const std::string filter = "STATION = 'W1AW'";
  logbook_.SetFilter(filter);
  logbook_.SetFiltered(true);
  ASSERT_EQ(logbook_.RecordCount() > 0, true);
  const TallyOutcome out = Run(TallyKind::WAS);
  EXPECT_EQ(out.walked, 13);
  EXPECT_EQ(Cells("NY")["RTTY"], "C");
  EXPECT_TRUE(logbook_.Filtered());
  EXPECT_EQ(logbook_.Filter(), filter);
  EXPECT_EQ(logbook_.FieldByName("STATION")->AsString(), "W1AW");
  EXPECT_TRUE(IsCallSignFilter("STATION = 'W1A*'"));
  EXPECT_TRUE(IsCallSignFilter("station='X'"));
  EXPECT_FALSE(IsCallSignFilter("BAND =20"));
  EXPECT_FALSE(IsCallSignFilter("STATIONS = 'X'"));
}

TEST_F(TallyTest, RefusedWithoutALogbook) {
  for (const char* name : {"", "dummy.dbf", "DUMMY.DBF"}) {
    TSorrelDataSet none;
    none.SetTableName(name);
    const TallyOutcome out = RunTally(TallyKind::WAS, none, reference_, home_);
    EXPECT_TRUE(out.refused) << name;
    EXPECT_EQ(out.phrase, "please load a log book. ");
    EXPECT_EQ(out.message, "Please load a log book!");
    EXPECT_FALSE(reference_.Active());
    EXPECT_FALSE(fs::exists(home_ + "/STATES.DBF"));
  }
}

TEST_F(TallyTest, WritableCopiesAreMadeOnceAndRenewedWhenTheDeliveredTableIsNewer) {
  EXPECT_EQ(PrepareReferenceTable(TallyKind::DX, program_, program_), program_);
  EXPECT_EQ(PrepareReferenceTable(TallyKind::DX, program_, ""), program_);
  Run(TallyKind::DX);
  reference_.Close();
  EXPECT_FALSE(fs::exists(home_ + "/STATES.DBF"));  // only the checked table is copied
  const std::string tallied = geo_test::Slurp(home_ + "/DXCC.DBF");
  EXPECT_NE(tallied, geo_test::Slurp(program_ + "/DXCC.DBF"));
  EXPECT_EQ(PrepareReferenceTable(TallyKind::DX, program_, home_), home_);
  EXPECT_EQ(geo_test::Slurp(home_ + "/DXCC.DBF"), tallied);
  fs::last_write_time(program_ + "/DXCC.DBF", fs::file_time_type::clock::now() + std::chrono::hours(1));
  EXPECT_EQ(PrepareReferenceTable(TallyKind::DX, program_, home_), home_);
  EXPECT_EQ(geo_test::Slurp(home_ + "/DXCC.DBF"), geo_test::Slurp(program_ + "/DXCC.DBF"));
  EXPECT_FALSE(fs::exists(home_ + "/DXCC.DBF.tmp"));
  // Delivered tables missing: the program folder is named, so the open error says what is missing.
  const std::string empty = dir_ + "/empty";
  fs::create_directories(empty);
  EXPECT_EQ(PrepareReferenceTable(TallyKind::WAS, empty, home_), empty);
  EXPECT_ANY_THROW(RunTally(TallyKind::WAS, logbook_, reference_, empty));
}

TEST(TallyRulesTest, MarksModesAndBands) {
  struct Merge {
    const char* cell;
    const char* mark;
    const char* result;
  };
  for (const Merge& m : {Merge{"-", "W", "W"}, Merge{"-", "C", "C"}, Merge{"W", "O", "O"}, Merge{"W", "C", "C"},
                         Merge{"O", "C", "C"}, Merge{"C", "W", "C"}, Merge{"C", "O", "C"}, Merge{"O", "W", "O"}}) {
    EXPECT_EQ(MergeMark(m.cell, m.mark), m.result) << m.cell << " + " << m.mark;
  }
  EXPECT_EQ(QslMark("", ""), "W");
  EXPECT_EQ(QslMark("Y", ""), "O");
  EXPECT_EQ(QslMark("", "Y"), "C");
  EXPECT_EQ(QslMark("Y", "Y"), "C");
  EXPECT_EQ(QslMark(" ", ""), "W");
  for (const auto& [mode, column] : std::vector<std::pair<const char*, const char*>>{
           {"CW", "CW"}, {"USB", "SSB"}, {"LSB", "SSB"}, {"PSK", "RTTY"}, {"RTTY", ""}, {"TTY", ""},
           {"AM", ""}, {"FM", ""}, {"cw", ""}, {"", ""}}) {
    EXPECT_EQ(ModeColumn(mode), column) << mode;
  }
  for (const auto& [band, column] : std::vector<std::pair<double, const char*>>{
           {10, "M10"}, {12, "M12"}, {15, "M15"}, {17, "M17"}, {20, "M20"}, {30, "M30"}, {40, "M40"},
           {80, "M80"}, {160, "M160"}, {20.5, "M20"}, {6, ""}, {2, ""}, {70, ""}, {23, ""}, {0, ""}}) {
    EXPECT_EQ(BandColumn(band), column) << band;
  }
}

}  // namespace
