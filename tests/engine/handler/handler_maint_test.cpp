// Database handler: Pack (file length, end-of-file byte, reindexed compound index checked by an
// outside reader, memo file compacted, table read by dbfread), SetPassword round trips
// and wrong keys, the read-ahead buffer against writes of a second handle, and appends of several
// processes with the compound index open.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/byteorder.h"
#include "handler/handler_test_util.h"
#include "table/hx6_memo.h"
#include "support/tool_runner.h"

using namespace handler_test;

namespace {

class HandlerMaint : public HandlerTest {
 protected:
  // Eight contacts with notes; `deleted` lists the record numbers to delete.
  std::string MakePackTable(const std::vector<int>& deleted, bool index = true) {
    const std::string path = MakeLog();
    RecordingHandler h(path, false, true);
    for (int i = 1; i <= 8; ++i) {
      h.BlankRecord();
      h.PutText("STATION", "S" + std::to_string(9 - i));
      h.PutFloat("BAND", 20);
      h.AppendRecord();
      h.PutMemo("NOTES", std::string(600 + i, static_cast<char>('a' + i)));
      h.UpdateRecord(i);
    }
    for (int r : deleted) {
      h.GoTo(r);
      h.DeleteRecord();
    }
    if (index) h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
    return path;
  }

  static std::vector<std::string> Stations(HXO_dBHandler& h) {
    std::vector<std::string> out;
    h.SetShowDeleted(true);
    for (int32_t r : Walk(h)) {
      h.GoTo(r);
      out.push_back(Station(h));
    }
    h.SetShowDeleted(false);
    return out;
  }

  static bool HaveTool(const std::string& command) {
    return std::system(("command -v " + command + " >/dev/null 2>&1").c_str()) == 0;
  }
  static bool PythonHas(const std::string& module) {
    return tool_runner::Run("/usr/bin/python3 -c 'import " + module + "' 2>/dev/null").status == 0;
  }
};

// ---------------------------------------------------------------------------------------------
// Pack

TEST_F(HandlerMaint, PackWithoutDeletedRecordsKeepsTheFileAndSkipsTheReindex) {
  const std::string path = MakePackTable({});
  const auto length = std::filesystem::file_size(path);
  RecordingHandler h(path, false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.Pack();
  EXPECT_EQ(std::filesystem::file_size(path), length);
  ASSERT_EQ(h.reports.size(), 10u);  // the pack's own phase only: no reindex followed
  EXPECT_EQ(h.reports.front(), std::make_tuple(-1, kStatusPhasePack, 8));
  EXPECT_EQ(h.reports[1], std::make_tuple(kStatusPhasePack, 1, 0));
  EXPECT_EQ(h.reports[8], std::make_tuple(kStatusPhasePack, 8, 0));
  EXPECT_EQ(h.reports.back(), std::make_tuple(0, 0, 0));
  EXPECT_EQ(h.RecNo(), 8);  // top of the STATION order
  EXPECT_EQ(h.MasterTagName(), "STATION");
}

TEST_F(HandlerMaint, PackRemovesDeletedRecordsReleasesTheirMemosAndReindexes) {
  const std::string path = MakePackTable({2, 5, 6});
  RecordingHandler h(path, false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.reports.clear();
  h.Pack();
  EXPECT_EQ(h.RecordCount(), 5);
  const auto expected =
      static_cast<uint64_t>(h.HeaderLength()) + 5 * static_cast<uint64_t>(h.RecordLength()) + 1;
  EXPECT_EQ(std::filesystem::file_size(path), expected);
  const std::string bytes = TempFolder::Contents(path);
  EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 0x1A);
  EXPECT_EQ(DecodeLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4), 5u);
  // Status: the pack's phase, then the rebuild's.
  ASSERT_GT(h.reports.size(), 10u);
  EXPECT_EQ(h.reports[0], std::make_tuple(-1, kStatusPhasePack, 8));
  EXPECT_EQ(h.reports[9], std::make_tuple(0, 0, 0));
  EXPECT_EQ(h.reports[10], std::make_tuple(-1, 1, 5));
  // Kept records in their order, their memos intact; keys point at the new numbers.
  h.SelectMasterTag("", false);
  EXPECT_EQ(Stations(h), (std::vector<std::string>{"S8", "S6", "S5", "S2", "S1"}));
  h.GoTo(4);
  EXPECT_EQ(h.GetMemo("NOTES"), std::string(607, 'h'));
  h.SelectMasterTag("STATION", false);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  // The memo file holds only the kept records' notes, one after the other: the header block and
  // two blocks for each note of about 600 bytes, its free chain starting at the end.
  HXobjMemo* memo = h.MemoFile();
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->FileSize(), 11 * 512);
  uint8_t head[4];
  ASSERT_EQ(memo->HXO_DiskFile::Read(0, head, 4), 4);
  EXPECT_EQ(DecodeLE32(head), 11u);

