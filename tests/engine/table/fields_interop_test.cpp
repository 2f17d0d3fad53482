// Field values across tools: tables whose records and memos our engine wrote, read by Python's
// dbfread and dbf modules and by Perl's dbf_dump, and tables those tools wrote, read by ours.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/hx6_date.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "support/logbook_layout.h"
#include "table/table_images.h"
#include "support/tool_runner.h"

using namespace table_images;

namespace {

// Prints every record as "NAME=value" pairs joined by "|": texts without trailing blanks, numbers
// in Python's shortest form, dates as yyyy-mm-dd, logicals as T or F, nothing for empty values.
const char kNormalise[] = R"(
import datetime, decimal
def norm(v):
    if v is None:
        return ''
    if isinstance(v, bool):
        return 'T' if v else 'F'
    if isinstance(v, (int, float, decimal.Decimal)):
        return repr(float(v))
    if isinstance(v, datetime.datetime):
        return v.isoformat()
    if isinstance(v, datetime.date):
        return v.isoformat()
    if isinstance(v, bytes):
        v = v.decode('latin-1')
    # dbfread reads a dBase IV memo's stored length (which counts the 8-byte block header) after
    # that header, so it brings 8 bytes of the block's zero padding along.
    return str(v).rstrip().rstrip('\x00')
def show(names, values):
    print('|'.join('%s=%s' % (n.upper(), norm(v)) for n, v in zip(names, values)))
)";

const std::string kDbfread = std::string(kNormalise) + R"(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='latin-1')
for r in t:
    show(list(r.keys()), list(r.values()))
)";

const std::string kDbfModule = std::string(kNormalise) + R"(
import sys, dbf
t = dbf.Table(sys.argv[1], codepage='cp1252')
t.open(dbf.READ_ONLY)
for r in t:
    show(t.field_names, [r[n] for n in t.field_names])
t.close()
)";

class FieldsInteropTest : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    SetShortDateFormat("MM/dd/yy");
  }
  std::string Dbfread(const std::string& path) {
    auto r = tool_runner::RunPython(PathOf("read.py"), kDbfread, path);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }
  std::string DbfModule(const std::string& path) {
    auto r = tool_runner::RunPython(PathOf("read2.py"), kDbfModule, path);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }
  std::string DbfDump(const std::string& path) {
    auto r = tool_runner::Run("dbf_dump --fs '|' " + tool_runner::Quote(path) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }
};

struct Contact {
  const char* date;
  const char* time;
  const char* station;
  double band;
  const char* mode;
  const char* freq;
  std::string remark;
};

const std::vector<Contact> kContacts = {
    {"20240315", "1402", "W1AW", 20, "CW", "14.025", "first contact, 100 W"},
    {"20240316", "0830", "DL1ABC/P", 40, "SSB", "7.150", std::string(100, 'r')},
    {"19991231", "2359", "JA1XYZ", 10.5, "FT8", "28.074", ""},
};

