// Tests of the table creator's field lines, overwrite question and dialects, and of the alias list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "dataset/Sorl6db_alias.h"
#include "base/SysSorl.h"
#include "dataset/Sorl6db_create.h"
#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "base/hx6_glbl.h"
#include "support/logbook_layout.h"
#include "table/table_images.h"
#include "support/tool_runner.h"

namespace {

using table_images::TempFolder;

std::vector<std::string> LogbookLines() {
  std::vector<std::string> lines;
  for (const auto& f : logbook_layout::Fields())
    lines.push_back(std::string(f.name) + ";" + f.type + ";" + std::to_string(f.length) + ";" +
                    std::to_string(f.decimals));
  return lines;
}

TSorrelConfirm Answer(bool ok, int* asked, std::string* text = nullptr) {
  return [=](const std::string& question) {
    ++*asked;
    if (text) *text = question;
    return ok;
  };
}

class CreatorTest : public TempFolder {};

TEST_F(CreatorTest, LogbookTableHasItsGoldenHeader) {
  std::string path = PathOf("LOG1");
  int asked = 0;
  ASSERT_TRUE(SorrelCreateTableFile(path, LogbookLines(), DBaseIV, false, Answer(true, &asked)));
  EXPECT_EQ(asked, 0);
  std::string image = Contents(PathOf("LOG1.DBF"));
  ASSERT_EQ(image.size(), 897u + 1);
  EXPECT_EQ(static_cast<uint8_t>(image[0]), 0x03);
  EXPECT_EQ(DecodeLE32(image.data() + 4), 0u);
  EXPECT_EQ(DecodeLE16(image.data() + 8), 897);
  EXPECT_EQ(DecodeLE16(image.data() + 10), 397);
  const auto& fields = logbook_layout::Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const char* d = image.data() + 32 * (i + 1);
    EXPECT_STREQ(d, fields[i].name);
    EXPECT_EQ(d[11], fields[i].type);
    EXPECT_EQ(static_cast<uint8_t>(d[16]), fields[i].length);
    EXPECT_EQ(static_cast<uint8_t>(d[17]), fields[i].decimals);
  }
  EXPECT_EQ(image[896], '\x0D');
  EXPECT_EQ(image[897], '\x1A');
  EXPECT_FALSE(std::filesystem::exists(PathOf("LOG1.DBT")));

  // The table reads back through our own table and through an outside reader.
  HXO_dBaseDBF table(PathOf("LOG1.DBF"), true, false);
  EXPECT_EQ(table.RecordLength(), 397);
  EXPECT_EQ(table.HeaderLength(), 897);
  HXO_DiskFile::CloseAllFiles();
  auto out = tool_runner::RunPython(
      PathOf("read.py"),
      "import dbf, sys\n"
      "t = dbf.Table(sys.argv[1]); t.open()\n"
      "print(len(t), t.record_length, ' '.join(t.field_names))\n"
      "print(t.field_info('number')[1:3], t.field_info('remark')[1])\n",
      PathOf("LOG1.DBF"));
  if (out.output.find("No module named") != std::string::npos) GTEST_SKIP() << "python3-dbf missing";
  EXPECT_EQ(out.status, 0) << out.output;
  std::string names;
  for (const auto& f : fields) names += (names.empty() ? "" : " ") + SysLowerCase(f.name);
  EXPECT_EQ(out.output, "0 397 " + names + "\n(20, 4) 100\n");
}