  if (HaveTool("index_dump")) {
    const auto dump = tool_runner::Run("index_dump -type=char " +
                                       tool_runner::Quote(PathOf("LOG.CDX")) + " STATION 2>&1");
    EXPECT_EQ(dump.output, "S1 5\nS2 4\nS5 3\nS6 2\nS8 1\n");
  }
  if (PythonHas("dbfread")) {
    const auto read = tool_runner::RunPython(
        PathOf("read.py"),
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], load=True)\n"
        // dbfread returns the 8 bytes after a dBase IV memo's text too; they are zeros.
        "print(len(t.records), ','.join(r['STATION'] for r in t.records),\n"
        "      len(t.records[3]['NOTES'].rstrip('\\x00')))\n",
        path);
    EXPECT_EQ(read.output, "5 S8,S6,S5,S2,S1 607\n");
  }
}

TEST_F(HandlerMaint, PackOfAnAllDeletedTableLeavesTheHeaderAndTheEndByte) {
  const std::string path = MakePackTable({1, 2, 3, 4, 5, 6, 7, 8});
  RecordingHandler h(path, false, true);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.Pack();
  EXPECT_EQ(h.RecordCount(), 0);
  EXPECT_EQ(std::filesystem::file_size(path), static_cast<uint64_t>(h.HeaderLength()) + 1);
  EXPECT_EQ(static_cast<unsigned char>(TempFolder::Contents(path).back()), 0x1A);
  h.GoTo(kGotoFirst);
  EXPECT_TRUE(h.Bof() && h.Eof());
  // An append afterwards works and is indexed.
  Append(h, {"NEW", 20, ""});
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{1}));
}

TEST_F(HandlerMaint, PackNeedsExclusiveWriteAccess) {
  const std::string path = MakePackTable({1}, false);
  {
    RecordingHandler h(path, true, true);
    EXPECT_EQ(TempFolder::ErrorOf([&] { h.Pack(); }),
              "Pack requires full access to file " + h.Name());
    EXPECT_EQ(TempFolder::ErrorOf([&] { h.SetPassword("x"); }),
              "SetPassword requires full access to file " + h.Name());
  }
  RecordingHandler h(path, false, false);
  EXPECT_NE(TempFolder::ErrorOf([&] { h.Pack(); }), "");
  EXPECT_EQ(h.RecordCount(), 8);
}

TEST_F(HandlerMaint, PackKeepsAFilterCurrent) {
  const std::string path = MakePackTable({1, 2}, false);
  RecordingHandler h(path, false, true);
  h.SetFilterActive(true);
  h.SetFilter("STATION = 'S3'", false, true);
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{6}));
  h.Pack();
  EXPECT_EQ(Walk(h), (std::vector<int32_t>{4}));
}

// ---------------------------------------------------------------------------------------------
// Password

