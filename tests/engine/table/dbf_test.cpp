#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "base/hx6_encrxm.h"
#include "base/hx6_glbl.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

const std::vector<Field> kFields = {{"CALL", 'C', 10}, {"BAND", 'N', 6, 3}, {"DATE", 'D', 8}};

std::string Rec(const std::string& call, const std::string& band, const std::string& date,
                char mark = ' ') {
  std::string r(1, mark);
  r += (call + std::string(10, ' ')).substr(0, 10);
  r += (std::string(6, ' ') + band).substr(band.size());
  r += date;
  return r;
}

class DbfTest : public TempFolder {
 protected:
  std::string MakeLog(const std::vector<std::string>& records, uint8_t version = 0x03) {
    return Put("log.dbf", TableImage(version, kFields, records));
  }
  static void SetRecord(HXO_dBaseDBF& t, const std::string& record) {
    std::copy(record.begin(), record.end(), t.RecordBuffer());
  }
  static std::string Current(const HXO_dBaseDBF& t) {
    return std::string(t.RecordBuffer(), static_cast<size_t>(t.RecordLength()));
  }
};

TEST_F(DbfTest, OpensEveryVersionWithItsLayout) {
  struct Case {
    uint8_t version;
    uint8_t flags;
    bool memo;
    int headerLength;
  };
  const std::vector<Field> fields = {{"CALL", 'C', 300}, {"BAND", 'N', 6, 3}, {"NOTES", 'M', 10}};
  for (const Case& c : {Case{0x03, 0, false, 129}, Case{0x04, 0, false, 129},
                        Case{0x83, 0, true, 129}, Case{0x8B, 0, true, 129},
                        Case{0xF5, 0, true, 129}, Case{0x30, 0, true, 392},
                        Case{0x30, 0x02, true, 392}}) {
    SCOPED_TRACE(c.version);
    std::string path = Put("Contest.DBF", TableImage(c.version, fields, {}, c.flags));
    HXO_dBaseDBF t(PathOf("Contest"), false, false);
    EXPECT_EQ(t.Version(), c.version);
    EXPECT_EQ(t.HeaderLength(), c.headerLength);
    EXPECT_EQ(t.RecordLength(), 1 + 300 + 6 + 10);
    EXPECT_EQ(t.HasMemo(), c.memo);
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_EQ(t.Alias(), "CONTEST");
    ASSERT_EQ(t.FieldCount(), 3);
    EXPECT_EQ(t.FieldInfo(1).name, "CALL");
    EXPECT_EQ(t.FieldInfo(1).length, 300);
    EXPECT_EQ(t.FieldInfo(1).decimals, 0);
    EXPECT_EQ(t.FieldInfo(2).offset, 301);
    EXPECT_EQ(t.FieldInfo(2).decimals, 3);
    EXPECT_EQ(t.FieldInfo(3).offset, 307);
    EXPECT_EQ(t.FieldInfo(3).type, 'M');
    // In memory each descriptor carries its offset and number.
    EXPECT_EQ(DecodeLE32(t.Descriptors() + 32 + 12), 301u);
    EXPECT_EQ(DecodeLE16(t.Descriptors() + 64 + 26), 3u);
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
  }
}

TEST_F(DbfTest, CountComesFromTheFileSize) {
  std::string image = TableImage(0x03, kFields, {}, 0, 10);
  image.pop_back();
  for (int i = 0; i < 12; ++i) image += Rec("K" + std::to_string(i), "7.000", "20240101");
  image += "partial";  // a record cut short is not counted
  Put("log.dbf", image);
  HXO_dBaseDBF t(PathOf("log.dbf"), true, false);
  EXPECT_EQ(t.RecordCount(), 12);
  t.GotoRecord(12);
  EXPECT_EQ(Current(t), Rec("K11", "7.000", "20240101"));
}

