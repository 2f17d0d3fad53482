// Several programs appending to one table at once: forked children, each with its own table
// handle, append while others rewrite a record (and so the header) in a loop. Every record must
// arrive exactly once, the header count must never go back, and the file must stay readable by
// other tools.
#include <sys/wait.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "base/hx6_glbl.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

const std::vector<Field> kFields = {{"WHO", 'C', 4}, {"SEQ", 'N', 6}, {"PAYLOAD", 'C', 40}};
constexpr int kRecordLength = 1 + 4 + 6 + 40;
constexpr int kHeaderLength = 32 * 3 + 33;
constexpr int kAppenders = 6;
constexpr int kPerAppender = 150;

std::string Payload(int who, int seq) {
  std::string text = "contact " + std::to_string(who) + "/" + std::to_string(seq) + " ";
  while (text.size() < 40) text += static_cast<char>('a' + (who * 7 + seq + static_cast<int>(text.size())) % 26);
  return text;
}

std::string Rec(int who, int seq) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, " W%-3d%6d", who, seq);
  return std::string(buffer) + Payload(who, seq);
}

// Runs `body` in a child that exits 0 when it returns and 1 when it throws.
template <class Body>
pid_t Spawn(int startPipe, Body body) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  char go = 0;
  if (read(startPipe, &go, 1) != 1) _exit(2);
  try {
    body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "child %d: %s\n", static_cast<int>(getpid()), e.what());
    _exit(1);
  }
  _exit(0);
}

std::string RunPython(const std::string& script, int& status) {
  const std::string command = "/usr/bin/python3 -c '" + script + "' 2>&1";
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return out;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  status = pclose(pipe);
  return out;
}

class DbfRaceTest : public TempFolder {};

TEST_F(DbfRaceTest, ForkedAppendersEachGetTheirOwnRecords) {
  for (ThxLokProtocol protocol : {ThxLokProtocol::Default, ThxLokProtocol::DB4Lock}) {
    SCOPED_TRACE(static_cast<int>(protocol));
    // Record 1 belongs to the rewriting children.
    const std::string path = Put("race.dbf", TableImage(0x03, kFields, {Rec(0, 0)}));
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (int who = 1; who <= kAppenders; ++who) {
      children.push_back(Spawn(start[0], [&, who] {
        HXO_dBaseDBF t(path, true, true);
        t.SetLockProtocol(protocol);
        for (int seq = 1; seq <= kPerAppender; ++seq) {
          const std::string r = Rec(who, seq);
          std::copy(r.begin(), r.end(), t.RecordBuffer());
          t.AppendRecord();
        }
        t.Close();
      }));
    }
    // Two children rewrite record 1 (and so the header) all the while, one under its record lock.
    for (bool recordLock : {true, false}) {
      children.push_back(Spawn(start[0], [&, recordLock] {
        HXO_dBaseDBF t(path, true, true);
        t.SetLockProtocol(protocol);
        for (int i = 0; i < 1000; ++i) {
          t.GotoRecord(1);
          if (recordLock && !t.RecordLock()) throw std::runtime_error("record 1 is locked");
          t.UpdateRecord(1);
          if (recordLock) t.FileUnlock();
        }
        t.Close();
      }));
    }
    close(start[0]);
    const std::string go(children.size(), 'g');
    ASSERT_EQ(write(start[1], go.data(), go.size()), static_cast<ssize_t>(go.size()));
    close(start[1]);

    // Meanwhile the header count, as other readers see it, only ever grows.
    HXO_DiskFile watcher(path, true, false);
    watcher.Open();
    uint32_t lastCount = 0;
    bool wentBack = false;
    int running = static_cast<int>(children.size());
    std::map<pid_t, int> statuses;
    while (running > 0) {
      uint8_t count[4];
      if (watcher.Read(4, count, 4) == 4) {
        const uint32_t now = DecodeLE32(count);
        if (now < lastCount) wentBack = true;
        lastCount = std::max(lastCount, now);
      }
      int status = 0;
      const pid_t done = waitpid(-1, &status, WNOHANG);
      if (done > 0) {
        statuses[done] = status;
        --running;
      } else {
        sched_yield();
      }
    }
    watcher.Close();
    for (const auto& [pid, status] : statuses) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << pid << " status " << status;
    }
    EXPECT_FALSE(wentBack);

    const int total = 1 + kAppenders * kPerAppender;
    const std::string image = Contents(path);
    ASSERT_EQ(image.size(), static_cast<size_t>(kHeaderLength + total * kRecordLength + 1));
    EXPECT_EQ(image.back(), '\x1A');
    EXPECT_EQ(DecodeLE32(image.data() + 4), static_cast<uint32_t>(total));
    std::set<std::string> expected, found;
    for (int who = 1; who <= kAppenders; ++who)
      for (int seq = 1; seq <= kPerAppender; ++seq) expected.insert(Rec(who, seq));
    EXPECT_EQ(image.substr(kHeaderLength, kRecordLength), Rec(0, 0));
    for (int r = 1; r < total; ++r) {
      const std::string record = image.substr(static_cast<size_t>(kHeaderLength + r * kRecordLength), kRecordLength);
      EXPECT_TRUE(found.insert(record).second) << "record " << r + 1 << " twice: " << record;
    }
    EXPECT_EQ(found, expected);
    {
      HXO_dBaseDBF t(path, true, false);
      EXPECT_EQ(t.RecordCount(), total);
    }

    // Another tool reads the same records.
    int status = 0;
    RunPython("import dbfread", status);
    if (status != 0) {
      ADD_FAILURE() << "python3-dbfread is not installed";
      continue;
    }
    const std::string out = RunPython(
        "import dbfread, sys\n"
        "t = dbfread.DBF(\"" + path + "\", encoding=\"cp1252\")\n"
        "for r in t: sys.stdout.write(\"%s|%d|%s\\n\" % (r[\"WHO\"], r[\"SEQ\"], r[\"PAYLOAD\"]))\n",
        status);
    ASSERT_EQ(status, 0) << out;
    std::multiset<std::string> lines;
    size_t from = 0;
    for (size_t nl; (nl = out.find('\n', from)) != std::string::npos; from = nl + 1) lines.insert(out.substr(from, nl - from));
    std::multiset<std::string> want = {"W0|0|" + Payload(0, 0)};
    for (int who = 1; who <= kAppenders; ++who)
      for (int seq = 1; seq <= kPerAppender; ++seq)
        want.insert("W" + std::to_string(who) + "|" + std::to_string(seq) + "|" + Payload(who, seq));
    EXPECT_EQ(lines, want);
    HXO_DiskFile::CloseAllFiles();
  }
}

}  // namespace