TEST_F(HandlerMaint, PasswordRoundTripsThroughRecordsMemosDescriptorsAndIndexes) {
  const std::string path = MakePackTable({3});
  {
    RecordingHandler h(path, false, true);
    h.SetIndexFiles("LOG.CDX", "STATION");
    h.SetPassword("key1");
    EXPECT_TRUE(h.Encrypted());
    EXPECT_EQ(h.State(), kHandlerIdle);
    EXPECT_EQ(Stations(h).size(), 8u);
  }
  const std::string bytes = TempFolder::Contents(path);
  EXPECT_EQ(bytes[15], 1);
  EXPECT_EQ(bytes.find("STATION"), std::string::npos);  // descriptors scrambled
  EXPECT_EQ(bytes.find("S8"), std::string::npos);       // records scrambled
  EXPECT_EQ(TempFolder::ErrorOf([&] { RecordingHandler h(path, false, true); }),
            "No Password for encrypted file " + PathOf("LOG.DBF"));
  EXPECT_EQ(TempFolder::ErrorOf([&] { RecordingHandler h(path, false, true, "other"); }),
            "Invalid Password for encrypted file " + PathOf("LOG.DBF"));
  {
    RecordingHandler h(path, false, true, "key1");
    EXPECT_EQ(Stations(h),
              (std::vector<std::string>{"S8", "S7", "S6", "S5", "S4", "S3", "S2", "S1"}));
    h.GoTo(5);
    EXPECT_EQ(h.GetMemo("NOTES"), std::string(605, 'f'));
    h.SetIndexFiles("LOG.CDX", "STATION");
    EXPECT_EQ(Walk(h), (std::vector<int32_t>{8, 7, 6, 5, 4, 2, 1}));
    EXPECT_TRUE(h.Find("S4"));
    EXPECT_EQ(h.RecNo(), 5);
    // The same key again changes nothing.
    const std::string before = TempFolder::Contents(path);
    h.SetPassword("key1");
    EXPECT_EQ(TempFolder::Contents(path), before);
    h.SetPassword("key2");
  }
  {
    RecordingHandler h(path, false, true, "key2");
    h.SetIndexFiles("LOG.CDX", "STATION");
    EXPECT_EQ(Walk(h), (std::vector<int32_t>{8, 7, 6, 5, 4, 2, 1}));
    h.GoTo(8);
    EXPECT_EQ(h.GetMemo("NOTES"), std::string(608, 'i'));
    // The empty key makes the table plain again, flag included.
    h.SetPassword("");
    EXPECT_FALSE(h.Encrypted());
  }
  EXPECT_EQ(TempFolder::Contents(path)[15], 0);
  RecordingHandler h(path, false, true);
  EXPECT_EQ(Stations(h).front(), "S8");
  h.GoTo(1);
  EXPECT_EQ(h.GetMemo("NOTES"), std::string(601, 'b'));
  h.SetIndexFiles("LOG.CDX", "STATION");
  EXPECT_TRUE(h.Find("S1"));
  EXPECT_EQ(h.RecNo(), 8);
  if (PythonHas("dbfread")) {
    const auto read = tool_runner::RunPython(PathOf("read.py"),
                                             "import sys, dbfread\n"
                                             "t = dbfread.DBF(sys.argv[1], load=True)\n"
                                             "print(len(t.records), t.records[0]['STATION'], "
                                             "len(t.records[0]['NOTES'].rstrip('\\x00')))\n",
                                             path);
    EXPECT_EQ(read.output, "7 S8 601\n");
  }
}

TEST_F(HandlerMaint, PackOfAnEncryptedTableWritesScrambledRecords) {
  const std::string path = MakePackTable({1, 4}, false);
  {
    RecordingHandler h(path, false, true);
    h.SetPassword("secret");
  }
  {
    RecordingHandler h(path, false, true, "secret");
    h.Pack();
  }
  EXPECT_EQ(TempFolder::Contents(path).find("S7"), std::string::npos);
  RecordingHandler h(path, false, true, "secret");
  EXPECT_EQ(Stations(h), (std::vector<std::string>{"S7", "S6", "S4", "S3", "S2", "S1"}));
  h.GoTo(1);
  EXPECT_EQ(h.GetMemo("NOTES"), std::string(602, 'c'));
}

// ---------------------------------------------------------------------------------------------
// Read-ahead buffer

TEST_F(HandlerMaint, ReadBufferNeverServesRecordsAnotherHandleRewrote) {
  const std::string path = MakePackTable({}, false);
  RecordingHandler a(path, true, true);
  RecordingHandler b(path, true, true);
  a.SetReadBuffer(true);
  EXPECT_FALSE(a.Locate("QTH", {std::string("X")}, false, false));  // a scan fills the buffer
  b.GoTo(3);
  b.PutText("QTH", "X");
  b.UpdateRecord(3);
  EXPECT_TRUE(a.Locate("QTH", {std::string("X")}, false, false));
  EXPECT_EQ(a.RecNo(), 3);
  // A single step from outside reads the file too.
  a.GoTo(2);
  b.GoTo(3);
  b.PutText("QTH", "Y");
  b.UpdateRecord(3);
  a.GoTo(kGotoNext);
  EXPECT_EQ(a.GetString("QTH").substr(0, 1), "Y");
  // Appends of the other handle are seen, and so is a filter built afterwards.
  Append(b, {"LATE", 80, ""});
  EXPECT_EQ(Walk(a).back(), 9);
  a.SetFilterActive(true);
  a.SetFilter("BAND = 80", false, true);
  EXPECT_EQ(Walk(a), (std::vector<int32_t>{9}));
}