TEST_F(DbfTest, MovesAndTheirEnds) {
  MakeLog({Rec("W1AW", "14.000", "20240101"), Rec("K2X", "7.000", "20240102"),
           Rec("N3Y", "3.500", "20240103")});
  HXO_dBaseDBF t(PathOf("log.dbf"), false, false);
  t.GotoRecord(kGotoFirst);
  EXPECT_EQ(t.RecNo(), 1);
  EXPECT_EQ(Current(t), Rec("W1AW", "14.000", "20240101"));
  t.GotoRecord(kGotoPrevious);  // from record 1: BOF, record 1 stays
  EXPECT_TRUE(t.Bof());
  EXPECT_EQ(t.RecNo(), 1);
  EXPECT_EQ(Current(t), Rec("W1AW", "14.000", "20240101"));
  t.GotoRecord(kGotoNext);
  EXPECT_FALSE(t.Bof());
  EXPECT_EQ(t.RecNo(), 2);
  t.GotoRecord(kGotoLast);
  EXPECT_EQ(t.RecNo(), 3);
  EXPECT_EQ(std::string(t.SavedRecord(), 25), Rec("N3Y", "3.500", "20240103"));
  t.GotoRecord(kGotoNext);  // count + 1
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecNo(), 3);
  t.GotoRecord(0);  // nothing
  EXPECT_TRUE(t.Eof());
  t.GotoRecord(kGotoCurrent);
  EXPECT_FALSE(t.Eof());
  EXPECT_EQ(t.RecNo(), 3);
  EXPECT_EQ(ErrorOf([&] { t.GotoRecord(5); }), "Record number 5 is not in table " + PathOf("log.dbf"));
  EXPECT_EQ(ErrorOf([&] { t.GotoRecord(-7); }), "Record number -7 is not in table " + PathOf("log.dbf"));
}

TEST_F(DbfTest, EmptyTableIsAtBothEnds) {
  MakeLog({});
  HXO_dBaseDBF t(PathOf("log.dbf"), true, false);
  t.GotoRecord(kGotoFirst);
  EXPECT_TRUE(t.Bof());
  EXPECT_TRUE(t.Eof());
}

TEST_F(DbfTest, AppendWritesRecordAndEndByteAndStampsTheHeader) {
  std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  const auto before = Contents(path);
  {
    HXO_dBaseDBF t(path, true, true);
    t.SetUserID(0x01020304);
    SetRecord(t, Rec("K2X", "7.000", "20240102", '*'));
    t.AppendRecord();
    EXPECT_EQ(t.RecordCount(), 2);
    EXPECT_EQ(t.RecNo(), 2);
    EXPECT_FALSE(t.HeaderDirty());
    EXPECT_FALSE(t.Eof());
  }
  const std::string after = Contents(path);
  const size_t headerLength = 32 * 3 + 33;
  ASSERT_EQ(after.size(), headerLength + 2 * 25 + 1);
  // The deletion byte of an appended record is always blank; exactly one 0x1A ends the file.
  EXPECT_EQ(after.substr(headerLength + 25), Rec("K2X", "7.000", "20240102") + "\x1A");
  EXPECT_EQ(after.substr(headerLength, 25), before.substr(headerLength, 25));
  const auto* h = reinterpret_cast<const uint8_t*>(after.data());
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(h[1], local.tm_year % 100);
  EXPECT_EQ(h[2], local.tm_mon + 1);
  EXPECT_EQ(h[3], local.tm_mday);
  EXPECT_EQ(DecodeLE32(h + 4), 2u);
  EXPECT_EQ(DecodeLE32(h + 20), 0x01020304u);
  const uint32_t stamp = DecodeLE32(h + 16);
  EXPECT_LT(stamp % 1024, 1000u);
  EXPECT_LT(stamp / 1024 / 64 / 64, 24u);
  // Everything but the written bytes stays as read.
  EXPECT_EQ(after.substr(8, 7), before.substr(8, 7));
  EXPECT_EQ(after.substr(32, headerLength - 32), before.substr(32, headerLength - 32));
}

