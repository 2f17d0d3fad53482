// Table files at the edges of the format: record locks near and beyond the append-lock byte,
// version 0x30 tables whose header does not flag their memo file, and the code-page mark of the
// tables we create.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "table/hx6_memo.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

constexpr int64_t kA = 0x40000000;
constexpr int64_t kB = 0x7FFFFFFE;

class TableFormatSafetyTest : public TempFolder {};

TEST(RecordLockByteTest, DefaultAndFoxLockNeverMeetTheAppendByte) {
  // Header 65 and records of 33 bytes: record 32537630 is the one whose byte by file offset would
  // be the append byte itself.
  constexpr int32_t kHit = 32537630;
  ASSERT_EQ(kA + 65 + (int64_t{kHit} - 1) * 33, kB);
  struct Case {
    int64_t header;
    int32_t length;
    int32_t record;
    int64_t expected;
  };
  for (ThxLokProtocol p : {ThxLokProtocol::Default, ThxLokProtocol::FoxLock}) {
    SCOPED_TRACE(static_cast<int>(p));
    for (const Case& c : {
             Case{65, 33, 1, kA + 65},                                // the first record, as before
             Case{65, 33, kHit - 1, kB - 33},                         // the last one below b
             Case{65, 33, kHit, kB + kHit},                           // would be b: moved above it
             Case{65, 33, kHit + 1, kB + kHit + 1},
             Case{65535, 65535, 16385, kB + 16385},                   // largest records
             Case{65535, 65535, INT32_MAX, kB + INT32_MAX},           // largest record number
             Case{129, 1, INT32_MAX, kB + INT32_MAX},
         }) {
      SCOPED_TRACE(c.record);
      const int64_t byte = RecordLockByte(p, c.header, c.length, c.record);
      EXPECT_EQ(byte, c.expected);
      EXPECT_NE(byte, kB);
      // Inside the table lock, which keeps out every record lock; below the open-mode marker.
      const ThxLockRegion table = TableLockRegion(p);
      EXPECT_GE(byte, table.offset);
      EXPECT_LT(byte, table.offset + table.length);
      EXPECT_LT(byte, kOpenModeLockOffset);
    }
  }
  // The other protocols kept their bytes, which never reach their append byte.
  EXPECT_EQ(RecordLockByte(ThxLokProtocol::DB4Lock, 65, 33, INT32_MAX), 0xEFFFFFFF - int64_t{INT32_MAX} - 1);
  EXPECT_EQ(RecordLockByte(ThxLokProtocol::ClipLock, 65, 33, INT32_MAX), 1000000000 + int64_t{INT32_MAX});
}

bool FreeFor(const std::string& path, int64_t offset) {
  HXO_DiskFile other(path, true, true);
  other.Open();
  const bool free = other.LockRegion(offset, 1);
  if (free) other.Unlock();
  return free;
}

TEST_F(TableFormatSafetyTest, RecordLockBeyondAGigabyteLeavesAppendsFree) {
  // A sparse table of 32537631 records of 33 bytes, just over 1 GB of data.
  constexpr int32_t kHit = 32537630;
  const std::string path = Put("BIG.DBF", TableImage(0x03, {{"CALL", 'C', 32}}));
  {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 65 + (int64_t{kHit} + 1) * 33), 0);
    ::close(fd);
  }
  HXO_dBaseDBF editor(path, true, true);
  HXO_dBaseDBF appender(path, true, true);
  ASSERT_EQ(editor.RecordCount(), kHit + 1);
  for (int32_t record : {kHit - 1, kHit, kHit + 1}) {
    SCOPED_TRACE(record);
    editor.GotoRecord(record);
    ASSERT_TRUE(editor.RecordLock());
    EXPECT_FALSE(FreeFor(path, RecordLockByte(ThxLokProtocol::Default, 65, 33, record)));
    // Another handle can still take the append lock, but neither the same record nor the table.
    EXPECT_TRUE(appender.FileLock());
    appender.FileUnlock();
    appender.GotoRecord(record);
    EXPECT_FALSE(appender.RecordLock());
    EXPECT_FALSE(appender.LockTable());
    editor.FileUnlock();
  }
  // An append while a record beyond the boundary is locked: the record lock stays held.
  editor.GotoRecord(kHit);
  ASSERT_TRUE(editor.RecordLock());
  std::memset(appender.RecordBuffer(), ' ', 33);
  appender.AppendRecord();
  EXPECT_EQ(appender.RecordCount(), kHit + 2);
  std::memset(editor.RecordBuffer(), ' ', 33);
  editor.AppendRecord();
  EXPECT_EQ(editor.RecordCount(), kHit + 3);
  EXPECT_FALSE(FreeFor(path, kB + kHit));
  editor.FileUnlock();
  EXPECT_TRUE(FreeFor(path, kB + kHit));
}

