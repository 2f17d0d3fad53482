#include "rig_type_list.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ini_file.h"
#include "program_folder.h"
#include "temp_folder.h"

using namespace tarvane;
using tarvane_test::TempFolder;
using Lines = std::vector<std::string>;

namespace {

struct Captured {
  Lines lines;
  TLogProc Proc() {
    return [this](const std::string& s) { lines.push_back(s); };
  }
};

const char kGood[] = "[pmTx]\nCommand=(TX;)\n";

}  // namespace

TEST(RigTypeList, NamesSortedWithoutRegardToCaseAfterNone) {
  TempFolder tmp;
  tmp.Write("b.ini", kGood);
  tmp.Write("A.ini", kGood);
  tmp.Write("c.INI", kGood);       // the extension is matched without regard to case
  tmp.Write("notes.txt", kGood);   // other files are not rig types
  std::filesystem::create_directory(tmp.File("dir.ini"));  // nor are folders
  Captured log;
  TRigTypeList list;
  list.LoadRigTypes(tmp.Path().string(), log.Proc());
  EXPECT_EQ(list.Names(), (Lines{"NONE", "A", "b", "c"}));
  EXPECT_EQ(list.Commands(0), nullptr);
  ASSERT_NE(list.Commands(1), nullptr);
  EXPECT_EQ(list.Commands(1)->RigType, "A");
  EXPECT_EQ(list.IndexOf("B"), 2);
  EXPECT_EQ(list.IndexOf("none"), 0);
  EXPECT_EQ(list.IndexOf("zz"), -1);
  EXPECT_EQ(list.Commands(99), nullptr);
  EXPECT_EQ(list.Name(-1), "");
  // The files are taken from the last name to the first.
  EXPECT_EQ(log.lines, (Lines{"Loading commands from \"c.INI\"", "Loading commands from \"b.ini\"",
                              "Loading commands from \"A.ini\""}));
}

TEST(RigTypeList, BadFilesAreLeftOutAndTheirErrorsLogged) {
  TempFolder tmp;
  tmp.Write("Good.ini", kGood);
  tmp.Write("Bad.ini", "[INIT]\nCommand=A\n[Foo]\nCommand=(X;)\n");
  Captured log;
  TRigTypeList list;
  list.LoadRigTypes(tmp.Path().string(), log.Proc());
  EXPECT_EQ(list.Names(), (Lines{"NONE", "Good"}));
  EXPECT_EQ(log.lines, (Lines{"Loading commands from \"Good.ini\"",
                              "Loading commands from \"Bad.ini\"",
                              "Errors:\r\n"
                              "[INIT].Command:  command code is missing in \"A\"\r\n"
                              "[Foo].:  invalid parameter name \r\n"}));
}

TEST(RigTypeList, UnreadableFileStaysWithoutCommandSet) {
  TempFolder tmp;
  const std::string big = tmp.Write("Huge.ini", "");
  std::filesystem::resize_file(big, TIniFile::kMaxFileSize + 1);
  Captured log;
  TRigTypeList list;
  list.LoadRigTypes(tmp.Path().string(), log.Proc());
  EXPECT_EQ(list.Names(), (Lines{"NONE", "Huge"}));
  EXPECT_EQ(list.Commands(1), nullptr);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[1], "File \"" + big + "\" is too large");
}

TEST(RigTypeList, MissingOrEmptyFolderLeavesOnlyNone) {
  TempFolder tmp;
  TRigTypeList list;
  list.LoadRigTypes(tmp.File("nowhere"), {});
  EXPECT_EQ(list.Names(), Lines{"NONE"});
  list.LoadRigTypes(tmp.Path().string(), {});
  EXPECT_EQ(list.Names(), Lines{"NONE"});
}

TEST(ProgramFolder, OverrideAndCaseResolution) {
  TempFolder tmp;
  std::filesystem::create_directory(tmp.File("rigs"));
  ASSERT_EQ(setenv(kHomeVariable, tmp.Path().c_str(), 1), 0);
  EXPECT_EQ(ProgramFolder(), tmp.Path().string());
  // "Rigs" is found whatever the case of the folder's name on disk.
  EXPECT_EQ(RigsFolder(ProgramFolder()), tmp.File("rigs"));
  unsetenv(kHomeVariable);
  EXPECT_FALSE(ProgramFolder().empty());
  EXPECT_EQ(ResolveFileCase(tmp.File("absent")), tmp.File("absent"));
  EXPECT_EQ(RemoveFileExt("a.b.ini"), "a.b");
  EXPECT_EQ(RemoveFileExt("plain"), "plain");
}