TEST_F(DbfTest, FirstAppendOverwritesTheBuildersEndByte) {
  std::string path = MakeLog({}, 0x8B);
  {
    HXO_dBaseDBF t(path, false, true);
    SetRecord(t, Rec("W1AW", "14.000", "20240101"));
    t.AppendRecord();
  }
  std::string after = Contents(path);
  EXPECT_EQ(after.size(), 129u + 25 + 1);
  EXPECT_EQ(after[128], '\x0D');
  EXPECT_EQ(after.back(), '\x1A');
}

TEST_F(DbfTest, UpdateWritesInPlaceOrAppends) {
  std::string path = MakeLog({Rec("W1AW", "14.000", "20240101"), Rec("K2X", "7.000", "20240102")});
  HXO_dBaseDBF t(path, false, true);
  t.GotoRecord(1);
  SetRecord(t, Rec("W1AW", "21.000", "20240101"));
  t.UpdateRecord(1);
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(std::string(t.SavedRecord(), 25), Rec("W1AW", "21.000", "20240101"));
  t.UpdateRecord(0);  // record 0 appends
  EXPECT_EQ(t.RecordCount(), 3);
  t.UpdateRecord(9);  // so does a number past the end
  EXPECT_EQ(t.RecordCount(), 4);
  t.SetTableState(kTableAppendOnUpdate);
  t.UpdateRecord(2);
  EXPECT_EQ(t.RecordCount(), 5);
  EXPECT_EQ(t.TableState(), kTableIdle);
  const std::string after = Contents(path);
  EXPECT_EQ(after.size(), 129u + 5 * 25 + 1);
  EXPECT_EQ(after.substr(129, 25), Rec("W1AW", "21.000", "20240101"));
  EXPECT_EQ(after.substr(129 + 25, 25), Rec("K2X", "7.000", "20240102"));
  EXPECT_EQ(DecodeLE32(after.data() + 4), 5u);
}

TEST_F(DbfTest, SharedReadersSeeOtherAppends) {
  std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  HXO_dBaseDBF reader(path, true, false);
  HXO_dBaseDBF writer(path, true, true);
  reader.GotoRecord(1);
  SetRecord(writer, Rec("K2X", "7.000", "20240102"));
  writer.AppendRecord();
  EXPECT_EQ(reader.RecordCount(), 1);
  reader.GotoRecord(kGotoNext);  // past the known end: the header is read again
  EXPECT_FALSE(reader.Eof());
  EXPECT_EQ(reader.RecNo(), 2);
  EXPECT_TRUE(reader.ChangedByOthers());
  EXPECT_EQ(Current(reader), Rec("K2X", "7.000", "20240102"));
  // An exclusive table never re-reads and only clears the flag.
  reader.RefreshHeader();
  EXPECT_EQ(reader.RecordCount(), 2);
}

TEST_F(DbfTest, RefusesDamagedHeaders) {
  const std::string name = PathOf("log.dbf");
  auto error = [&](const std::string& image) {
    Put("log.dbf", image);
    return ErrorOf([&] { HXO_dBaseDBF t(name, true, true); });
  };
  const std::string good = TableImage(0x03, kFields, {Rec("W1AW", "14.000", "20240101")});
  const std::string invalid = "Table Header for " + name + " is invalid";
  for (char version : {'\x02', '\xF4', '\x00'}) {
    std::string image = good;
    image[0] = version;
    EXPECT_EQ(error(image), invalid);
  }
  EXPECT_EQ(error(good.substr(0, 20)), "Error on Read of file " + name);
  EXPECT_EQ(error(""), "Error on Read of file " + name);
  EXPECT_EQ(error(good.substr(0, 100)), invalid);  // descriptors cut off
  EXPECT_EQ(error(good.substr(0, 128)), invalid);  // only the terminator missing
  std::string shortHeader = good;
  EncodeLE16(shortHeader.data() + 8, 20);
  EXPECT_EQ(error(shortHeader), invalid);
  std::string noRecord = good;
  EncodeLE16(noRecord.data() + 10, 0);
  EXPECT_EQ(error(noRecord), invalid);
  std::string fieldsTooLong = good;  // fields add up to 25, the record says 20
  EncodeLE16(fieldsTooLong.data() + 10, 20);
  EXPECT_EQ(error(fieldsTooLong), invalid);
  std::string backlinkMissing = good;  // version 0x30 needs 263 more header bytes
  backlinkMissing[0] = '\x30';
  EXPECT_EQ(error(backlinkMissing), invalid);
  std::string hugeField = good;  // a C field of 65535 bytes in a 25-byte record
  hugeField[32 + 16] = '\xFF';
  hugeField[32 + 17] = '\xFF';
  EXPECT_EQ(error(hugeField), invalid);
  EXPECT_EQ(ErrorOf([&] { HXO_dBaseDBF t(PathOf("none"), true, true); }),
            "File " + PathOf("none.DBF") + " could not be found");
}

