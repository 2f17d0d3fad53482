// Table layer behaviours that other programs and stored files depend on byte for byte: header bytes
// kept through rewrites, field texts and messages, memo pointers of version 0x30 tables, memo
// block headers read from files other programs wrote.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/byteorder.h"
#include "base/hx6_date.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "table/hx6_memo.h"
#include "expr/hx6_sql.h"
#include "table/table_images.h"
#include "support/tool_runner.h"

using namespace table_images;

namespace {

class TableConformanceTest : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    SetShortDateFormat("MM/dd/yy");
    DBFDate().SetCentury(true);
  }

  static std::string Raw(HXO_dBaseFld& t) {
    return std::string(t.RecordBuffer(), static_cast<size_t>(t.RecordLength()));
  }
};

// Header bytes 12-14, 24-27 and 29-31 belong to other programs: every header write keeps them.
TEST_F(TableConformanceTest, HeaderWritesKeepTheReservedBytes) {
  const std::vector<Field> fields = {{"CALL", 'C', 6}};
  for (bool shared : {false, true}) {
    SCOPED_TRACE(shared);
    std::string image = TableImage(0x03, fields, {" W1AW  "});
    for (int i : {12, 13, 14, 24, 25, 26, 27, 29, 30, 31}) image[static_cast<size_t>(i)] = static_cast<char>(0xA0 + i);
    const std::string path = Put("keep.dbf", image);
    {
      HXO_dBaseFld t(path, shared, true);
      t.BlankRecord();
      t.PutString("CALL", "K2X");
      t.AppendRecord();
      t.GotoRecord(1);
      t.PutString("CALL", "N3Y");
      t.UpdateRecord(1);
      t.DeleteRecord();
    }
    const std::string after = Contents(path);
    for (int i : {12, 13, 14, 24, 25, 26, 27, 29, 30, 31})
      EXPECT_EQ(static_cast<uint8_t>(after[static_cast<size_t>(i)]), 0xA0 + i) << i;
  }
}

TEST_F(TableConformanceTest, FieldMessagesNameTheTableAndField) {
  const std::vector<Field> fields = {{"CALL", 'C', 6}, {"BAND", 'N', 6, 2}, {"QSODATE", 'D', 8},
                                     {"QSL", 'L', 1}};
  const std::string path = Put("LOG.DBF", TableImage(0x03, fields));
  HXO_dBaseFld t(path, false, true);
  t.BlankRecord();
  EXPECT_EQ(ErrorOf([&] { t.GetString("NOPE"); }), "There is no field name " + path + "->NOPE");
  std::memcpy(t.RecordBuffer() + 7, "  12a ", 6);
  EXPECT_EQ(ErrorOf([&] { t.GetFloat("BAND"); }), "Invalid numeric value in field LOG->BAND (  12a)");
  std::memcpy(t.RecordBuffer() + 13, "2024x315", 8);
  EXPECT_EQ(ErrorOf([&] { t.GetDate("QSODATE"); }), "Invalid date in field LOG->QSODATE (2024x315)");
  EXPECT_EQ(ErrorOf([&] { t.PutDate("QSODATE", -1); }), "Invalid Date value for field QSODATE");
  EXPECT_FALSE(t.PutDate("CALL", 2444240));
  EXPECT_EQ(ErrorOf([&] { t.PutLogical("CALL", true); }), "Invalid Logical value for field CALL");
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("QSODATE", 1); }), "Field QSODATE is the incorrect type");
  EXPECT_EQ(ErrorOf([&] { t.PutFloat("BAND", 1234.5); }), "numeric value too big in field BAND - 1234.50");
  EXPECT_EQ(ErrorOf([&] { t.PutText("QSL", "maybe"); }), "Invalid Logical value for field QSL");
  t.PutText("QSL", "2");
  EXPECT_EQ(t.GetString("QSL"), "T");
  t.PutText("QSL", "0");
  EXPECT_EQ(t.GetString("QSL"), "F");
  t.PutText("QSL", "j");
  EXPECT_TRUE(t.GetLogical("QSL"));
  t.PutString("QSL", "?");
  EXPECT_FALSE(t.GetLogical("QSL"));
}

