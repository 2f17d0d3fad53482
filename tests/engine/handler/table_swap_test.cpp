// Pack and password change against a full disk and a crash at every step: each write, rename and
// removal of the operation fails (or the process is killed there) in turn, and the next open must
// find the whole old set of files or the whole new one, every tag agreeing with the table, every
// note in place, and appends working. Pack also gives the space of dropped and replaced notes back.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "table/hx6_dbf_build.h"
#include "handler/hx6_dbsy.h"
#include "base/hx6_glbl.h"
#include "table/hx6_memo.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

struct Row {
  std::string station;
  std::string qth;
  std::string notes;  // empty: no memo
  bool deleted = false;
};

// Twelve contacts; four deleted, most with notes, some notes rewritten longer before (so that the
// dBase III and FoxPro memo files hold dead blocks).
const std::vector<Row> kRows = {
    {"W1AW", "NEWINGTON", "first", false},  {"K2X", "BOSTON", std::string(700, 'k'), true},
    {"N3Y", "PARIS", "", false},            {"DL1A", "BERLIN", "Jos\xE9 at the key", false},
    {"W1AW", "BOSTON", "same call twice", false}, {"VE3B", "OTTAWA", std::string(300, 'v'), true},
    {"JA1Z", "TOKYO", "long path", false},  {"G4C", "LONDON", std::string(1500, 'g'), false},
    {"K2X", "AUSTIN", "", true},            {"F5D", "PARIS", "second in Paris", false},
    {"EA7", "SEVILLA", "x", true},          {"ZL2", "WELLINGTON", std::string(90, 'z'), false},
};

const char* const kIndexList = "LOG.CDX,CALLS.NDX";

class TableSwapTest : public TempFolder {
 protected:
  // Makes the logbook of dialect `dialect` (0 dBase III, 1 dBase IV, 2 FoxPro) with its compound
  // index (three tags) and a second index file, and keeps its files as the starting state.
  void MakeSet(int dialect) {
    std::unique_ptr<HXO_DBFBuild> b;
    if (dialect == 0) b = std::make_unique<HXO_DBFBuild>(PathOf("LOG.DBF"));
    if (dialect == 1) b = std::make_unique<HXO_DB4Build>(PathOf("LOG.DBF"));
    if (dialect == 2) b = std::make_unique<HXO_DBFoxBuild>(PathOf("LOG.DBF"));
    b->AddField("STATION", "C", 10, 0);
    b->AddField("QTH", "C", 12, 0);
    b->AddField("NOTES", "M", 10, 0);
    b->CreateFiles();
    b.reset();
    {
      HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
      for (const Row& r : kRows) {
        h.BlankRecord();
        h.PutText("STATION", r.station);
        h.PutText("QTH", r.qth);
        h.AppendRecord();
        if (!r.notes.empty()) {
          h.PutMemo("NOTES", r.notes.substr(0, r.notes.size() / 3));
          h.UpdateRecord(h.RecNo());
          h.PutMemo("NOTES", r.notes);
          h.UpdateRecord(h.RecNo());
        }
        if (r.deleted) h.DeleteRecord();
      }
      h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
      h.CreateIndexTag("LOG.CDX", "QTH", "QTH", "", 1, 0);
      h.CreateIndexTag("LOG.CDX", "QS", "QTH+STATION", "", 1, 0);
      h.CreateIndexTag("CALLS.NDX", "", "STATION+QTH", "", 1, 0);
    }
    HXO_DiskFile::CloseAllFiles();
    start_.clear();
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      start_[entry.path().filename().string()] = Contents(entry.path().string());
  }

  void Restore() {
    HXO_DiskFile::CloseAllFiles();
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      std::filesystem::remove(entry.path());
    for (const auto& [name, content] : start_) Put(name, content);
  }

  // The rows the table holds: all of them before a pack, the live ones after.
  static std::vector<Row> Expected(bool packed) {
    std::vector<Row> out;
    for (const Row& r : kRows)
      if (!packed || !r.deleted) out.push_back(r);
    return out;
  }

  static std::string Key(HXO_dBHandler& h, const std::string& expression) {
    std::string key;
    size_t begin = 0;
    while (begin <= expression.size()) {
      size_t plus = expression.find('+', begin);
      if (plus == std::string::npos) plus = expression.size();
      std::string name = expression.substr(begin, plus - begin);
      name.erase(0, name.find_first_not_of(' '));
      name.erase(name.find_last_not_of(' ') + 1);
      key += h.GetString(name);
      begin = plus + 1;
    }
    return key;
  }

