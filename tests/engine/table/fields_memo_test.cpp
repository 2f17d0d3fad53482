// Memo, binary and general fields: texts through each dialect's memo file, tables without one,
// failed writes, and the order in which a dBase IV edit gives its replaced blocks back.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/byteorder.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "base/hx6_disk.h"
#include "table/hx6_memo.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

class FieldsMemoTest : public TempFolder {
 protected:
  std::string MakeTable(int dialect, const std::string& name = "NOTES.DBF") {
    const std::string path = PathOf(name);
    std::unique_ptr<HXO_DBFBuild> b;
    if (dialect == 0) b = std::make_unique<HXO_DBFBuild>(path);
    if (dialect == 1) b = std::make_unique<HXO_DB4Build>(path);
    if (dialect == 2) b = std::make_unique<HXO_DBFoxBuild>(path);
    b->AddField("CALL", "C", 10, 0);
    b->AddField("NOTES", "M", 10, 0);
    b->CreateFiles();
    return path;
  }
  static void Append(HXO_dBaseFld& t, const std::string& call, const std::string& notes) {
    t.BlankRecord();
    t.PutText("CALL", call);
    t.PutText("NOTES", notes);
    t.AppendRecord();
  }
  // The dBase IV memo header's first free block.
  uint32_t FirstFree() const { return DecodeLE32(Contents(PathOf("NOTES.DBT")).data()); }
};

TEST_F(FieldsMemoTest, TextsRoundTripInEveryDialect) {
  const std::string big(3000, 'q');
  for (int dialect = 0; dialect < 3; ++dialect) {
    SCOPED_TRACE(dialect);
    const std::string path =
        MakeTable(dialect, std::string("T").append(std::to_string(dialect)).append(".DBF"));
    {
      HXO_dBaseFld t(path, true, true);
      Append(t, "A", "one");
      Append(t, "B", big);
      t.BlankRecord();
      t.PutText("CALL", "C");
      EXPECT_EQ(t.MemoBlock("NOTES"), 0u);
      EXPECT_EQ(t.GetMemo("NOTES"), "");
      EXPECT_EQ(t.GetDisplayText("NOTES"), "");
      t.AppendRecord();
      t.GotoRecord(1);
      const uint32_t block = t.MemoBlock("NOTES");
      EXPECT_GT(block, 0u);
      EXPECT_EQ(t.GetString("NOTES"), std::string(9, ' ') + std::to_string(block));
      EXPECT_TRUE(t.FieldChanged(2) == false);
    }
    HXO_dBaseFld t(path, false, false);
    t.GotoRecord(1);
    EXPECT_EQ(t.GetMemo("NOTES"), "one");
    EXPECT_EQ(t.GetDisplayText("NOTES"), "one");
    EXPECT_EQ(t.MemoLength(2), 3u);
    t.GotoRecord(2);
    EXPECT_EQ(t.GetMemo(2), big);
    t.GotoRecord(3);
    EXPECT_EQ(t.GetMemo(2), "");
    EXPECT_EQ(t.MemoLength(2), 0u);
  }
}

TEST_F(FieldsMemoTest, PutMemoMarksTheFieldChanged) {
  HXO_dBaseFld t(MakeTable(0), true, true);
  Append(t, "A", "one");
  t.GotoRecord(1);
  EXPECT_FALSE(t.FieldChanged(2));
  t.PutMemo("NOTES", "two");
  EXPECT_TRUE(t.FieldChanged(2));
  EXPECT_TRUE(t.RecordChanged());
  EXPECT_FALSE(t.FieldChanged(1));
}