// A version 0x30 table keeps its memo pointers as 4-byte integers; its memo file is the ".fpt".
TEST_F(TableConformanceTest, Version30MemoPointersAreBinary) {
  const std::vector<Field> fields = {{"CALL", 'C', 6}, {"NOTES", 'M', 4}, {"PIC", 'G', 4}};
  const std::string path = Put("FOX.DBF", TableImage(0x30, fields, {}, kDbfFlagMemo));
  Put("FOX.FPT", MemoFoxImage());
  {
    HXO_dBaseFld t(path, false, true);
    t.BlankRecord();
    t.PutText("NOTES", "worked on 20m");
    EXPECT_EQ(DecodeLE32(t.RecordBuffer() + 7), 8u);
    EXPECT_EQ(t.GetDisplayText("PIC"), "-general--");
    t.PutFloat("PIC", 3);
    EXPECT_EQ(t.GetDisplayText("PIC"), "-GENERAL--");
    t.AppendRecord();
  }
  HXO_dBaseFld t(path, false, false);
  t.GotoRecord(1);
  EXPECT_EQ(t.GetMemo("NOTES"), "worked on 20m");
  EXPECT_EQ(t.GetDisplayText("NOTES"), "worked on 20m");
}

// A memo field of a version 0x30 table without its memo flag has no memo file to write to: the
// message names the file such a table would use.
TEST_F(TableConformanceTest, MissingMemoFileIsNamedByTheTablesDialect) {
  const std::vector<Field> fields = {{"CALL", 'C', 6}, {"NOTES", 'M', 4}};
  const std::string path = Put("FOX.DBF", TableImage(0x30, fields));
  HXO_dBaseFld t(path, false, true);
  t.BlankRecord();
  EXPECT_EQ(t.GetMemo("NOTES"), "");
  EXPECT_EQ(ErrorOf([&] { t.PutText("NOTES", "lost?"); }),
            "File " + PathOf("FOX.fpt") + " could not be found");
}

TEST_F(TableConformanceTest, MemoDisplayTextsOfTextPointers) {
  const std::vector<Field> fields = {{"BLOB", 'B', 10}, {"PIC", 'G', 10}};
  HXO_dBaseFld t(Put("PLAIN.DBF", TableImage(0x03, fields)), false, true);
  t.BlankRecord();
  EXPECT_EQ(t.GetDisplayText("BLOB"), "--binary--");
  EXPECT_EQ(t.GetDisplayText("PIC"), "-general--");
  t.PutFloat("BLOB", 12);
  t.PutString("PIC", "0000000004");
  EXPECT_EQ(t.GetString("BLOB"), "        12");
  EXPECT_EQ(t.GetDisplayText("BLOB"), "--BINARY--");
  EXPECT_EQ(t.GetDisplayText("PIC"), "-GENERAL--");
}

// FoxPro block type 0 is read like type 1.
TEST_F(TableConformanceTest, FoxProBlockTypeZeroIsRead) {
  const std::vector<Field> fields = {{"NOTES", 'M', 10}};
  const std::string path = Put("FOX.DBF", TableImage(0xF5, fields, {"          8"}));
  std::string memo = MemoFoxImage();
  EncodeBE32(memo.data(), 9);
  std::string block(64, '\0');
  EncodeBE32(block.data() + 4, 5);
  std::memcpy(block.data() + 8, "hello", 5);
  Put("FOX.FPT", memo + block);
  HXO_dBaseFld t(path, false, false);
  t.GotoRecord(1);
  EXPECT_EQ(t.GetMemo("NOTES"), "hello");
}

// A dBase IV run given back heads the chain and clears header bytes 4-7.
TEST_F(TableConformanceTest, DBase4ReleaseClearsTheWordAfterTheChainHead) {
  const std::vector<Field> fields = {{"NOTES", 'M', 10}};
  const std::string path = Put("LOG.DBF", TableImage(0x8B, fields));
  std::string memo = Memo4Image("LOG");
  memo.resize(512, '\0');
  EncodeLE32(memo.data() + 4, 0xDEADBEEF);
  Put("LOG.DBT", memo);
  HXO_dBaseDBF t(path, false, true);
  HXobjMemo* m = t.MemoFile();
  EXPECT_EQ(m->WriteText("one", 0), 1u);
  EXPECT_EQ(m->WriteText("two", 0), 2u);
  m->Release(1);
  const std::string after = Contents(PathOf("LOG.DBT"));
  EXPECT_EQ(DecodeLE32(after.data()), 1u);
  EXPECT_EQ(DecodeLE32(after.data() + 4), 0u);
  EXPECT_EQ(DecodeLE32(after.data() + 512), 3u);
  EXPECT_EQ(DecodeLE32(after.data() + 516), 1u);
}