  // Opens the table after an interrupted operation and checks it whole: it is the old set or the
  // new one (`isNew` tells which), records, notes and every tag agree, no staged file is left,
  // and an append reaches the table, its memo file and every tag. `newKey`: the key the new set
  // has (a password change), or empty.
  void CheckSet(bool packing, const std::string& newKey, bool& isNew) {
    HXO_DiskFile::CloseAllFiles();
    std::unique_ptr<HXO_dBHandler> opened;
    std::string key;
    try {
      opened = std::make_unique<HXO_dBHandler>(PathOf("LOG.DBF"), false, true);
    } catch (const ESorrelEncryption&) {
      ASSERT_FALSE(newKey.empty()) << "an encrypted table where none was asked for";
      key = newKey;
      opened = std::make_unique<HXO_dBHandler>(PathOf("LOG.DBF"), false, true, newKey);
    }
    HXO_dBHandler& h = *opened;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      EXPECT_NE(entry.path().filename().string().rfind("~$", 0), 0u) << entry.path();
    if (packing) {
      ASSERT_TRUE(h.RecordCount() == 12 || h.RecordCount() == 8) << h.RecordCount();
      isNew = h.RecordCount() == 8;
    } else {
      isNew = !key.empty();
    }
    const std::vector<Row> rows = Expected(packing && isNew);
    ASSERT_EQ(h.RecordCount(), static_cast<int32_t>(rows.size()));
    h.SetShowDeleted(true);
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(i + 1);
      h.GoTo(static_cast<int32_t>(i + 1));
      EXPECT_EQ(h.GetString("STATION"), (rows[i].station + std::string(10, ' ')).substr(0, 10));
      EXPECT_EQ(h.IsDeleted(), rows[i].deleted);
      EXPECT_EQ(h.GetMemo("NOTES"), rows[i].notes);
    }

    h.SetIndexFiles(kIndexList, "");
    ASSERT_EQ(h.TagCount(), 4);
    CheckTags(h, static_cast<int32_t>(rows.size()));

    // Appends go on working, with a note, into every tag.
    h.SelectMasterTag("", false);
    h.BlankRecord();
    h.PutText("STATION", "AA1NEW");
    h.PutText("QTH", "ANYWHERE");
    h.AppendRecord();
    h.PutMemo("NOTES", "after the interruption");
    h.UpdateRecord(h.RecNo());
    EXPECT_EQ(h.RecordCount(), static_cast<int32_t>(rows.size()) + 1);
    CheckTags(h, static_cast<int32_t>(rows.size()) + 1);
    h.SelectMasterTag("STATION", false);
    EXPECT_TRUE(h.Find("AA1NEW"));
    EXPECT_EQ(h.GetMemo("NOTES"), "after the interruption");
  }

  // Every tag walked in order holds exactly the table's records, each under its key, sorted.
  static void CheckTags(HXO_dBHandler& h, int32_t count) {
    for (int n = 1; n <= h.TagCount(); ++n) {
      const std::string name = h.TagByPosition(n)->TagName();
      const std::string expression = h.TagByPosition(n)->KeyExpressionText();
      SCOPED_TRACE(name);
      std::vector<std::pair<std::string, int32_t>> expected;
      h.SelectMasterTag("", false);
      for (int32_t r = 1; r <= count; ++r) {
        h.GoTo(r);
        expected.emplace_back(Key(h, expression), r);
      }
      std::sort(expected.begin(), expected.end());
      h.SelectMasterTag(name, false);
      std::vector<std::pair<std::string, int32_t>> walked;
      for (h.GoTo(kGotoFirst); !h.Eof() && !h.Bof(); h.GoTo(kGotoNext))
        walked.emplace_back(Key(h, expression), h.RecNo());
      for (size_t i = 1; i < walked.size(); ++i) EXPECT_LE(walked[i - 1].first, walked[i].first);
      std::sort(walked.begin(), walked.end());
      EXPECT_EQ(walked, expected);
    }
  }

  // Runs the operation on the starting state with the index files open.
  static void Operate(bool packing, const std::string& newKey, const std::string& path) {
    HXO_dBHandler h(path, false, true);
    h.SetIndexFiles(kIndexList, "QTH");
    if (packing)
      h.Pack();
    else
      h.SetPassword(newKey);
  }

  // How many disk operations the operation makes, from the starting state.
  int64_t CountOperations(bool packing, const std::string& newKey) {
    Restore();
    ArmDiskFaults({DiskFaultPlan::kCount});
    Operate(packing, newKey, PathOf("LOG.DBF"));
    DisarmDiskFaults();
    return DiskFaultOperationCount();
  }

  // Fails each operation in turn (some after a few bytes of a write), reopens and checks.
  void SweepFailures(bool packing, const std::string& newKey) {
    const int64_t operations = CountOperations(packing, newKey);
    ASSERT_GT(operations, 10);
    int sawOld = 0, sawNew = 0;
    for (int64_t at = 1; at <= operations; ++at) {
      SCOPED_TRACE("operation " + std::to_string(at) + " of " + std::to_string(operations));
      Restore();
      {
        HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
        h.SetIndexFiles(kIndexList, "QTH");
        ArmDiskFaults({DiskFaultPlan::kFail, at, at % 3 == 0 ? 7 : -1, true});
        try {
          if (packing)
            h.Pack();
          else
            h.SetPassword(newKey);
        } catch (const ESorrelException&) {
        }
        DisarmDiskFaults();
        EXPECT_TRUE(DiskFaultTriggered());
      }
      bool isNew = false;
      CheckSet(packing, newKey, isNew);
      (isNew ? sawNew : sawOld)++;
      if (HasFailure()) return;
    }
    // Failures before the commit keep the old set; after it the new one stands.
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
  }

  // Kills a child process at each operation in turn; the parent reopens and checks.
  void SweepKills(bool packing, const std::string& newKey) {
    const int64_t operations = CountOperations(packing, newKey);
    int sawOld = 0, sawNew = 0;
    for (int64_t at = 1; at <= operations + 1; ++at) {
      SCOPED_TRACE("killed at operation " + std::to_string(at) + " of " + std::to_string(operations));
      Restore();
      const std::string path = PathOf("LOG.DBF");
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ArmDiskFaults({DiskFaultPlan::kKill, at, at % 2 == 0 ? 5 : -1, true});
        try {
          Operate(packing, newKey, path);
        } catch (...) {
          _exit(2);
        }
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      if (at <= operations)
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
      else
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      bool isNew = false;
      CheckSet(packing, newKey, isNew);
      (isNew ? sawNew : sawOld)++;
      if (HasFailure()) return;
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
  }

  std::map<std::string, std::string> start_;
};

