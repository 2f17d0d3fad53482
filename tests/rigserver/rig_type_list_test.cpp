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

// The user's data folder first, then the settings folder, then the one beside the program: a
// name found earlier hides the same name later (whether or not that file loads), and the list is
// sorted over all of them.
TEST(RigTypeList, SeveralFoldersEarlierNamesHideLaterOnes) {
  TempFolder tmp;
  for (const char* f : {"user", "home", "beside"}) std::filesystem::create_directory(tmp.File(f));
  tmp.Write("user/Mine.ini", kGood);
  tmp.Write("user/ic-7300.ini", "[pmTx]\nCommand=(MINE;)\n");
  tmp.Write("home/Broken.ini", "[Foo]\nCommand=(X;)\n");
  tmp.Write("beside/IC-7300.ini", kGood);
  tmp.Write("beside/Broken.ini", kGood);
  tmp.Write("beside/Delivered.ini", kGood);
  Captured log;
  TRigTypeList list;
  list.LoadRigTypes({tmp.File("user"), tmp.File("home"), tmp.File("nowhere"), tmp.File("beside")},
                    log.Proc());
  EXPECT_EQ(list.Names(), (Lines{"NONE", "Delivered", "ic-7300", "Mine"}));
  EXPECT_EQ(BytesToStr(list.Commands(list.IndexOf("IC-7300"))->WriteCmd[pmTx].Code), "MINE;");
  EXPECT_EQ(log.lines,
            (Lines{"Loading commands from \"ic-7300.ini\"", "Loading commands from \"Mine.ini\"",
                   "Loading commands from \"Broken.ini\"",
                   "Errors:\r\n[Foo].:  invalid parameter name \r\n",
                   "\"IC-7300.ini\" in \"" + tmp.File("beside") + "\" is passed over: \"ic-7300.ini\" in \"" +
                       tmp.File("user") + "\" has the same name",
                   "Loading commands from \"Delivered.ini\"",
                   "\"Broken.ini\" in \"" + tmp.File("beside") + "\" is passed over: \"Broken.ini\" in \"" +
                       tmp.File("home") + "\" has the same name"}));
}

// The rig files beside the program are searched whatever folder the override names for the
// settings; the user's data folder comes from XDG_DATA_HOME.
TEST(ProgramFolder, RigsFoldersKeepTheProgramsOwnWithTheOverride) {
  TempFolder tmp;
  std::filesystem::create_directories(tmp.File("xdg/Tarvane/Rigs"));
  ASSERT_EQ(setenv("XDG_DATA_HOME", tmp.File("xdg").c_str(), 1), 0);
  ASSERT_EQ(setenv(kHomeVariable, tmp.Path().c_str(), 1), 0);
  const std::string beside = RigsFolder(ExecutableFolder());
  EXPECT_EQ(UserDataFolder(), tmp.File("xdg/Tarvane"));
  EXPECT_EQ(RigsFolders(ProgramFolder()),
            (Lines{tmp.File("xdg/Tarvane/Rigs"), tmp.File("Rigs"), beside}));
  // Without the override the settings lie beside the program too: that folder comes once.
  unsetenv(kHomeVariable);
  EXPECT_EQ(RigsFolders(ProgramFolder()), (Lines{tmp.File("xdg/Tarvane/Rigs"), beside}));
  EXPECT_EQ(RigsFolders(ExecutableFolder() + "/."),
            (Lines{tmp.File("xdg/Tarvane/Rigs"), RigsFolder(ExecutableFolder() + "/.")}));
  unsetenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  EXPECT_EQ(UserDataFolder(), std::string(home ? home : ".") + "/.local/share/Tarvane");
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