TEST_F(FieldsMemoTest, TableWithoutMemoFileReadsEmptyAndRefusesWrites) {
  const std::vector<Field> fields = {
      {"CALL", 'C', 4}, {"NOTES", 'M', 10}, {"PIC", 'B', 10}, {"OLE", 'G', 10}};
  const std::string path = Put("PLAIN.DBF", TableImage(0x03, fields,
                                                       {" W1AW         3         5          ",
                                                        " K1AB                              "}));
  HXO_dBaseFld t(path, false, true);
  t.GotoRecord(1);
  EXPECT_EQ(t.MemoBlock("NOTES"), 3u);
  EXPECT_EQ(t.GetMemo("NOTES"), "");
  EXPECT_EQ(t.GetDisplayText("NOTES"), "");
  EXPECT_EQ(t.GetDisplayText("PIC"), "--BINARY--");
  EXPECT_EQ(t.GetDisplayText("OLE"), "-general--");
  const std::string before(t.RecordBuffer(), static_cast<size_t>(t.RecordLength()));
  EXPECT_EQ(ErrorOf<ESorrelError>([&] { t.PutMemo("NOTES", "lost?"); }),
            "File " + PathOf("PLAIN.dbt") + " could not be found");
  EXPECT_NE(ErrorOf<ESorrelError>([&] { t.PutText("NOTES", "lost?"); }), "");
  EXPECT_EQ(std::string(t.RecordBuffer(), static_cast<size_t>(t.RecordLength())), before);
  t.GotoRecord(2);
  EXPECT_EQ(t.GetDisplayText("PIC"), "--binary--");
  t.PutString("OLE", "         9");
  EXPECT_EQ(t.GetDisplayText("OLE"), "-GENERAL--");
  t.PutString("NOTES", "junk");  // not a block number: no memo
  EXPECT_EQ(t.MemoBlock("NOTES"), 0u);
}

TEST_F(FieldsMemoTest, FailedMemoWriteLeavesTheFieldAsItWas) {
  const std::string path = MakeTable(1);
  {
    HXO_dBaseFld t(path, true, true);
    Append(t, "A", "kept");
  }
  HXO_dBaseFld t(path, true, false);  // read-only: every memo write fails
  t.GotoRecord(1);
  const std::string field = t.GetString("NOTES");
  EXPECT_NE(ErrorOf<ESorrelError>([&] { t.PutMemo("NOTES", "new text"); }), "");
  EXPECT_EQ(t.GetString("NOTES"), field);
  EXPECT_FALSE(t.FieldChanged(2));
  EXPECT_EQ(t.GetMemo("NOTES"), "kept");
}

TEST_F(FieldsMemoTest, MemoLockFailureLeavesTheFieldAsItWas) {
  const std::string path = MakeTable(1);
  HXO_dBaseFld t(path, true, true);
  Append(t, "A", "kept");
  t.GotoRecord(1);
  const std::string field = t.GetString("NOTES");
  // Another program holds the memo lock (Default protocol: one byte below the append byte).
  HXO_DiskFile other(PathOf("NOTES.DBT"), true, true);
  other.Open();
  ASSERT_TRUE(other.LockRegion(0x7FFFFFFE - 1, 1));
  EXPECT_EQ(ErrorOf<ESorrelError>([&] { t.PutMemo("NOTES", "new text"); }),
            "Can not Lock file " + t.MemoFile()->Name());
  EXPECT_EQ(t.GetString("NOTES"), field);
  EXPECT_FALSE(t.FieldChanged(2));
  other.Unlock();
  t.PutMemo("NOTES", "new text");
  EXPECT_EQ(t.GetMemo("NOTES"), "new text");
}

// An edit that is dropped before it is written must not give back the blocks the record on disk
// still points at: another memo would take them and the record would show that memo's text.
TEST_F(FieldsMemoTest, DBase4CancelledEditKeepsTheRecordsMemo) {
  const std::string path = MakeTable(1);
  HXO_dBaseFld t(path, true, true);
  Append(t, "A", "first");
  Append(t, "B", "second");
  t.GotoRecord(1);
  const uint32_t first = t.MemoBlock("NOTES");
  t.PutMemo("NOTES", "edited but never posted");
  EXPECT_NE(t.MemoBlock("NOTES"), first);
  EXPECT_EQ(t.GetMemo("NOTES"), "edited but never posted");
  t.GotoRecord(1);  // the edit is cancelled
  EXPECT_EQ(t.MemoBlock("NOTES"), first);
  EXPECT_EQ(t.GetMemo("NOTES"), "first");
  EXPECT_NE(FirstFree(), first);

  // Another record's memo is rewritten and posted: it must not land on record 1's blocks.
  t.GotoRecord(2);
  t.PutMemo("NOTES", "second, rewritten");
  t.UpdateRecord(2);
  t.GotoRecord(1);
  EXPECT_EQ(t.GetMemo("NOTES"), "first");
  t.GotoRecord(2);
  EXPECT_EQ(t.GetMemo("NOTES"), "second, rewritten");
}