TEST_F(TableConformanceTest, PseudoFunctionsSeeTheTable) {
  const std::vector<Field> fields = {{"CALL", 'C', 6}, {"BAND", 'N', 6, 2}, {"QSODATE", 'D', 8}};
  HXO_dBaseFld t(Put("LOG.DBF", TableImage(0x03, fields, {"*W1AW   14.0020240315"})), false,
                 true);
  t.GotoRecord(1);
  auto eval = [&](const std::string& text, uint8_t& type) {
    ThxExpHandler h(t.Link(), false, text);
    ThxExpValue v;
    h.Evaluate(v);
    type = h.ResultType();
    return v;
  };
  uint8_t type = 0;
  EXPECT_EQ(eval("TYPE('band')", type).Text(), "N");
  EXPECT_EQ(type, etText);
  EXPECT_EQ(eval("FIELDNO('qsodate')", type).Number(), 3.0);
  EXPECT_TRUE(eval("DELETED()", type).Boolean());
  EXPECT_EQ(eval("RECNO()", type).Number(), 1.0);
  EXPECT_EQ(eval("LOG->BAND * 2", type).Number(), 28.0);
  EXPECT_EQ(eval("LOG.QSODATE", type).Number(), 2460385.0);
  EXPECT_EQ(type, etDate);
  EXPECT_NE(ErrorOf([&] { eval("TYPE('NOPE')", type); }), "");
}

// A renamed table's memo file takes the case of the new table's extension, so that other
// programs, which look for "NEW.FPT" beside "NEW.DBF", find it; a mixed-case extension keeps the
// memo's own. A memo file of the new name in another case is never taken over.
TEST_F(TableConformanceTest, RenamedMemoFileFollowsTheCaseOfTheTablesExtension) {
  struct Case {
    const char* from;
    const char* to;
    const char* memo;
  };
  for (const Case& c : {Case{"LOG.DBF", "NEW.DBF", "NEW.FPT"}, Case{"LOG.DBF", "new.dbf", "new.fpt"},
                        Case{"log.dbf", "NEW.DBF", "NEW.FPT"}, Case{"LOG.DBF", "New.Dbf", "New.FPT"},
                        Case{"log.dbf", "New.Dbf", "New.fpt"},
                        Case{"log.dbf", "LOG.DBF", "LOG.FPT"}}) {
    SCOPED_TRACE(std::string(c.from) + " to " + c.to);
    {
      HXO_DBFoxBuild b(PathOf(c.from));
      b.AddField("CALL", "C", 10, 0);
      b.AddField("NOTES", "M", 10, 0);
      b.CreateFiles();
    }
    {
      HXO_dBaseFld t(PathOf(c.from), false, true);
      t.BlankRecord();
      t.PutText("CALL", "W1AW");
      t.PutText("NOTES", "hello");
      t.AppendRecord();
      t.Rename(PathOf(c.to));
      EXPECT_EQ(t.MemoFile()->Name(), PathOf(c.memo));
    }
    EXPECT_TRUE(std::filesystem::exists(PathOf(c.memo)));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                            std::filesystem::directory_iterator()),
              2);
    if (std::string(c.to) != "New.Dbf") {  // the tools' own rule for mixed case is theirs
      const auto read = tool_runner::RunPython(PathOf("read.py"), R"(
import sys, dbf
t = dbf.Table(sys.argv[1])
t.open(dbf.READ_ONLY)
print(';'.join(r['notes'].strip() for r in t))
t.close()
)", PathOf(c.to));
      EXPECT_EQ(read.output, "hello\n");
    }
    std::filesystem::remove(PathOf(c.to));
    std::filesystem::remove(PathOf(c.memo));
    std::filesystem::remove(PathOf("read.py"));
  }
  {
    HXO_DBFBuild b(PathOf("LOG.DBF"));
    b.AddField("NOTES", "M", 10, 0);
    b.CreateFiles();
  }
  Put("NEW.dbt", "another table's memos");
  HXO_dBaseFld t(PathOf("LOG.DBF"), false, true);
  EXPECT_EQ(ErrorOf([&] { t.Rename(PathOf("NEW.DBF")); }),
            "Error on Rename of file " + PathOf("LOG.DBT"));
  EXPECT_TRUE(std::filesystem::exists(PathOf("LOG.DBF")));
  EXPECT_TRUE(std::filesystem::exists(PathOf("LOG.DBT")));
  EXPECT_EQ(Contents(PathOf("NEW.dbt")), "another table's memos");
}

}  // namespace