TEST_F(DbfTest, EarlyTerminatorEndsTheFieldList) {
  // Some programs pad the header; the list ends at the 0x0D.
  std::string image = TableImage(0x03, kFields, {});
  image.pop_back();
  std::string padded = image.substr(0, 32 + 96) + "\x0D" + std::string(32, '\0');
  EncodeLE16(padded.data() + 8, static_cast<uint16_t>(padded.size()));
  padded += Rec("W1AW", "14.000", "20240101") + "\x1A";
  Put("log.dbf", padded);
  HXO_dBaseDBF t(PathOf("log.dbf"), false, false);
  EXPECT_EQ(t.FieldCount(), 3);
  EXPECT_EQ(t.RecordCount(), 1);
}

TEST_F(DbfTest, EncryptedTables) {
  const std::string key = "Secret";
  std::string image = TableImage(0x03, kFields, {});
  image[15] = 1;
  ScrambleBuffer(key, image.data() + 32, image.data() + 32, 96, 1);
  std::string record = Rec("W1AW", "14.000", "20240101");
  std::string scrambled = record;
  ScrambleBuffer(key, record.data(), scrambled.data(), 25, 1);
  image.pop_back();
  image += scrambled + "\x1A";
  const std::string path = Put("crypt.dbf", image);
  EXPECT_EQ(ErrorOf<ESorrelEncryption>([&] { HXO_dBaseDBF t(path, false, true); }),
            "No Password for encrypted file " + path);
  EXPECT_EQ(ErrorOf<ESorrelEncryption>([&] { HXO_dBaseDBF t(path, false, true, "Wrong"); }),
            "Invalid Password for encrypted file " + path);
  {
    HXO_dBaseDBF t(path, false, true, key);
    EXPECT_EQ(t.FieldInfo(2).name, "BAND");
    t.GotoRecord(1);
    EXPECT_EQ(Current(t), record);
    SetRecord(t, Rec("K2X", "7.000", "20240102"));
    t.AppendRecord();
    EXPECT_EQ(Current(t), Rec("K2X", "7.000", "20240102"));  // the buffer stays plain
  }
  const std::string after = Contents(path);
  std::string second = after.substr(129 + 25, 25);
  ScrambleBuffer(key, second.data(), second.data(), 25, 0);
  EXPECT_EQ(second, Rec("K2X", "7.000", "20240102"));
  EXPECT_EQ(after.back(), '\x1A');
  EXPECT_EQ(after[15], 1);

  const std::string plain = MakeLog({});
  EXPECT_EQ(ErrorOf<ESorrelEncryption>([&] { HXO_dBaseDBF t(plain, false, true, key); }),
            "A Password is included for unencrypted file " + plain);
}

// Whether another open file description can lock `length` bytes at `offset` of `path`.
bool FreeFor(const std::string& path, int64_t offset, int64_t length) {
  HXO_DiskFile other(path, true, true);
  other.Open();
  bool free = other.LockRegion(offset, length);
  if (free) other.Unlock();
  return free;
}