TEST_F(TableSwapTest, PackStoppedByAFullDiskAtAnyWriteLeavesTheOldSetOrTheNew) {
  MakeSet(2);
  SweepFailures(true, "");
}

TEST_F(TableSwapTest, PasswordChangeStoppedByAFullDiskAtAnyWriteLeavesTheOldSetOrTheNew) {
  MakeSet(0);
  SweepFailures(false, "secret");
}

TEST_F(TableSwapTest, PackKilledAtAnyStepIsFoundWholeByTheNextOpen) {
  MakeSet(1);
  SweepKills(true, "");
}

TEST_F(TableSwapTest, PasswordChangeKilledAtAnyStepIsFoundWholeByTheNextOpen) {
  MakeSet(2);
  SweepKills(false, "secret");
}

TEST_F(TableSwapTest, PackCompactsTheMemoFileAndKeepsEveryNote) {
  for (int dialect = 0; dialect < 3; ++dialect) {
    SCOPED_TRACE(dialect);
    MakeSet(dialect);
    const std::string memoName = dialect == 2 ? "LOG.FPT" : "LOG.DBT";
    const auto before = std::filesystem::file_size(PathOf(memoName));
    {
      HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
      // Nothing deleted: only the dead blocks of rewritten notes are there to give back.
      h.SetShowDeleted(true);
      for (int32_t r = 1; r <= h.RecordCount(); ++r) {
        h.GoTo(r);
        h.RecallRecord();
      }
      h.Pack();
      EXPECT_EQ(h.RecordCount(), 12);
      for (size_t i = 0; i < kRows.size(); ++i) {
        h.GoTo(static_cast<int32_t>(i + 1));
        EXPECT_EQ(h.GetMemo("NOTES"), kRows[i].notes) << i;
      }
    }
    const auto after = std::filesystem::file_size(PathOf(memoName));
    EXPECT_LT(after, before);
    // Every note written once, in whole blocks: at most one partly used block per note.
    size_t text = 0, notes = 0;
    for (const Row& r : kRows) text += r.notes.size(), notes += r.notes.empty() ? 0 : 1;
    const size_t block = dialect == 2 ? 64 : 512;
    const size_t header = 512;
    EXPECT_LE(after, header + text + notes * (8 + block));
    HXO_DiskFile::CloseAllFiles();
    Restore();
    for (const auto& [name, content] : start_) std::filesystem::remove(PathOf(name));
  }
}

TEST_F(TableSwapTest, AnIndexFileInAnotherFolderIsRebuiltWhereItIs) {
  MakeSet(1);
  std::filesystem::create_directory(PathOf("idx"));
  const std::string other = PathOf("idx/OTHER.NDX");
  {
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    h.CreateIndexTag(other, "", "QTH", "", 1, 0);
    h.SetIndexFiles(other, "OTHER");
    h.Pack();
    EXPECT_EQ(h.RecordCount(), 8);
    std::vector<std::string> qths;
    for (h.GoTo(kGotoFirst); !h.Eof(); h.GoTo(kGotoNext)) qths.push_back(h.GetString("QTH"));
    EXPECT_EQ(qths.size(), 8u);
    EXPECT_TRUE(std::is_sorted(qths.begin(), qths.end()));
  }
  EXPECT_FALSE(std::filesystem::exists(PathOf("OTHER.NDX")));
  for (const char* folder : {"", "idx/"})
    for (const auto& entry : std::filesystem::directory_iterator(PathOf(folder)))
      EXPECT_NE(entry.path().filename().string().rfind("~$", 0), 0u) << entry.path();
  HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
  h.SetIndexFiles(other, "OTHER");
  h.GoTo(kGotoLast);
  EXPECT_EQ(h.GetString("QTH"), "WELLINGTON  ");
}

}  // namespace
