#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/SysSorl.h"
#include "base/hx6_disk.h"
#include "base/hx6_glbl.h"

namespace fs = std::filesystem;

namespace {

class DiskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "disk_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    HXO_DiskFile::CloseAllFiles();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

  std::string MakeFile(const std::string& name, const std::string& content) const {
    std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Opens `path` with the given mode and returns the open object.
  static std::unique_ptr<HXO_DiskFile> OpenFile(const std::string& path, bool shared,
                                                bool readWrite) {
    auto file = std::make_unique<HXO_DiskFile>(path, shared, readWrite);
    file->Open();
    return file;
  }

  // The message of the ESorrelError that `action` raises, or "" when it raises none.
  template <class Action>
  static std::string ErrorOf(Action action) {
    try {
      action();
    } catch (const ESorrelError& e) {
      return e.Message();
    }
    return "";
  }

  std::string dir_;
};

// The byte-range lock another descriptor would meet at `offset` (F_UNLCK when free).
short LockTypeSeenAt(const std::string& path, int64_t offset, int64_t length) {
  int fd = open(path.c_str(), O_RDWR);
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = offset;
  probe.l_len = length;
  fcntl(fd, F_OFD_GETLK, &probe);
  close(fd);
  return probe.l_type;
}

}  // namespace

TEST_F(DiskFileTest, CreateNotesExistenceAndMissingFileRefusesToOpen) {
  std::string missing = PathOf("none.dbf");
  HXO_DiskFile file(missing, true, true);
  EXPECT_FALSE(file.Exists());
  EXPECT_TRUE(file.Closed());
  EXPECT_EQ(file.Handle(), 0);
  EXPECT_EQ(ErrorOf([&] { file.Open(); }), "File " + missing + " could not be found");
  EXPECT_TRUE(file.Closed());
  EXPECT_EQ(HXO_DiskFile::Registry()->IndexOf(&file), -1);

  EXPECT_FALSE(HXO_DiskFile(dir_, true, true).Exists()) << "a folder is not a file";
}

TEST_F(DiskFileTest, NamesAreExpandedAgainstTheCurrentDirectory) {
  std::string cwd = fs::current_path().string();
  EXPECT_EQ(ExpandFileName("LOG.DBF"), cwd + "/LOG.DBF");
  EXPECT_EQ(ExpandFileName("a/./b/../LOG.DBF"), cwd + "/a/LOG.DBF");
  EXPECT_EQ(ExpandFileName("/data//logs/LOG.DBF"), "/data//logs/LOG.DBF");
  EXPECT_EQ(HXO_DiskFile("x.dbf", false, false).Name(), cwd + "/x.dbf");
}