TEST_F(DbfTest, LockRegionsOfEveryProtocol) {
  std::vector<std::string> records;
  for (int i = 0; i < 6; ++i) records.push_back(Rec("W" + std::to_string(i), "14.000", "20240101"));
  const std::string path = MakeLog(records);
  const int64_t headerLength = 129, recordLength = 25;
  struct Case {
    ThxLokProtocol protocol;
    int64_t record5;
    int64_t append;
    int64_t tableAt, tableLength;
  };
  for (const Case& c :
       // The table lock of Default and FoxLock also covers the record-lock bytes above the append
       // byte (b + record, for records beyond about 1 GB of data).
       {Case{ThxLokProtocol::Default, 0x40000000 + headerLength + 4 * recordLength, 0x7FFFFFFE, 0x40000000, 0x7FFFFFFE + 0x80000000 - 0x40000000},
        Case{ThxLokProtocol::FoxLock, 0x40000000 + headerLength + 4 * recordLength, 0x7FFFFFFE, 0x40000000, 0x7FFFFFFE + 0x80000000 - 0x40000000},
        Case{ThxLokProtocol::DB4Lock, 0xEFFFFFFF - 6, 0xEFFFFFFF, 0x40000000, 0xB0000000},
        Case{ThxLokProtocol::ClipLock, 1000000005, 1000000000, 1000000000, 1000000000}}) {
    SCOPED_TRACE(static_cast<int>(c.protocol));
    HXO_dBaseDBF t(path, true, true);
    t.SetLockProtocol(c.protocol);
    t.GotoRecord(5);
    ASSERT_TRUE(t.RecordLock());
    EXPECT_FALSE(FreeFor(path, c.record5, 1));
    EXPECT_TRUE(FreeFor(path, c.record5 + 1, 1));
    EXPECT_TRUE(FreeFor(path, c.record5 - 1, 1));
    t.FileUnlock();
    EXPECT_TRUE(FreeFor(path, c.record5, 1));

    ASSERT_TRUE(t.FileLock());
    EXPECT_FALSE(FreeFor(path, c.append, 1));
    t.FileUnlock();

    ASSERT_TRUE(t.LockTable());
    EXPECT_TRUE(t.TableLocked());
    EXPECT_FALSE(FreeFor(path, c.tableAt, 1));
    EXPECT_FALSE(FreeFor(path, c.tableAt + c.tableLength - 1, 1));
    EXPECT_TRUE(FreeFor(path, c.tableAt + c.tableLength, 1));
    t.FileUnlock();
    EXPECT_FALSE(t.TableLocked());

    ASSERT_TRUE(t.LockWholeFile());
    EXPECT_FALSE(FreeFor(path, 0, 1));
    EXPECT_FALSE(FreeFor(path, 0x7FFFFFFE, 1));
    t.FileUnlock();
    EXPECT_TRUE(FreeFor(path, 0, 1));
  }
}

TEST_F(DbfTest, LocksHeldByAnotherHandleRefuseAtOnce) {
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  HXO_dBaseDBF a(path, true, true);
  HXO_dBaseDBF b(path, true, true);
  a.GotoRecord(1);
  b.GotoRecord(1);
  ASSERT_TRUE(a.RecordLock());
  EXPECT_FALSE(b.RecordLock());
  EXPECT_FALSE(b.LockTable());
  EXPECT_FALSE(b.TableLocked());
  a.FileUnlock();
  EXPECT_TRUE(b.RecordLock());
  b.FileUnlock();
}

TEST_F(DbfTest, TableLockNestsAndWritesTheHeaderAtTheLastUnlock) {
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  HXO_dBaseDBF t(path, true, true);
  ASSERT_TRUE(t.LockTable());
  t.GotoRecord(1);
  EXPECT_TRUE(t.RecordLock());  // only counted under the table lock
  EXPECT_EQ(t.LockCount(), 2);
  t.UpdateRecord(1);
  EXPECT_TRUE(t.HeaderDirty());  // not written while the table lock is in force
  t.FileUnlock();
  EXPECT_TRUE(t.TableLocked());
  EXPECT_TRUE(t.HeaderDirty());
  t.FileUnlock();
  EXPECT_FALSE(t.TableLocked());
  EXPECT_FALSE(t.HeaderDirty());
  EXPECT_EQ(DecodeLE32(Contents(path).data() + 4), 1u);
}

