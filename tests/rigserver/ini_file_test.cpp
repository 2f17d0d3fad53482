#include "ini_file.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

using tarvane::EIniFileError;
using tarvane::TIniFile;
using tarvane_test::TempFolder;

namespace {

const char kSample[] =
    "; settings written by hand\r\n"
    "orphan=before any section\r\n"
    "[Radio]\r\n"
    "  Command  =  (FA;)  \r\n"
    "Reply=first\r\n"
    "REPLY=second\r\n"
    ";Commented=yes\r\n"
    "Note=a ; b\r\n"
    "Quoted=\"  padded  \"\r\n"
    "Half=\"open\r\n"
    "Bare line\r\n"
    "\r\n"
    "[radio]\r\n"
    "Reply=hidden\r\n"
    "[ Other ]\r\n"
    "Hex=0x1F\r\n"
    "Neg=-12\r\n"
    "Junk=12abc\r\n"
    "Big=99999999999\r\n";

}  // namespace

TEST(IniFile, ProfileSemanticsOnReading) {
  TempFolder tmp;
  const TIniFile ini(tmp.Write("a.ini", kSample));

  // Duplicate sections and keys: the first one wins, later ones are invisible.
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Radio", "Other"}));
  EXPECT_EQ(ini.ReadSection("RADIO"),
            (std::vector<std::string>{"Command", "Reply", "Note", "Quoted", "Half", "Bare line"}));
  EXPECT_EQ(ini.ReadString("radio", "reply", "?"), "first");

  // Names and values are trimmed; ';' is a comment only at the start of a line.
  EXPECT_EQ(ini.ReadString("Radio", "command", ""), "(FA;)");
  EXPECT_EQ(ini.ReadString("Radio", "Note", ""), "a ; b");
  EXPECT_FALSE(ini.ValueExists("Radio", "Commented"));
  EXPECT_FALSE(ini.ValueExists("Radio", ";Commented"));

  // A matching pair of quotes is removed; a lone quote stays.
  EXPECT_EQ(ini.ReadString("Radio", "Quoted", ""), "  padded  ");
  EXPECT_EQ(ini.ReadString("Radio", "Half", ""), "\"open");

  EXPECT_TRUE(ini.ValueExists("Radio", "BARE LINE"));
  EXPECT_EQ(ini.ReadString("Radio", "Bare line", "x"), "");
  EXPECT_EQ(ini.ReadString("Radio", "orphan", "none"), "none");
  EXPECT_EQ(ini.ReadString("Missing", "Reply", "dflt"), "dflt");
  EXPECT_TRUE(ini.SectionExists("other"));
}

TEST(IniFile, ReadIntegerTheIniWay) {
  TempFolder tmp;
  const TIniFile ini(tmp.Write("a.ini", kSample));
  EXPECT_EQ(ini.ReadInteger("Other", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Other", "Neg", 0), -12);
  EXPECT_EQ(ini.ReadInteger("Other", "Junk", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Other", "Big", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Other", "Absent", 5), 5);
}

TEST(IniFile, MissingFileReadsEmptyAndIsCreatedOnUpdate) {
  TempFolder tmp;
  const std::string path = tmp.File("new.ini");
  TIniFile ini(path);
  EXPECT_TRUE(ini.ReadSections().empty());
  ini.WriteInteger("RIG1", "Port", 3);
  ini.WriteString("RIG1", "RigType", "NONE");
  ini.UpdateFile();
  EXPECT_EQ(TempFolder::Read(path), "[RIG1]\nPort=3\nRigType=NONE\n");
}

TEST(IniFile, UnreadableFilesRaise) {
  TempFolder tmp;
  std::filesystem::create_directory(tmp.File("dir.ini"));
  EXPECT_THROW(TIniFile(tmp.File("dir.ini")), EIniFileError);

  // An implausibly large file is refused before it is read into memory.
  const std::string big = tmp.Write("big.ini", "");
  std::filesystem::resize_file(big, TIniFile::kMaxFileSize + 1);
  EXPECT_THROW(TIniFile{big}, EIniFileError);
}

TEST(IniFile, RewritingOneSectionLeavesTheOthersAsTheyWere) {
  TempFolder tmp;
  const std::string text =
      "; keep me\r\n"
      "[RIG1]\r\n"
      "RigType=Old\r\n"
      "Port=0\r\n"
      "; trailing comment of RIG1\r\n"
      "\r\n"
      "[Debug]\r\n"
      "Log = 1 \r\n"
      "[RIG2]\r\n"
      "Port=1";
  const std::string path = tmp.Write("s.ini", text);
  TIniFile ini(path);
  ini.EraseSection("rig1");
  ini.WriteString("RIG1", "RigType", "TestRig");
  ini.WriteInteger("RIG1", "Port", 2);
  ini.WriteInteger("rig2", "PollMs", 500);  // new key in an existing, unterminated last section
  ini.WriteString("Debug", "LOG", "2");     // replaces the first match in place
  ini.UpdateFile();
  EXPECT_EQ(TempFolder::Read(path),
            "; keep me\r\n"
            "[Debug]\r\n"
            "LOG=2\r\n"
            "[RIG2]\r\n"
            "Port=1\r\n"
            "PollMs=500\r\n"
            "\r\n"
            "[RIG1]\r\n"
            "RigType=TestRig\r\n"
            "Port=2\r\n");
  // What was written reads back.
  const TIniFile again(path);
  EXPECT_EQ(again.ReadInteger("RIG1", "Port", -1), 2);
  EXPECT_EQ(again.ReadInteger("Debug", "Log", -1), 2);
}

TEST(IniFile, WrittenValuesStayOnOneLine) {
  TempFolder tmp;
  const std::string path = tmp.File("s.ini");
  TIniFile ini(path);
  ini.WriteString("A", "Key", "one\ntwo");
  ini.UpdateFile();
  const TIniFile again(path);
  EXPECT_EQ(again.ReadSection("A"), std::vector<std::string>{"Key"});
  EXPECT_EQ(again.ReadString("A", "Key", ""), "one two");
}

TEST(IniFile, NewKeyGoesAfterTheLastKeyOfItsSection) {
  TempFolder tmp;
  const std::string path = tmp.Write("s.ini", "[A]\nx=1\n\n[B]\ny=2\n");
  TIniFile ini(path);
  ini.WriteString("A", "z", "3");
  ini.UpdateFile();
  EXPECT_EQ(TempFolder::Read(path), "[A]\nx=1\nz=3\n\n[B]\ny=2\n");
}