TEST_F(FieldsInteropTest, LogbookContactsReadByEveryTool) {
  const std::string path = PathOf("QSOLOG.DBF");
  {
    HXO_DB4Build b(path);
    logbook_layout::AddLogbookFields(b);
    b.CreateFiles();
  }
  std::string expected;
  {
    HXO_dBaseFld t(path, true, true);
    for (const Contact& c : kContacts) {
      t.BlankRecord();
      t.PutText("DATE", c.date);
      t.PutText("TIME", c.time);
      t.PutText("STATION", c.station);
      t.PutFloat("BAND", c.band);
      t.PutText("MODE", c.mode);
      t.PutText("FREQ", c.freq);
      t.PutText("REMARK", c.remark);
      t.PutText("NUMBER", std::to_string(t.RecordCount() + 1));
      t.AppendRecord();
    }
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.RecordLength(), 397);
    EXPECT_EQ(t.HeaderLength(), 897);
  }
  int number = 1;
  for (const Contact& c : kContacts) {
    std::string line;
    for (const auto& f : logbook_layout::Fields()) {
      std::string value;
      const std::string name = f.name;
      if (name == "DATE")
        value = std::string(c.date).substr(0, 4) + "-" + std::string(c.date).substr(4, 2) + "-" +
                std::string(c.date).substr(6, 2);
      if (name == "TIME") value = c.time;
      if (name == "STATION") value = c.station;
      if (name == "BAND") value = c.band == 20 ? "20.0" : c.band == 40 ? "40.0" : "10.5";
      if (name == "MODE") value = c.mode;
      if (name == "FREQ") value = c.freq;
      if (name == "REMARK") value = c.remark;
      if (name == "NUMBER") value = std::to_string(number) + ".0";
      if (name == "TENTEN") value = "0.0";
      line += (line.empty() ? "" : "|") + name + "=" + value;
    }
    expected += line + "\n";
    ++number;
  }
  EXPECT_EQ(Dbfread(path), expected);
  EXPECT_EQ(DbfModule(path), expected);
  EXPECT_EQ(DbfDump(path),
            "20240315|1402|1|W1AW|20||||||CW|||||0||||first contact, 100 W|14.025||||||\n"
            "20240316|0830|2|DL1ABC/P|40||||||SSB|||||0||||" +
                std::string(100, 'r') +
                "|7.150||||||\n"
                "19991231|2359|3|JA1XYZ|10.5||||||FT8|||||0|||||28.074||||||\n");
}

TEST_F(FieldsInteropTest, MemosOfEveryDialectReadByEveryTool) {
  const std::string longText = [] {
    std::string s;
    for (int i = 0; i < 150; ++i) s += "line " + std::to_string(i) + " ";
    return s;
  }();
  for (int dialect = 0; dialect < 3; ++dialect) {
    SCOPED_TRACE(dialect);
    const std::string path = PathOf("MEMO" + std::to_string(dialect) + ".DBF");
    {
      std::unique_ptr<HXO_DBFBuild> b;
      if (dialect == 0) b = std::make_unique<HXO_DBFBuild>(path);
      if (dialect == 1) b = std::make_unique<HXO_DB4Build>(path);
      if (dialect == 2) b = std::make_unique<HXO_DBFoxBuild>(path);
      b->AddField("CALL", "C", 10, 0);
      b->AddField("NOTES", "M", 10, 0);
      b->AddField("QSL", "L", 1, 0);
      b->AddField("BAND", "N", 6, 2);
      b->CreateFiles();
    }
    {
      HXO_dBaseFld t(path, true, true);
      const std::vector<std::string> memos = {"short memo", longText, "third"};
      for (size_t i = 0; i < memos.size(); ++i) {
        t.BlankRecord();
        t.PutText("CALL", "CALL" + std::to_string(i + 1));
        t.PutText("NOTES", memos[i]);
        t.PutText("QSL", i % 2 == 0 ? "Y" : "N");
        t.PutFloat("BAND", 7.5 * static_cast<double>(i + 1));
        t.AppendRecord();
      }
      // Rewrites: the first memo grows past its block, the second shrinks.
      t.GotoRecord(1);
      t.PutMemo("NOTES", longText + " and more");
      t.UpdateRecord(1);
      t.GotoRecord(2);
      t.PutMemo("NOTES", "now short");
      t.UpdateRecord(2);
      t.GotoRecord(1);
      EXPECT_EQ(t.GetMemo("NOTES"), longText + " and more");
      EXPECT_EQ(t.GetDisplayText("NOTES"), longText + " and more");
      EXPECT_EQ(t.MemoLength(2), longText.size() + 9);
    }
    const std::string expected = "CALL=CALL1|NOTES=" + longText +
                                 " and more|QSL=T|BAND=7.5\n"
                                 "CALL=CALL2|NOTES=now short|QSL=F|BAND=15.0\n"
                                 "CALL=CALL3|NOTES=third|QSL=T|BAND=22.5\n";
    EXPECT_EQ(Dbfread(path), expected);
    if (dialect != 1) {  // the dbf module reads no dBase IV memos
      EXPECT_EQ(DbfModule(path), expected);
    }
    EXPECT_EQ(DbfDump(path), "CALL1|" + longText +
                                 " and more|1|7.5\n"
                                 "CALL2|now short|0|15\n"
                                 "CALL3|third|1|22.5\n");
  }
}