TEST_F(CreatorTest, LinesSplitByTheirRules) {
  TSorrelFieldLine f;
  ASSERT_TRUE(SorrelSplitFieldLine("DATE;D;8;0", f));
  EXPECT_EQ(f.name, "DATE");
  EXPECT_EQ(f.type, 'D');
  // Trailing blanks and semicolons do not count.
  ASSERT_TRUE(SorrelSplitFieldLine("TIME;C;6;0; ", f));
  EXPECT_EQ(f.length, 6);
  EXPECT_EQ(f.decimals, 0);
  // DEC reads three characters only.
  ASSERT_TRUE(SorrelSplitFieldLine("BAND;N;20;0004", f));
  EXPECT_EQ(f.decimals, 0);
  ASSERT_TRUE(SorrelSplitFieldLine("BAND;N;20;4", f));
  EXPECT_EQ(f.decimals, 4);
  for (const char* bad : {"DATE;D;8", "DATE;DD;8;0", "DATE;D;x;0", "DATE", "DATE;D;8;x", "DATE;;8;0"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(SorrelSplitFieldLine(bad, f));
  }
}

TEST_F(CreatorTest, EveryBadListIsRefusedAndNothingIsCreated) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"DATE;D;8"},
      {"DATE;DD;8;0"},
      {"DATE;D;x;0"},
      {"DATE;D;8;0", "date;C;4;0"},             // repeated in another case
      {"STATIONNAME1;C;4;0", "STATIONNAME2;C;5;0"},  // equal once cut to ten characters
      {"DATE;D;8;0", ""},                        // an empty line
      {";C;4;0"},                                // no name
      {"CALL;X;4;0"},                            // no builder writes an X field
      {"CALL;I;4;0"},
      {"BAND;N;0;0"},                            // a numeric length of zero
      {"BAND;N;3;2"},                            // two decimals cannot fit three places
      {"BAND;F;256;0"},
      {"CALL;C;0;0"},
      {"CALL;C;65536;0"},
      {"A;C;65500;0", "B;C;19;0"},               // a record longer than a table opens
  };
  for (const auto& lines : bad) {
    SCOPED_TRACE(lines.empty() ? "(empty)" : lines.back());
    EXPECT_EQ(ErrorOf([&] { SorrelCreateTableFile(PathOf("bad"), lines, DBaseIV, true, {}); }),
              "Field list is invalid");
    EXPECT_FALSE(std::filesystem::exists(PathOf("bad.DBF")));
    EXPECT_FALSE(std::filesystem::exists(PathOf("bad.DBT")));
  }
  // The same lines made sound are accepted.
  EXPECT_TRUE(SorrelCreateTableFile(PathOf("good"), {"BAND;N;4;2", "CALL;c;65000;0", "M;m;0;0"},
                                    DBaseIII, true, {}));
}

TEST_F(CreatorTest, DeclinedOverwriteLeavesTheTableByteForByte) {
  std::vector<std::string> lines = LogbookLines();
  ASSERT_TRUE(SorrelCreateTableFile(PathOf("LOG1"), lines, DBaseIV, false, {}));
  std::string before = Put("LOG1.DBF", Contents(PathOf("LOG1.DBF")) + std::string(397, 'x'));
  before = Contents(PathOf("LOG1.DBF"));

  // Asked for the name with the extension the builder adds, and for a name in another case.
  for (const char* name : {"LOG1", "log1", "log1.dbf", "LOG1.DBF  "}) {
    SCOPED_TRACE(name);
    int asked = 0;
    std::string question;
    EXPECT_FALSE(SorrelCreateTableFile(PathOf(name), {"X;C;1;0"}, DBaseIV, false,
                                       Answer(false, &asked, &question)));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(question, "Table exists.  Do you want to overwrite?");
    EXPECT_EQ(Contents(PathOf("LOG1.DBF")), before);
  }
  // Without a confirmer the answer is Cancel.
  EXPECT_FALSE(SorrelCreateTableFile(PathOf("LOG1"), {"X;C;1;0"}, DBaseIV, false, {}));
  EXPECT_EQ(Contents(PathOf("LOG1.DBF")), before);

  // OK replaces the very file that was asked about, not a new one beside it.
  int asked = 0;
  EXPECT_TRUE(SorrelCreateTableFile(PathOf("log1"), {"X;C;1;0"}, DBaseIV, false, Answer(true, &asked)));
  EXPECT_EQ(Contents(PathOf("LOG1.DBF")).size(), 32u + 34);
  EXPECT_FALSE(std::filesystem::exists(PathOf("log1.DBF")));
  // AutoOverwrite does not ask.
  asked = 0;
  EXPECT_TRUE(SorrelCreateTableFile(PathOf("LOG1"), lines, DBaseIV, true, Answer(false, &asked)));
  EXPECT_EQ(asked, 0);
}

