#include "log_file.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

using tarvane::TLogFile;
using tarvane::TLogTime;
using tarvane_test::TempFolder;

namespace {
TLogTime FixedTime() { return TLogTime{9, 5, 7, 42}; }
}  // namespace

TEST(LogFile, LineFormat) {
  TempFolder tmp;
  const std::string path = tmp.File("Tarvane.log");
  TLogFile log(FixedTime);
  ASSERT_TRUE(log.Open(path, 1));
  log.Log("Starting RIG1");
  log.Log("Errors:\r\n[Foo].:  invalid parameter name \r\n");  // already ends with CR LF
  log.LogFmt("RIG%d {!}send timeout, %d bytes still in buffer", 2, 5);
  log.Log("");
  log.Close();
  EXPECT_EQ(TempFolder::Read(path),
            "09:05:07.042  Starting RIG1\r\n"
            "09:05:07.042  Errors:\r\n[Foo].:  invalid parameter name \r\n"
            "09:05:07.042  RIG2 {!}send timeout, 5 bytes still in buffer\r\n"
            "09:05:07.042  \r\n");
}

TEST(LogFile, OpenTruncatesAndLevelZeroWritesNothing) {
  TempFolder tmp;
  const std::string path = tmp.Write("Tarvane.log", "old contents\r\n");
  {
    TLogFile log(FixedTime);
    EXPECT_FALSE(log.Open(path, 0));
    log.Log("dropped");
  }
  EXPECT_EQ(TempFolder::Read(path), "old contents\r\n");
  TLogFile log(FixedTime);
  ASSERT_TRUE(log.Open(path, 1));
  log.Log("new");
  EXPECT_EQ(TempFolder::Read(path), "09:05:07.042  new\r\n");  // no buffering in the process
}

TEST(LogFile, LevelTwoHasEveryLineOnDiskAndHoldsNoHandle) {
  TempFolder tmp;
  const std::string path = tmp.File("Tarvane.log");
  TLogFile log(FixedTime);
  ASSERT_TRUE(log.Open(path, 2));
  log.Log("one");
  EXPECT_EQ(TempFolder::Read(path), "09:05:07.042  one\r\n");
  // Another program may replace the file between lines; the next line goes to the new file.
  std::filesystem::remove(path);
  tmp.Write("Tarvane.log", "rotated\r\n");
  log.Log("two");
  EXPECT_EQ(TempFolder::Read(path), "rotated\r\n09:05:07.042  two\r\n");
}

TEST(LogFile, FileThatCannotBeCreatedLeavesTheLogOff) {
  TempFolder tmp;
  TLogFile log(FixedTime);
  EXPECT_FALSE(log.Open(tmp.File("no/such/folder.log"), 1));
  EXPECT_FALSE(log.IsOpen());
  log.Log("nothing happens");
}

TEST(LogFile, SystemClockGivesATimeOfDay) {
  const TLogTime t = TLogFile::LocalTime();
  EXPECT_GE(t.Hour, 0);
  EXPECT_LT(t.Hour, 24);
  EXPECT_LT(t.Minute, 60);
  EXPECT_LT(t.Millisecond, 1000);
}