TEST_F(DbfTest, AppendWaitsForAnotherAppender) {
  const std::string path = MakeLog({});
  HXO_dBaseDBF first(path, true, true);
  HXO_dBaseDBF second(path, true, true);
  ASSERT_TRUE(first.FileLock());
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    SetRecord(first, Rec("W1AW", "14.000", "20240101"));
    first.AppendRecord();  // nested inside the lock it already holds
    first.FileUnlock();
  });
  SetRecord(second, Rec("K2X", "7.000", "20240102"));
  second.AppendRecord();
  release.join();
  EXPECT_EQ(second.RecNo(), 2);
  const std::string after = Contents(path);
  EXPECT_EQ(after.substr(129), Rec("W1AW", "14.000", "20240101") + Rec("K2X", "7.000", "20240102") + "\x1A");
}

TEST_F(DbfTest, RecordLocksOfEveryHandleMeetOnOneByte) {
  // A handle that would place record locks "from the top" (as a handler with an index open
  // might) still locks a record at the same byte as any other handle.
  struct FromTop : HXO_dBaseDBF {
    using HXO_dBaseDBF::HXO_dBaseDBF;
    bool RecordLockFromTop() override { return true; }
  };
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101"), Rec("K2X", "7.000", "20240102")});
  for (ThxLokProtocol protocol : {ThxLokProtocol::Default, ThxLokProtocol::FoxLock}) {
    HXO_dBaseDBF plain(path, true, true);
    FromTop top(path, true, true);
    plain.SetLockProtocol(protocol);
    top.SetLockProtocol(protocol);
    plain.GotoRecord(2);
    top.GotoRecord(2);
    ASSERT_TRUE(plain.RecordLock());
    EXPECT_FALSE(top.RecordLock());
    plain.FileUnlock();
    ASSERT_TRUE(top.RecordLock());
    EXPECT_FALSE(plain.RecordLock());
    EXPECT_FALSE(FreeFor(path, 0x40000000 + 129 + 25, 1));
    top.FileUnlock();
  }
}

TEST_F(DbfTest, WritesUnderARecordLockTakeTheAppendByteBesideIt) {
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  const int64_t recordByte = 0x40000000 + 129, appendByte = 0x7FFFFFFE;
  HXO_dBaseDBF editor(path, true, true);
  HXO_dBaseDBF other(path, true, true);
  editor.GotoRecord(1);
  ASSERT_TRUE(editor.RecordLock());
  // Another appender holds the append lock for a while: the append waits for it.
  ASSERT_TRUE(other.FileLock());
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    other.FileUnlock();
  });
  SetRecord(editor, Rec("K2X", "7.000", "20240102"));
  editor.AppendRecord();
  release.join();
  EXPECT_EQ(editor.RecordCount(), 2);
  // Only the append byte was released: the record lock is still held, at its one level.
  EXPECT_EQ(editor.LockCount(), 1);
  EXPECT_FALSE(FreeFor(path, recordByte, 1));
  EXPECT_TRUE(FreeFor(path, appendByte, 1));
  SetRecord(editor, Rec("W1AW", "21.000", "20240101"));
  editor.UpdateRecord(1);
  EXPECT_EQ(editor.LockCount(), 1);
  EXPECT_FALSE(FreeFor(path, recordByte, 1));
  EXPECT_TRUE(FreeFor(path, appendByte, 1));
  editor.FileUnlock();
  EXPECT_TRUE(FreeFor(path, recordByte, 1));
  EXPECT_EQ(Contents(path).substr(129), Rec("W1AW", "21.000", "20240101") + Rec("K2X", "7.000", "20240102") + "\x1A");
}