TEST_F(HandlerMaint, ReadBufferOfAnExclusiveTableFollowsItsOwnWrites) {
  const std::string path = MakePackTable({}, false);
  RecordingHandler h(path, false, true);
  h.SetReadBuffer(true);
  EXPECT_EQ(Walk(h).size(), 8u);  // the buffer holds every record and ends at the file's end
  h.GoTo(3);
  h.PutText("QTH", "CHANGED");
  h.UpdateRecord(3);
  Append(h, {"NINTH", 20, "END"});
  std::vector<std::string> qths;
  h.GoTo(kGotoFirst);
  while (!h.Eof()) {
    std::string q = h.GetString("QTH");
    qths.push_back(q.substr(0, q.find(' ')));
    h.GoTo(kGotoNext);
  }
  ASSERT_EQ(qths.size(), 9u);
  EXPECT_EQ(qths[2], "CHANGED");
  EXPECT_EQ(qths[8], "END");
}

// ---------------------------------------------------------------------------------------------
// Index locks and several writers

TEST_F(HandlerMaint, AFailedIndexLockLeavesNoIndexLocked) {
  const std::string path = MakePackTable({}, false);
  {
    RecordingHandler h(path, false, true);
    h.CreateIndexTag("A.CDX", "STATION", "STATION", "", 1, 0);
    h.CreateIndexTag("B.CDX", "QTH", "QTH", "", 1, 0);
  }
  RecordingHandler h(path, true, true);
  h.SetIndexFiles("A.CDX;B.CDX", "STATION");
  HXO_DiskFile holder(PathOf("B.CDX"), true, true);
  holder.Open();
  ASSERT_TRUE(holder.LockRegion(0x7FFFFFFD, 1));
  EXPECT_EQ(TempFolder::ErrorOf([&] {
              Append(h, {"LOCKED", 20, ""});
            }),
            "Could not lock indexes for Table " + h.Name());
  HXO_DiskFile probe(PathOf("A.CDX"), true, true);
  probe.Open();
  EXPECT_TRUE(probe.LockRegion(0x7FFFFFFD, 1));
  probe.Unlock();
  holder.Unlock();
  EXPECT_EQ(h.RecordCount(), 8);  // nothing was written
  Append(h, {"FREE", 20, ""});
  EXPECT_EQ(h.RecordCount(), 9);
}

TEST_F(HandlerMaint, SeveralProcessesAppendWithTheCompoundIndexOpen) {
  const std::string path = MakePackTable({}, true);
  {
    RecordingHandler h(path, false, true);
    h.CreateIndexTag("QTH.CDX", "QTH", "QTH", "", 1, 0);
  }
  constexpr int kWriters = 3;
  constexpr int kEach = 25;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        RecordingHandler h(path, true, true);
        // Two index files: every writer locks their headers in the same (slot) order.
        h.SetIndexFiles("LOG.CDX;QTH.CDX", "STATION");
        for (int i = 0; i < kEach; ++i) {
          char station[16];
          std::snprintf(station, sizeof station, "P%d-%02d", w, i);
          h.BlankRecord();
          h.PutText("STATION", station);
          h.PutText("QTH", std::string("Q") + station);
          h.AppendRecord();
        }
      } catch (const std::exception& e) {
        std::fprintf(stderr, "writer %d: %s\n", w, e.what());
        status = 1;
      }
      _exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RecordingHandler h(path, false, true);
  EXPECT_EQ(h.RecordCount(), 8 + kWriters * kEach);
  h.SetIndexFiles("LOG.CDX", "STATION");
  std::vector<std::string> keys;
  std::vector<int32_t> records = Walk(h);
  for (int32_t r : records) {
    h.GoTo(r);
    keys.push_back(Station(h));
  }
  ASSERT_EQ(keys.size(), static_cast<size_t>(8 + kWriters * kEach));
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  std::sort(records.begin(), records.end());
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i], static_cast<int32_t>(i + 1));
  h.SetIndexFiles("QTH.CDX", "QTH");
  EXPECT_EQ(Walk(h).size(), static_cast<size_t>(8 + kWriters * kEach));
  EXPECT_TRUE(h.Find("QP2-24"));
}

}  // namespace