TEST_F(DiskFileTest, FileNamesResolveWithoutRegardToCase) {
  std::string actual = MakeFile("Logbook.Dbf", "abc");
  EXPECT_EQ(ResolveFileNameCase(PathOf("LOGBOOK.DBF")), actual);
  EXPECT_EQ(ResolveFileNameCase(actual), actual);
  EXPECT_EQ(ResolveFileNameCase(PathOf("LOGBOOK.CDX")), PathOf("LOGBOOK.CDX"));
  EXPECT_EQ(ResolveFileNameCase(dir_ + "/nofolder/LOGBOOK.DBF"), dir_ + "/nofolder/LOGBOOK.DBF");

  // Several entries differing only in case: the exact one wins, otherwise the first in byte order.
  std::string upper = MakeFile("LOGBOOK.DBF", "xyz");
  EXPECT_EQ(ResolveFileNameCase(upper), upper);
  EXPECT_EQ(ResolveFileNameCase(PathOf("logbook.dbf")), upper);

  // A folder of that name does not count as the file.
  fs::create_directory(PathOf("States.dbf"));
  EXPECT_EQ(ResolveFileNameCase(PathOf("STATES.DBF")), PathOf("STATES.DBF"));

  auto file = OpenFile(PathOf("logbook.DBF"), true, false);
  EXPECT_EQ(file->Name(), upper);
  char buffer[3];
  EXPECT_EQ(file->Read(0, buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "xyz");
}

TEST_F(DiskFileTest, ReadAndWriteArePositionedAndUnbuffered) {
  std::string path = MakeFile("data.dbf", "0123456789");
  auto file = OpenFile(path, true, true);
  EXPECT_FALSE(file->Closed());
  EXPECT_GT(file->Handle(), 2);
  EXPECT_EQ(file->OpenMode(), 0x42);

  file->Write(4, "AB", 2);
  EXPECT_TRUE(file->Dirty());
  EXPECT_EQ(file->Position(), 6);
  EXPECT_EQ(file->BytesMoved(), 2);
  EXPECT_EQ(Contents(path), "0123AB6789") << "a write reaches the file at once";

  char buffer[8] = {};
  EXPECT_EQ(file->Read(7, buffer, 8), 3) << "a read past the end is short, not an error";
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(file->Position(), 15) << "position counts the requested bytes";
  EXPECT_EQ(file->BytesMoved(), 3);
  EXPECT_EQ(file->FileSize(), 10);

  file->Write(12, "Z", 1);  // a write past the end extends the file
  EXPECT_EQ(file->FileSize(), 13);

  file->Flush();
  EXPECT_FALSE(file->Dirty());
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(file->Position(), 0);
  EXPECT_EQ(file->Handle(), 0);
  EXPECT_EQ(ErrorOf([&] { file->Read(0, buffer, 1); }), "Error on Read of file " + path);
  EXPECT_EQ(ErrorOf([&] { file->FileSize(); }), "Error getting FileSize for file " + path);
  EXPECT_EQ(ErrorOf([&] { file->Flush(); }), "") << "flushing a closed file does nothing";
}

TEST_F(DiskFileTest, ReadOnlyObjectsRefuseToWrite) {
  std::string path = MakeFile("ro.dbf", "keep");
  auto file = OpenFile(path, false, false);
  EXPECT_EQ(file->OpenMode(), 0x00);
  EXPECT_EQ(ErrorOf([&] { file->Write(0, "lost", 4); }), "Error writing to " + path);
  EXPECT_FALSE(file->Dirty());
  EXPECT_EQ(Contents(path), "keep");
}

TEST_F(DiskFileTest, SharedLocksNestOnOneRegion) {
  std::string path = MakeFile("t.dbf", "x");
  auto first = OpenFile(path, true, true);
  auto second = OpenFile(path, true, true);

  // A region far past the end of the file.
  ASSERT_TRUE(first->LockRegion(0x7FFFFFFE, 1));
  ASSERT_TRUE(first->LockRegion(0x7FFFFFFE, 1));
  EXPECT_EQ(first->LockCount(), 2);
  EXPECT_FALSE(second->LockRegion(0x7FFFFFFE, 1)) << "two handles of one process conflict";
  EXPECT_EQ(second->LockCount(), 0);

  EXPECT_FALSE(first->LockRegion(0x40000000, 1)) << "one region per file object";
  EXPECT_EQ(first->LockCount(), 2);
  EXPECT_EQ(first->LockOffset(), 0x7FFFFFFE);
  EXPECT_TRUE(second->LockRegion(0x40000000, 1)) << "the refused region was never locked";
  EXPECT_TRUE(second->Unlock());

  EXPECT_TRUE(first->Unlock());
  EXPECT_EQ(first->LockCount(), 1);
  EXPECT_FALSE(second->LockRegion(0x7FFFFFFE, 1)) << "held until the last level goes";
  EXPECT_TRUE(first->Unlock());
  EXPECT_EQ(first->LockCount(), 0);
  EXPECT_TRUE(second->LockRegion(0x7FFFFFFE, 1));
  EXPECT_TRUE(first->Unlock()) << "unlocking with nothing held does nothing";
  EXPECT_EQ(first->LockCount(), 0);

  // Overlapping regions conflict too, and CountLock adds a level without a system call.
  EXPECT_FALSE(first->LockRegion(0, kWholeFileLockLength));
  second->CountLock();
  EXPECT_EQ(second->LockCount(), 2);
}

TEST_F(DiskFileTest, ReadOnlySharedHandlesTakeLocksThatKeepWritersOut) {
  std::string path = MakeFile("t.dbf", "x");
  auto reader = OpenFile(path, true, false);
  auto writer = OpenFile(path, true, true);
  ASSERT_TRUE(reader->LockRegion(100, 10));
  EXPECT_FALSE(writer->LockRegion(105, 1));
  EXPECT_EQ(LockTypeSeenAt(path, 100, 1), F_WRLCK);
  reader->Unlock();
  EXPECT_TRUE(writer->LockRegion(105, 1));

  // A descriptor that could only be opened for reading still locks (a read lock), and the lock
  // keeps out writers.
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(SysLockRegion(fd, 200, 1));
  EXPECT_EQ(LockTypeSeenAt(path, 200, 1), F_RDLCK);
  EXPECT_TRUE(SysUnlockRegion(fd, 200, 1));
  EXPECT_EQ(LockTypeSeenAt(path, 200, 1), F_UNLCK);
  close(fd);
}

TEST_F(DiskFileTest, ExclusiveFilesLockWithoutTheSystem) {
  std::string path = MakeFile("t.dbf", "x");
  auto file = OpenFile(path, false, true);
  EXPECT_EQ(file->OpenMode(), 0x02);
  EXPECT_TRUE(file->LockRegion(0x7FFFFFFE, 1));
  EXPECT_TRUE(file->LockRegion(0x40000000, 5)) << "no one-region rule without sharing";
  EXPECT_EQ(file->LockCount(), 2);
  EXPECT_EQ(file->LockOffset(), 0x40000000);
  EXPECT_EQ(LockTypeSeenAt(path, 0, kWholeFileLockLength), F_UNLCK);
  EXPECT_TRUE(file->LockFile());
  EXPECT_EQ(file->LockCount(), 2) << "the whole-file lock of an exclusive file is a no-op";
}

TEST_F(DiskFileTest, ExclusiveOpenRefusesEveryOtherOpener) {
  std::string path = MakeFile("t.dbf", "x");
  std::string denied = "Access denied to file " + path;
  {
    auto shared1 = OpenFile(path, true, true);
    auto shared2 = OpenFile(path, true, false);
    EXPECT_FALSE(shared2->Closed()) << "shared openers coexist";
    HXO_DiskFile exclusive(path, false, false);
    EXPECT_EQ(ErrorOf([&] { exclusive.Open(); }), denied);
    EXPECT_TRUE(exclusive.Closed());
    EXPECT_EQ(HXO_DiskFile::Registry()->IndexOf(&exclusive), -1);
  }
  auto exclusive = OpenFile(path, false, true);
  HXO_DiskFile shared(path, true, true);
  EXPECT_EQ(ErrorOf([&] { shared.Open(); }), denied);
  HXO_DiskFile another(path, false, false);
  EXPECT_EQ(ErrorOf([&] { another.Open(); }), denied);

  // The open-mode marker lies clear of every lock the engine takes.
  EXPECT_FALSE(exclusive->LockRegion(kOpenModeLockOffset, 1));
  exclusive->Close();
  shared.Open();
  EXPECT_FALSE(shared.Closed());
  EXPECT_FALSE(shared.LockRegion(kOpenModeLockOffset - 1, 2));
  EXPECT_TRUE(shared.LockRegion(0xEFFFFFFE, 2));
}

TEST_F(DiskFileTest, TruncateNeedsFullAccess) {
  std::string path = MakeFile("t.dbf", "0123456789");
  std::string refused = "Truncate requires full access to file " + path;
  {
    auto exclusive = OpenFile(path, false, true);
    exclusive->Truncate(4);  // no lock needed without sharing
    EXPECT_EQ(Contents(path), "0123");
    exclusive->Truncate(6);  // extends with zero bytes
    EXPECT_EQ(Contents(path), std::string("0123\0\0", 6));
  }
  {
    auto readOnly = OpenFile(path, false, false);
    EXPECT_EQ(ErrorOf([&] { readOnly->Truncate(0); }), refused);
  }
  auto shared = OpenFile(path, true, true);
  EXPECT_EQ(ErrorOf([&] { shared->Truncate(2); }), refused);
  ASSERT_TRUE(shared->LockRegion(0, 100));
  EXPECT_EQ(ErrorOf([&] { shared->Truncate(2); }), refused) << "only the whole-file region counts";
  shared->Unlock();
  ASSERT_TRUE(shared->LockFile());
  shared->Truncate(2);
  EXPECT_EQ(shared->FileSize(), 2);
  EXPECT_EQ(ErrorOf([&] { shared->Truncate(-1); }), "Error in Truncate of file " + path);
  EXPECT_EQ(shared->FileSize(), 2);
}

TEST_F(DiskFileTest, CloseReleasesANestedLockOnce) {
  std::string path = MakeFile("t.dbf", "x");
  auto first = OpenFile(path, true, true);
  auto second = OpenFile(path, true, true);
  ASSERT_TRUE(first->LockRegion(10, 1));
  first->CountLock();
  ASSERT_TRUE(first->LockRegion(10, 1));
  EXPECT_TRUE(first->Close());
  EXPECT_EQ(first->LockCount(), 0);
  EXPECT_TRUE(first->Closed());
  EXPECT_EQ(HXO_DiskFile::Registry()->IndexOf(first.get()), -1);
  EXPECT_TRUE(second->LockRegion(10, 1));
  EXPECT_TRUE(first->Close()) << "closing twice is harmless";
  first->Open();  // and the object opens again
  EXPECT_NE(HXO_DiskFile::Registry()->IndexOf(first.get()), -1);
}

TEST_F(DiskFileTest, CloseAllFilesSweepsTheRegistry) {
  std::string a = MakeFile("a.dbf", "a");
  std::string b = MakeFile("b.dbf", "b");
  auto fileA = OpenFile(a, true, true);
  auto fileB = OpenFile(b, false, true);
  HXO_DiskFile never(PathOf("c.dbf"), true, true);
  ASSERT_NE(HXO_DiskFile::Registry(), nullptr);
  EXPECT_EQ(HXO_DiskFile::Registry()->Count(), 2);
  ASSERT_TRUE(fileA->LockRegion(5, 1));
  ASSERT_TRUE(fileA->LockRegion(5, 1));

  HXO_DiskFile::CloseAllFiles();
  EXPECT_EQ(HXO_DiskFile::Registry(), nullptr);
  for (HXO_DiskFile* file : {fileA.get(), fileB.get()}) {
    EXPECT_TRUE(file->Closed());
    EXPECT_EQ(file->Handle(), 0);
    EXPECT_EQ(file->LockCount(), 0);
    EXPECT_TRUE(file->Close());
  }
  EXPECT_EQ(LockTypeSeenAt(a, 5, 1), F_UNLCK);
  auto again = OpenFile(b, false, true);  // the exclusive open was released too
  ASSERT_NE(HXO_DiskFile::Registry(), nullptr) << "the next open makes a new registry";
  EXPECT_EQ(HXO_DiskFile::Registry()->Count(), 1);
  HXO_DiskFile::CloseAllFiles();
  HXO_DiskFile::CloseAllFiles();  // a second sweep finds nothing to do
}

TEST_F(DiskFileTest, RenameMovesTheFileAndReopensIt) {
  std::string from = MakeFile("old.dbf", "data");
  auto file = OpenFile(from, true, true);
  EXPECT_TRUE(file->Rename(PathOf("new.dbf")));
  EXPECT_EQ(file->Name(), PathOf("new.dbf"));
  EXPECT_FALSE(file->Closed());
  EXPECT_FALSE(fs::exists(from));
  char buffer[4];
  EXPECT_EQ(file->Read(0, buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "data");

  // Renaming onto an existing file fails and leaves that file alone.
  std::string other = MakeFile("other.dbf", "precious");
  EXPECT_EQ(ErrorOf([&] { file->Rename(other); }), "Error on Rename of file " + PathOf("new.dbf"));
  EXPECT_EQ(Contents(other), "precious");
  EXPECT_EQ(Contents(PathOf("new.dbf")), "data");
}

TEST_F(DiskFileTest, RewriteCreatesAnEmptyFile) {
  HXO_DiskFile fresh(PathOf("new.cdx"), false, true);
  EXPECT_FALSE(fresh.Exists());
  fresh.Rewrite();
  EXPECT_TRUE(fresh.Exists());
  EXPECT_FALSE(fresh.Closed());
  EXPECT_EQ(fresh.FileSize(), 0);
  fresh.Close();

  std::string path = MakeFile("old.cdx", "old contents");
  {
    HXO_DiskFile file(path, true, true);
    file.Rewrite();
    EXPECT_EQ(file.OpenMode(), 0x42) << "reopened in the object's own mode";
    EXPECT_EQ(file.FileSize(), 0);
  }

  // A file someone still has open is not emptied under them.
  MakeFile("busy.cdx", "in use");
  auto user = OpenFile(PathOf("busy.cdx"), true, false);
  HXO_DiskFile creator(PathOf("busy.cdx"), false, true);
  EXPECT_EQ(ErrorOf([&] { creator.Rewrite(); }), "Could not create file " + PathOf("busy.cdx"));
  EXPECT_EQ(Contents(PathOf("busy.cdx")), "in use");

  HXO_DiskFile nowhere(dir_ + "/missing/x.cdx", false, true);
  EXPECT_EQ(ErrorOf([&] { nowhere.Rewrite(); }), "Could not create file " + dir_ + "/missing/x.cdx");
  EXPECT_FALSE(nowhere.Exists());
}

TEST_F(DiskFileTest, RetryingLockGivesUpWithTheFileName) {
  std::string path = MakeFile("t.dbt", "x");
  auto holder = OpenFile(path, true, true);
  auto waiter = OpenFile(path, true, true);
  ASSERT_TRUE(holder->LockRegion(0x7FFFFFFD, 1));
  EXPECT_EQ(ErrorOf([&] { LockRegionWithRetry(*waiter, 0x7FFFFFFD, 1, 100, 10); }),
            "Can not Lock file " + path);
  EXPECT_EQ(waiter->LockCount(), 0);
  holder->Unlock();
  LockRegionWithRetry(*waiter, 0x7FFFFFFD, 1);
  EXPECT_EQ(waiter->LockCount(), 1);
  EXPECT_EQ(kLockRetryTotalMs / kLockRetryStepMs, 100);
  waiter->Unlock();

  // A lock released while the other handle waits is taken at its next attempt.
  ASSERT_TRUE(holder->LockRegion(0x7FFFFFFD, 1));
  std::thread waiting([&] { LockRegionWithRetry(*waiter, 0x7FFFFFFD, 1); });
  SysSleep(20);
  holder->Unlock();
  waiting.join();
  EXPECT_EQ(waiter->LockCount(), 1);
}

TEST(LockRetry, WaitsStartShortGrowToTheStepAndAddUpToTheOldTotal) {
  struct Case {
    int total, step;
    std::vector<int> first;  // the first waits
    int sum;
  };
  for (const Case& c : {Case{5000, 50, {1, 2, 4, 8, 16, 32, 50, 50}, 4950},
                        Case{100, 10, {1, 2, 4, 8, 10, 10}, 90}, Case{30, 10, {1, 2, 4, 8, 5}, 20},
                        Case{50, 50, {}, 0}, Case{40, 50, {}, 0}, Case{100, 0, {}, 0}}) {
    const std::vector<int> waits = LockRetryWaits(c.total, c.step);
    ASSERT_GE(waits.size(), c.first.size()) << c.total << "/" << c.step;
    EXPECT_TRUE(std::equal(c.first.begin(), c.first.end(), waits.begin())) << c.total;
    EXPECT_EQ(std::accumulate(waits.begin(), waits.end(), 0), c.sum) << c.total;
    for (const int w : waits) {
      EXPECT_GT(w, 0);
      EXPECT_LE(w, c.step);
    }
  }
  EXPECT_EQ(LockRetryWaits(), LockRetryWaits(kLockRetryTotalMs, kLockRetryStepMs));
}

TEST(SysSorlFile, WrappersRefuseCallerErrors) {
  EXPECT_FALSE(SysFlushFile(-1));
  EXPECT_EQ(SysTruncateFile(-1, 0), -1);
  EXPECT_FALSE(SysLockRegion(-1, 0, 1));
  EXPECT_FALSE(SysLockRegion(3, -1, 1));
  EXPECT_FALSE(SysUnlockRegion(3, 0, -1));
  SysSleep(-5);  // returns at once
}

TEST(SysSorlFile, AliasFolderFollowsTheEnvironment) {
  std::string savedSorrel = getenv("SORREL_CONFIG_DIR") ? getenv("SORREL_CONFIG_DIR") : "";
  std::string savedXdg = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  std::string savedHome = getenv("HOME") ? getenv("HOME") : "";

  setenv("SORREL_CONFIG_DIR", "/tmp/sorrel/", 1);
  setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(SysWindowsDirectory(), "/tmp/sorrel");
  unsetenv("SORREL_CONFIG_DIR");
  EXPECT_EQ(SysWindowsDirectory(), "/xdg");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(SysWindowsDirectory(), "/home/op/.config");

  auto restore = [](const char* name, const std::string& value) {
    if (value.empty()) unsetenv(name); else setenv(name, value.c_str(), 1);
  };
  restore("SORREL_CONFIG_DIR", savedSorrel);
  restore("XDG_CONFIG_HOME", savedXdg);
  restore("HOME", savedHome);
}

TEST_F(DiskFileTest, LocksAndOpenModesHoldBetweenProcesses) {
  std::string path = MakeFile("t.dbf", "x");
  auto file = OpenFile(path, true, true);
  ASSERT_TRUE(file->LockRegion(0x7FFFFFFE, 1));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int result = 0;
    HXO_DiskFile shared(path, true, true);
    shared.Open();
    if (shared.LockRegion(0x7FFFFFFE, 1)) result |= 1;
    if (!shared.LockRegion(0x7FFFFFFD, 1)) result |= 2;
    shared.Close();
    HXO_DiskFile exclusive(path, false, true);
    try {
      exclusive.Open();
      result |= 4;
    } catch (const ESorrelError&) {
    }
    _exit(result);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Runs `body` in a forked child and returns its exit status (the child's own findings as bits).
template <class Body>
int InChild(Body body) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    int result = 0;
    try {
      result = body();
    } catch (...) {
      result = 0x80;
    }
    _exit(result);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(DiskFileTest, ShortWritesRaiseInsteadOfPassing) {
  // A file size limit makes the system move fewer bytes than asked, as a full disk does.
  std::string path = MakeFile("full.dbf", "");
  const std::string expected = "Error writing to " + path;
  const int found = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 0x40;
    int result = 0;
    HXO_DiskFile file(path, true, true);
    file.Open();
    const std::string block(600, 'x');
    file.Write(0, block.data(), 600);  // fits
    if (!file.Dirty() || file.BytesMoved() != 600) result |= 1;
    try {
      file.Write(600, block.data(), 600);  // only 400 bytes fit
      result |= 2;
    } catch (const ESorrelError& e) {
      if (e.Message() != expected || e.Number() != smWriteError) result |= 4;
      if (file.Dirty()) result |= 8;
    }
    try {
      file.Write(5000, "y", 1);  // nothing fits
      result |= 16;
    } catch (const ESorrelError&) {
    }
    return result;
  });
  EXPECT_EQ(found, 0);
  EXPECT_EQ(fs::file_size(path), 1000u);
}

TEST_F(DiskFileTest, DescriptorsAreClosedOnExec) {
  std::string path = MakeFile("t.dbf", "x");
  auto shared = OpenFile(path, true, false);
  EXPECT_NE(fcntl(shared->Handle(), F_GETFD) & FD_CLOEXEC, 0);
  HXO_DiskFile created(PathOf("new.dbf"), false, true);
  created.Rewrite();
  EXPECT_NE(fcntl(created.Handle(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST_F(DiskFileTest, RegionsBeyondFourGigabytesAndEmptyRegions) {
  std::string path = MakeFile("t.dbf", "x");
  auto first = OpenFile(path, true, true);
  auto second = OpenFile(path, true, true);
  // A region crossing 4 GiB is locked where it lies, not wrapped to the start of the file.
  ASSERT_TRUE(first->LockRegion(0xFFFFFFFF, 2));
  EXPECT_EQ(LockTypeSeenAt(path, 0x100000000, 1), F_WRLCK);
  EXPECT_EQ(LockTypeSeenAt(path, 0, 1), F_UNLCK);
  EXPECT_FALSE(second->LockRegion(0x100000000, 1));
  EXPECT_TRUE(second->LockRegion(0xEFFFFFFF, 0x10000000));  // ends just below
  second->Unlock();
  first->Unlock();

  // An empty region locks nothing: it must never become a lock "to the end of the file".
  ASSERT_TRUE(first->LockRegion(100, 0));
  EXPECT_EQ(LockTypeSeenAt(path, 100, 1), F_UNLCK);
  EXPECT_TRUE(second->LockRegion(0x7FFFFFFE, 1));
  EXPECT_TRUE(SysLockRegion(second->Handle(), 50, 0));
  EXPECT_EQ(LockTypeSeenAt(path, 50, 1000), F_UNLCK);
}

TEST_F(DiskFileTest, AChildProcessMeetsTheParentsOpensAndLocks) {
  std::string path = MakeFile("t.dbf", "x");
  {
    // The parent holds the file exclusively: the child can open it in no mode.
    auto exclusive = OpenFile(path, false, true);
    EXPECT_EQ(InChild([&] {
                int result = 0;
                for (bool shared : {true, false}) {
                  HXO_DiskFile file(path, shared, false);
                  try {
                    file.Open();
                    result |= shared ? 1 : 2;
                  } catch (const ESorrelError&) {
                  }
                }
                return result;
              }),
              0);
  }
  // The child holds a region on its own handle; the parent's two handles both meet it, and it
  // goes with the child.
  auto first = OpenFile(path, true, true);
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HXO_DiskFile own(path, true, true);
    own.Open();
    char go = own.LockRegion(0x40000000, 10) ? 'L' : 'F';
    if (write(toParent[1], &go, 1) != 1 || read(toChild[0], &go, 1) != 1) _exit(1);
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(read(toParent[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'L');
  auto second = OpenFile(path, true, true);
  EXPECT_FALSE(first->LockRegion(0x40000005, 1));
  EXPECT_FALSE(second->LockRegion(0x40000000, 10));
  EXPECT_FALSE(second->LockFile());
  EXPECT_TRUE(first->LockRegion(0x4000000A, 1)) << "next to the child's region";
  first->Unlock();
  char go = 'x';
  ASSERT_EQ(write(toChild[1], &go, 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
  EXPECT_TRUE(second->LockFile()) << "the child's lock ended with it";
  second->Truncate(0);
  EXPECT_EQ(second->FileSize(), 0);
}

TEST_F(DiskFileTest, FaultSeamCountsFailsAndKillsWriteOperations) {
  const std::string path = MakeFile("seam.dbf", "");
  const std::string other = PathOf("seam2.dbf");
  // Five operations: three writes, a truncate and a rename.
  auto road = [&](HXO_DiskFile& file) {
    file.Write(0, "abcdef", 6);
    file.Write(6, "ghij", 4);
    file.Truncate(8);
    file.Write(8, "kl", 2);
    file.Rename(other);
  };
  auto reset = [&] {
    std::error_code ec;
    fs::remove(other, ec);
    MakeFile("seam.dbf", "");
  };

  // Off: nothing is counted.
  {
    HXO_DiskFile file(path, false, true);
    file.Open();
    road(file);
    EXPECT_EQ(DiskFaultOperationCount(), 0);
  }
  // Dry run.
  reset();
  {
    HXO_DiskFile file(path, false, true);
    file.Open();
    ArmDiskFaults({DiskFaultPlan::kCount});
    road(file);
    EXPECT_TRUE(DiskFaultPermits());
    DisarmDiskFaults();
    EXPECT_EQ(DiskFaultOperationCount(), 6);
    EXPECT_FALSE(DiskFaultTriggered());
  }

  struct Case {
    int64_t at;
    int32_t partial;
    bool keepFailing;
    std::string content;  // of the file after the road
    int error;            // the error the road raises
  };
  const Case cases[] = {
      {1, -1, true, "", smWriteError},
      {1, 3, true, "abc", smWriteError},
      {1, 99, true, "abcdef", smWriteError},  // all its bytes put, and still failed
      {2, 2, true, "abcdefgh", smWriteError},
      {3, -1, true, "abcdefghij", smTruncateError},
      {5, -1, true, "abcdefghkl", smRenameError},
      {2, -1, false, "abcdef", smWriteError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("at " + std::to_string(c.at) + " partial " + std::to_string(c.partial));
    reset();
    HXO_DiskFile file(path, false, true);
    file.Open();
    ArmDiskFaults({DiskFaultPlan::kFail, c.at, c.partial, c.keepFailing});
    const std::string error = ErrorOf([&] { road(file); });
    EXPECT_TRUE(DiskFaultTriggered());
    // A full disk stays full: the next write fails too; a single fault lets it through.
    const std::string later = ErrorOf([&] { file.Write(0, "z", 1); });
    DisarmDiskFaults();
    EXPECT_EQ(error, ESorrelError(c.error, {file.Name()}).Message());
    EXPECT_EQ(later.empty(), !c.keepFailing);
    file.Close();
    std::string content = Contents(path);
    if (!c.keepFailing) content[0] = 'a';
    EXPECT_EQ(content, c.content);
    EXPECT_NO_THROW(file.Open());
  }

  // Kill: the child dies at its second operation after putting one byte of it.
  reset();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HXO_DiskFile file(path, false, true);
    file.Open();
    ArmDiskFaults({DiskFaultPlan::kKill, 2, 1});
    road(file);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(Contents(path), "abcdefg");
}