TEST_F(DbfTest, AppendAndUpdateGiveUpOnAnAppendLockNeverReleased) {
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  const std::string before = Contents(path);
  HXO_DiskFile holder(path, true, true);
  holder.Open();
  ASSERT_TRUE(holder.LockRegion(0x7FFFFFFE, 1));
  HXO_dBaseDBF t(path, true, true);
  t.GotoRecord(1);
  SetRecord(t, Rec("K2X", "7.000", "20240102"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { t.AppendRecord(); }), "Can not Lock file " + path);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.LockCount(), 0);
  EXPECT_FALSE(t.HeaderDirty());
  // An edit under its record lock: the record stays as it was and the lock stays held.
  ASSERT_TRUE(t.RecordLock());
  EXPECT_EQ(ErrorOf([&] { t.UpdateRecord(1); }), "Can not Lock file " + path);
  EXPECT_EQ(t.LockCount(), 1);
  t.FileUnlock();
  EXPECT_EQ(Contents(path), before);
}

TEST_F(DbfTest, CloseReportsAHeaderItCannotWriteAndTheDestructorDoesNot) {
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  HXO_DiskFile holder(path, true, true);
  holder.Open();
  ASSERT_TRUE(holder.LockRegion(0x7FFFFFFE, 1));
  {
    HXO_dBaseDBF t(path, true, true);
    t.MarkHeaderDirty();
    EXPECT_EQ(ErrorOf([&] { t.Close(); }), "Can not Lock file " + path);
    EXPECT_TRUE(t.Closed());  // closed all the same
  }
  EXPECT_NO_THROW({
    HXO_dBaseDBF t(path, true, true);
    t.MarkHeaderDirty();
  });
  holder.Unlock();
  HXO_dBaseDBF t(path, true, true);
  t.MarkHeaderDirty();
  t.SetUserID(77);
  EXPECT_TRUE(t.Close());
  EXPECT_EQ(DecodeLE32(Contents(path).data() + 20), 77u);
}

TEST_F(DbfTest, HeaderNeverCountsFewerRecordsThanTheFileHolds) {
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  HXO_dBaseDBF stale(path, true, true);
  // A program that ignores the locks appends two records behind this handle's back.
  {
    std::string image = Contents(path);
    image.pop_back();
    image += Rec("K2X", "7.000", "20240102") + Rec("N3Y", "3.500", "20240103") + "\x1A";
    std::ofstream(path, std::ios::binary | std::ios::in) << image;
  }
  EXPECT_EQ(stale.RecordCount(), 1);
  stale.MarkHeaderDirty();
  stale.WriteHeader();  // without re-reading first
  EXPECT_EQ(DecodeLE32(Contents(path).data() + 4), 3u);
  EXPECT_EQ(DecodeLE16(Contents(path).data() + 10), 25u);
}

TEST_F(DbfTest, FailedWritesReportAndLeaveTheFileConsistent) {
  const std::string path = MakeLog({Rec("W1AW", "14.000", "20240101")});
  const std::string before = Contents(path);
  {
    HXO_dBaseDBF readOnly(path, true, false);
    SetRecord(readOnly, Rec("K2X", "7.000", "20240102"));
    EXPECT_EQ(ErrorOf([&] { readOnly.AppendRecord(); }), "Error writing to " + path);
    EXPECT_EQ(readOnly.RecordCount(), 1);
    EXPECT_EQ(readOnly.LockCount(), 0);
    EXPECT_TRUE(FreeFor(path, 0x7FFFFFFE, 1));  // the append lock was released
  }
  EXPECT_EQ(Contents(path), before);

  // A disk that fills up in the middle of the record: the piece written is cut off again.
  HXO_dBaseDBF t(path, true, true);
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = before.size() + 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  SetRecord(t, Rec("K2X", "7.000", "20240102"));
  std::string error = ErrorOf([&] { t.AppendRecord(); });
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(error, "Error writing to " + path);
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(Contents(path), before);
  SetRecord(t, Rec("K2X", "7.000", "20240102"));
  t.AppendRecord();
  EXPECT_EQ(t.RecordCount(), 2);
}

}  // namespace