TEST_F(CreatorTest, DialectsChooseTheirBuilders) {
  std::vector<std::string> lines = {"DATE;D;8;0", "NOTES;M;10;0"};
  ASSERT_TRUE(SorrelCreateTableFile(PathOf("a"), lines, Clipper, true, {}));
  ASSERT_TRUE(SorrelCreateTableFile(PathOf("b"), lines, DBaseIII, true, {}));
  ASSERT_TRUE(SorrelCreateTableFile(PathOf("c"), lines, DBaseIV, true, {}));
  ASSERT_TRUE(SorrelCreateTableFile(PathOf("d"), lines, FoxPro2, true, {}));
  EXPECT_EQ(static_cast<uint8_t>(Contents(PathOf("a.DBF"))[0]), 0x83);
  EXPECT_EQ(static_cast<uint8_t>(Contents(PathOf("b.DBF"))[0]), 0x83);
  EXPECT_EQ(static_cast<uint8_t>(Contents(PathOf("c.DBF"))[0]), 0x8B);
  EXPECT_EQ(static_cast<uint8_t>(Contents(PathOf("d.DBF"))[0]), 0xF5);
  EXPECT_EQ(Contents(PathOf("a.DBT")).size(), 513u);
  EXPECT_EQ(Contents(PathOf("c.DBT")).size(), 24u);
  EXPECT_EQ(Contents(PathOf("d.FPT")).size(), 512u);
}

class AliasTest : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    const char* old = std::getenv("SORREL_CONFIG_DIR");
    saved_ = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("SORREL_CONFIG_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_)
      setenv("SORREL_CONFIG_DIR", saved_->c_str(), 1);
    else
      unsetenv("SORREL_CONFIG_DIR");
    SorrelAliasReload();
    TempFolder::TearDown();
  }
  std::optional<std::string> saved_;
};

TEST_F(AliasTest, ConfigFileGivesTheAliases) {
  Put("sorrel.cfg",
      "; engine aliases\r\n"
      "[Other]\r\nLOGS=/wrong\r\n"
      "[alias]\r\n"
      "  LOGS = /home/op/logs/ \r\n"
      "Ref=/data/ref\r\n"
      "; Commented=/x\r\n"
      "no equals sign\r\n"
      "logs=/second/wins/not\r\n"
      "[Alias]\r\nLATE=/ignored\r\n");
  SorrelAliasReload();
  EXPECT_EQ(SorrelAliasLines(),
            (std::vector<std::string>{"Default Directory", "LOGS=/home/op/logs/", "Ref=/data/ref",
                                      "logs=/second/wins/not"}));
  EXPECT_EQ(ResolveDatabaseName("logs"), "/home/op/logs/");
  EXPECT_EQ(ResolveDatabaseName("REF"), "/data/ref/");
  EXPECT_EQ(ResolveDatabaseName("LATE"), "LATE/");
  EXPECT_EQ(ResolveDatabaseName(""), "");
  EXPECT_EQ(ResolveDatabaseName("/var/tmp"), "/var/tmp/");
  EXPECT_EQ(ResolveDatabaseName("/var/tmp/"), "/var/tmp/");
  std::string program = ResolveDatabaseName("default directory");
  EXPECT_EQ(program, SorrelProgramDirectory());
  EXPECT_EQ(program.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(program + "engine_tests"));
}

TEST_F(AliasTest, MissingFileLeavesTheDefaultLineOnly) {
  SorrelAliasReload();
  EXPECT_EQ(SorrelAliasLines(), std::vector<std::string>{"Default Directory"});
}

TEST_F(AliasTest, NamedFoldersRegisterThemselvesOnce) {
  Put("sorrel.cfg", "[Alias]\nLOGS=/home/op/logs\n");
  SorrelAliasReload();
  EXPECT_EQ(SorrelAliasRegister("/tmp/books/"), "/tmp/books");
  EXPECT_EQ(SorrelAliasRegister("/tmp/books"), "/tmp/books");
  EXPECT_EQ(SorrelAliasRegister("LOGS"), "LOGS");
  EXPECT_EQ(SorrelAliasRegister("Default Directory"), "Default Directory");
  EXPECT_EQ(SorrelAliasLines(), (std::vector<std::string>{"Default Directory", "LOGS=/home/op/logs",
                                                          "/tmp/books=/tmp/books"}));
  EXPECT_EQ(ResolveDatabaseName("/tmp/books"), "/tmp/books/");
}

}  // namespace