TEST_F(FieldsMemoTest, DBase4PostedEditGivesTheOldRunBack) {
  const std::string path = MakeTable(1);
  HXO_dBaseFld t(path, true, true);
  Append(t, "A", "first");
  Append(t, "B", "second");
  t.GotoRecord(1);
  const uint32_t old = t.MemoBlock("NOTES");
  t.PutMemo("NOTES", "replaced");
  EXPECT_NE(FirstFree(), old);  // not yet: the record on disk still points there
  t.UpdateRecord(1);
  EXPECT_EQ(FirstFree(), old);  // now it heads the free chain
  t.GotoRecord(1);
  EXPECT_EQ(t.GetMemo("NOTES"), "replaced");

  // Two texts in one edit: the first, on no record yet, is replaced at once; the old run goes back
  // after the write.
  t.GotoRecord(2);
  const uint32_t second = t.MemoBlock("NOTES");
  t.PutMemo("NOTES", "draft");
  t.PutMemo("NOTES", std::string(2000, 'f'));
  t.UpdateRecord(2);
  EXPECT_EQ(FirstFree(), second);
  t.GotoRecord(2);
  EXPECT_EQ(t.GetMemo("NOTES"), std::string(2000, 'f'));
  t.GotoRecord(1);
  EXPECT_EQ(t.GetMemo("NOTES"), "replaced");

  // The buffer of record 1 with a new memo appended as a new record: record 1 keeps its memo.
  const uint32_t head = FirstFree();
  const uint32_t one = t.MemoBlock("NOTES");
  t.PutMemo("NOTES", "copy");
  t.AppendRecord();
  EXPECT_NE(FirstFree(), one);
  EXPECT_NE(head, one);
  t.GotoRecord(1);
  EXPECT_EQ(t.GetMemo("NOTES"), "replaced");
  t.GotoRecord(3);
  EXPECT_EQ(t.GetMemo("NOTES"), "copy");
  EXPECT_EQ(t.GetString("CALL"), "A         ");
}

TEST_F(FieldsMemoTest, DBase3AndFoxProKeepTheWrittenMemoAndReuseOnlyThisEditsBlocks) {
  for (int dialect : {0, 2}) {
    SCOPED_TRACE(dialect);
    HXO_dBaseFld t(
        MakeTable(dialect, std::string("P").append(std::to_string(dialect)).append(".DBF")), true,
        true);
    Append(t, "A", std::string(400, 'a'));
    t.GotoRecord(1);
    const uint32_t block = t.MemoBlock("NOTES");
    // The record on disk points at the old memo until it is written: the new text goes elsewhere.
    t.PutMemo("NOTES", "shorter");
    const uint32_t fresh = t.MemoBlock("NOTES");
    EXPECT_NE(fresh, block);
    EXPECT_EQ(t.HXO_dBaseDBF::MemoFile()->ReadText(block), std::string(400, 'a'));
    // A second text of the same edit replaces the first in place when it fits.
    t.PutMemo("NOTES", "tiny");
    EXPECT_EQ(t.MemoBlock("NOTES"), fresh);
    t.PutMemo("NOTES", std::string(5000, 'b'));
    EXPECT_NE(t.MemoBlock("NOTES"), fresh);
    t.UpdateRecord(1);
    t.GotoRecord(1);
    EXPECT_EQ(t.GetMemo("NOTES"), std::string(5000, 'b'));
  }
}

}  // namespace