const char kWriteTables[] = R"(
import sys, os, dbf, datetime
os.chdir(sys.argv[1])
t = dbf.Table('d3.dbf', 'call C(10); notes M; band N(6,2); qsl L; day D', dbf_type='db3')
t.open(dbf.READ_WRITE)
t.append(('K1ABC', 'x' * 700, -3.5, False, datetime.date(1999, 12, 31)))
t.append(('W1AW', 'second', 14.25, True, None))
t.close()
t = dbf.Table('vfp.dbf', 'call C(10); amount Y; when T; count I; ratio B; band N(6,2); qsl L; day D; notes M', dbf_type='vfp')
t.open(dbf.READ_WRITE)
t.append(('W1AW', 1234.5678, datetime.datetime(1980, 1, 1, 12, 0, 0, 250000), -17, 0.1, 14.2, True, datetime.date(2024, 3, 15), 'kept'))
t.close()
)";

TEST_F(FieldsInteropTest, TablesWrittenByTheDbfModuleReadByOurs) {
  auto r = tool_runner::RunPython(PathOf("write.py"), kWriteTables, dir_);
  ASSERT_EQ(r.status, 0) << r.output;
  {
    HXO_dBaseFld t(PathOf("d3.dbf"), true, false);
    ASSERT_EQ(t.RecordCount(), 2);
    t.GotoRecord(1);
    EXPECT_EQ(t.GetString("CALL"), "K1ABC     ");
    EXPECT_EQ(t.GetMemo("NOTES"), std::string(700, 'x'));
    EXPECT_EQ(t.GetFloat("BAND"), -3.5);
    EXPECT_FALSE(t.GetLogical("QSL"));
    EXPECT_EQ(t.GetDate("DAY"), DBFDate().EncodeDate(1999, 12, 31));
    t.GotoRecord(2);
    EXPECT_EQ(t.GetMemo("NOTES"), "second");
    EXPECT_EQ(t.GetDisplayText("BAND"), "14.25");
    EXPECT_TRUE(t.GetLogical("QSL"));
    EXPECT_EQ(t.GetDate("DAY"), 0);
  }
  {
    HXO_dBaseFld t(PathOf("vfp.dbf"), true, true);
    ASSERT_EQ(t.Version(), 0x30);
    t.GotoRecord(1);
    EXPECT_DOUBLE_EQ(t.GetFloat("AMOUNT"), 1234.5678);
    const double when =
        (DBFDate().EncodeDate(1980, 1, 1) - kDateTimeJulianBase) * kMillisecondsPerDay + 43200250.0;
    EXPECT_EQ(t.GetFloat("WHEN"), when);
    EXPECT_EQ(t.GetFloat("COUNT"), -17.0);
    EXPECT_EQ(t.GetFloat("RATIO"), 0.1);
    EXPECT_EQ(t.GetFloat("BAND"), 14.2);
    EXPECT_TRUE(t.GetLogical("QSL"));
    // Our changes to the binary fields read back in dbfread.
    t.PutFloat("AMOUNT", -0.5);
    t.PutFloat("WHEN", when + kMillisecondsPerDay + 1000);
    t.PutFloat("COUNT", 99);
    t.PutFloat("RATIO", 2.25);
    t.UpdateRecord(1);
  }
  EXPECT_EQ(Dbfread(PathOf("vfp.dbf")),
            "CALL=W1AW|AMOUNT=-0.5|WHEN=1980-01-02T12:00:01.250000|COUNT=99.0|RATIO=2.25|"
            "BAND=14.2|QSL=T|DAY=2024-03-15|NOTES=kept\n");
}

}  // namespace