// A version 0x30 table as other programs write it: memo field M (a 4-byte block number), memo
// flag clear, with its .fpt of 64-byte blocks.
std::string FlaglessTable(const std::vector<std::pair<std::string, uint32_t>>& rows) {
  std::string t(32, '\0');
  t[0] = '\x30';
  const int headerLength = 32 + 2 * 32 + 1 + 263;
  EncodeLE32(t.data() + 4, static_cast<uint32_t>(rows.size()));
  EncodeLE16(t.data() + 8, static_cast<uint16_t>(headerLength));
  EncodeLE16(t.data() + 10, 1 + 10 + 4);
  t[28] = 0;  // no memo-file flag
  std::string d(64, '\0');
  std::memcpy(d.data(), "CALL", 4);
  d[11] = 'C';
  d[16] = 10;
  std::memcpy(d.data() + 32, "NOTES", 5);
  d[32 + 11] = 'M';
  d[32 + 16] = 4;
  t += d + '\x0D' + std::string(263, '\0');
  for (const auto& [call, block] : rows) {
    std::string r = " " + (call + std::string(10, ' ')).substr(0, 10) + std::string(4, '\0');
    EncodeLE32(r.data() + 11, block);
    t += r;
  }
  return t + '\x1A';
}

std::string FoxMemoFile(const std::vector<std::string>& texts) {
  std::string m(512, '\0');
  for (const std::string& text : texts) {
    std::string block(8, '\0');
    EncodeBE32(block.data(), 1);
    EncodeBE32(block.data() + 4, static_cast<uint32_t>(text.size()));
    block += text;
    block.resize((block.size() + 63) / 64 * 64, '\0');
    m += block;
  }
  EncodeBE32(m.data(), static_cast<uint32_t>(m.size() / 64));
  EncodeBE16(m.data() + 6, 64);
  return m;
}

TEST_F(TableFormatSafetyTest, Version30TableWithoutMemoFlagReadsAndWritesItsMemos) {
  const std::string first = "Worked on 20 m";
  const std::string second(150, 'x');
  const std::string path = Put("VFP.DBF", FlaglessTable({{"W1AW", 8}, {"K2X", 0}, {"N3Y", 9}}));
  Put("VFP.FPT", FoxMemoFile({first, second}));
  {
    HXO_dBaseFld t(path, false, true);
    ASSERT_TRUE(t.HasMemo());
    t.GotoRecord(1);
    EXPECT_EQ(t.GetMemo("NOTES"), first);
    t.GotoRecord(2);
    EXPECT_EQ(t.GetMemo("NOTES"), "");
    t.PutMemo("NOTES", "A new note");
    t.UpdateRecord(2);
    t.GotoRecord(3);
    EXPECT_EQ(t.GetMemo("NOTES"), second);
  }
  HXO_DiskFile::CloseAllFiles();
  HXO_dBaseFld t(path, false, false);
  for (const auto& [record, text] :
       std::vector<std::pair<int, std::string>>{{1, first}, {2, "A new note"}, {3, second}}) {
    t.GotoRecord(record);
    EXPECT_EQ(t.GetMemo("NOTES"), text) << record;
  }
  // The header is kept as it was written: the flag stays what the other program put there.
  EXPECT_EQ(static_cast<uint8_t>(Contents(path)[28]), 0);
  // A 0x30 table without memo fields and without flag still needs no memo file.
  const std::string plain = Put("PLAIN.DBF", TableImage(0x30, {{"CALL", 'C', 10}}));
  HXO_dBaseFld p(plain, false, true);
  EXPECT_FALSE(p.HasMemo());
  EXPECT_EQ(p.MemoFile(), nullptr);
}

TEST_F(TableFormatSafetyTest, TablesWeCreateCarryTheAnsiCodePageMark) {
  {
    HXO_DBFoxBuild fox(PathOf("FOX.DBF"));
    fox.AddField("CALL", "C", 10, 0);
    fox.AddField("NOTES", "M", 0, 0);
    fox.CreateFiles();
    HXO_DBFBuild plain(PathOf("PLAIN.DBF"));
    plain.AddField("CALL", "C", 10, 0);
    plain.CreateFiles();
  }
  for (const char* name : {"FOX.DBF", "PLAIN.DBF"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Contents(PathOf(name))[kDbfHdrCodePage], kDbfCodePageAnsi);
    {
      HXO_dBaseDBF t(PathOf(name), false, true);
      EXPECT_EQ(t.CodePageMark(), kDbfCodePageAnsi);
      std::memset(t.RecordBuffer(), ' ', static_cast<size_t>(t.RecordLength()));
      std::memcpy(t.RecordBuffer() + 1, "Jos\xE9", 4);
      t.AppendRecord();
    }
    // Header writes keep the mark.
    EXPECT_EQ(Contents(PathOf(name))[kDbfHdrCodePage], kDbfCodePageAnsi);
    HXO_DiskFile::CloseAllFiles();
  }
  // A table with no mark reads as before, its text untouched.
  const std::string old = Put("OLD.DBF", TableImage(0x03, {{"CALL", 'C', 10}}, {" Jos\xE9      "}));
  HXO_dBaseDBF t(old, false, false);
  EXPECT_EQ(t.CodePageMark(), kDbfCodePageNone);
  t.GotoRecord(1);
  EXPECT_EQ(std::string(t.RecordBuffer() + 1, 4), "Jos\xE9");
}

}  // namespace
