// The table builders: byte images of what each dialect writes, the limits they refuse, and reads of
// their output by the outside dBase tools.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "table/hx6_dbf_build.h"
#include "base/hx6_glbl.h"
#include "support/logbook_layout.h"
#include "table/table_images.h"
#include "support/tool_runner.h"

using namespace table_images;

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// The header's date bytes are today's; golden images carry zero there.
std::string WithoutDate(std::string image) {
  for (size_t i = 1; i < 4 && i < image.size(); ++i) image[i] = 0;
  return image;
}

void AddExampleFields(HXO_DBFBuild& b, bool withMemo) {
  b.AddField("date", "D", 0, 0);
  b.AddField("Call", "c", 10, 0);
  b.AddField("BAND", "N", 6, 3);
  if (withMemo) b.AddField("NOTES", "M", 0, 0);
}

// DATE D, CALL C(10), BAND N(6,3), NOTES M as the dBase IV builder writes them.
const std::string kExample4Hex =
    "8b00000000000000a10023000000000000000000000000000000000000030000"
    "4441544500000000000000440000000008000000000000000000000000000000"
    "43414c4c0000000000000043000000000a000000000000000000000000000000"
    "42414e44000000000000004e0000000006030000000000000000000000000000"
    "4e4f5445530000000000004d000000000a000000000000000000000000000000"
    "0d1a";

class BuildersTest : public TempFolder {};

TEST_F(BuildersTest, DBase4TableWithMemoMatchesItsImage) {
  {
    HXO_DB4Build b(PathOf("LOG"));
    AddExampleFields(b, true);
    EXPECT_EQ(b.HeaderLength(), 161);
    EXPECT_EQ(b.RecordLength(), 35);
    b.CreateFiles();
    EXPECT_TRUE(b.FilesCreated());
  }
  const std::string table = Contents(PathOf("LOG.DBF"));
  ASSERT_EQ(table.size(), 162u);
  EXPECT_EQ(WithoutDate(table), FromHex(kExample4Hex));
  const std::string memo = Contents(PathOf("LOG.DBT"));
  EXPECT_EQ(memo, FromHex("01000000000000004c4f4700000000000000020100020000"));
  EXPECT_EQ(memo, Memo4Image("LOG"));
}

TEST_F(BuildersTest, HeaderDateIsToday) {
  HXO_DBFBuild b(PathOf("t.dbf"));
  AddExampleFields(b, false);
  b.CreateFiles();
  const std::string table = Contents(PathOf("t.dbf"));
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(static_cast<uint8_t>(table[1]), local.tm_year % 100);
  EXPECT_EQ(static_cast<uint8_t>(table[2]), local.tm_mon + 1);
  EXPECT_EQ(static_cast<uint8_t>(table[3]), local.tm_mday);
}

TEST_F(BuildersTest, WithoutMemoFieldEveryDialectWritesVersion3AndNoMemoFile) {
  for (int dialect = 0; dialect < 3; ++dialect) {
    SCOPED_TRACE(dialect);
    const std::string name = "PLAIN" + std::to_string(dialect);
    std::unique_ptr<HXO_DBFBuild> b;
    if (dialect == 0) b = std::make_unique<HXO_DBFBuild>(PathOf(name));
    if (dialect == 1) b = std::make_unique<HXO_DB4Build>(PathOf(name));
    if (dialect == 2) b = std::make_unique<HXO_DBFoxBuild>(PathOf(name));
    AddExampleFields(*b, false);
    b->CreateFiles();
    std::string expected = FromHex(kExample4Hex.substr(0, 64 * 4));
    expected[0] = 0x03;
    expected[8] = static_cast<char>(129);
    expected[10] = 25;
    expected += "\x0d\x1a";
    EXPECT_EQ(WithoutDate(Contents(PathOf(name + ".DBF"))), expected);
    EXPECT_FALSE(std::filesystem::exists(PathOf(name + ".DBT")));
    EXPECT_FALSE(std::filesystem::exists(PathOf(name + ".FPT")));
  }
}

TEST_F(BuildersTest, DBase3MemoFileIsOneBlockAndEndByte) {
  {
    HXO_DBFBuild b(PathOf("averylongname.dbf"));
    AddExampleFields(b, true);
    b.CreateFiles();
  }
  EXPECT_EQ(static_cast<uint8_t>(Contents(PathOf("averylongname.dbf"))[0]), 0x83);
  const std::string memo = Contents(PathOf("averylongname.dbt"));
  ASSERT_EQ(memo.size(), 513u);
  EXPECT_EQ(DecodeLE32(memo.data()), 1u);
  EXPECT_EQ(memo.substr(8, 8), "averylon");  // the base name, cut to 8
  EXPECT_EQ(memo[512], '\x1a');
  EXPECT_EQ(memo, Memo3Image("averylongname"));
}

TEST_F(BuildersTest, FoxProMemoFileHeader) {
  {
    HXO_DBFoxBuild b(PathOf("FOX.DBF"));
    AddExampleFields(b, false);
    b.AddField("PIC", "G", 0, 0);
    b.CreateFiles();
  }
  EXPECT_EQ(static_cast<uint8_t>(Contents(PathOf("FOX.DBF"))[0]), 0xF5);
  const std::string memo = Contents(PathOf("FOX.FPT"));
  ASSERT_EQ(memo.size(), 512u);
  EXPECT_EQ(DecodeBE32(memo.data()), 8u);
  EXPECT_EQ(DecodeBE16(memo.data() + 6), 64u);
  EXPECT_EQ(memo, MemoFoxImage());
}

TEST_F(BuildersTest, MemoExtensionFollowsTheCaseOfTheTablesExtension) {
  EXPECT_EQ(HXO_DBFoxBuild(PathOf("a.dbf")).MemoFileName(), PathOf("a.fpt"));
  EXPECT_EQ(HXO_DBFoxBuild(PathOf("a.DBF")).MemoFileName(), PathOf("a.FPT"));
  EXPECT_EQ(HXO_DBFoxBuild(PathOf("a.Dbf")).MemoFileName(), PathOf("a.fpt"));
  EXPECT_EQ(HXO_DBFBuild(PathOf("a.Dbf")).MemoFileName(), PathOf("a.DBT"));
  EXPECT_EQ(HXO_DB4Build(PathOf("a.tab")).MemoFileName(), PathOf("a.dbt"));
  EXPECT_EQ(HXO_DB4Build(PathOf("A")).MemoFileName(), PathOf("A.DBT"));
  // A memo file already there under another case is the one replaced, so that the table never
  // finds a stale one.
  Put("old.DBT", "stale");
  {
    HXO_DB4Build b(PathOf("old.dbf"));
    AddExampleFields(b, true);
    b.CreateFiles();
  }
  EXPECT_EQ(Contents(PathOf("old.DBT")), Memo4Image("old"));
  EXPECT_FALSE(std::filesystem::exists(PathOf("old.dbt")));
}

TEST_F(BuildersTest, FieldEncodingRules) {
  HXO_DBFBuild b(PathOf("rules"));
  b.AddField("", "C", 10, 0);               // an empty name adds nothing
  b.AddField("twelvecharsX", "C", 300, 0);  // cut to 10, upper case, length in two bytes
  b.AddField("LOGIC", "logical", 40, 7);    // the first letter decides; L is always 1 wide
  b.AddField("PAYLOAD", "B", 99, 9);        // B, G, M: 10 wide, no decimals
  b.AddField("RATE", "F", 12, 5);
  EXPECT_EQ(b.Count(), 4);
  EXPECT_EQ(b.RecordLength(), 1 + 300 + 1 + 10 + 12);
  b.CreateFiles();
  const std::string t = Contents(PathOf("rules.DBF"));
  ASSERT_EQ(t.size(), 32u * 4 + 34);
  EXPECT_EQ(t.substr(32, 11), std::string("TWELVECHAR\0", 11));
  EXPECT_EQ(t[32 + 11], 'C');
  EXPECT_EQ(static_cast<uint8_t>(t[32 + 16]), 44);  // 300 mod 256
  EXPECT_EQ(static_cast<uint8_t>(t[32 + 17]), 1);   // 300 div 256
  EXPECT_EQ(t[64 + 11], 'L');
  EXPECT_EQ(t.substr(64 + 16, 2), std::string("\x01\x00", 2));
  EXPECT_EQ(t[96 + 11], 'B');
  EXPECT_EQ(t.substr(96 + 16, 2), std::string("\x0a\x00", 2));
  EXPECT_EQ(t.substr(128 + 16, 2), std::string("\x0c\x05", 2));
  EXPECT_EQ(static_cast<uint8_t>(t[0]), 0x83);  // the binary field asks for a memo file
  EXPECT_TRUE(std::filesystem::exists(PathOf("rules.DBT")));
}

TEST_F(BuildersTest, LogbookTableHasItsRecordAndHeaderLength) {
  {
    HXO_DB4Build b(PathOf("QSOLOG.DBF"));
    logbook_layout::AddLogbookFields(b);
    b.CreateFiles();
  }
  const std::string t = Contents(PathOf("QSOLOG.DBF"));
  ASSERT_EQ(t.size(), 898u);
  EXPECT_EQ(t[0], 0x03);
  EXPECT_EQ(DecodeLE32(t.data() + 4), 0u);
  EXPECT_EQ(DecodeLE16(t.data() + 8), 897);
  EXPECT_EQ(DecodeLE16(t.data() + 10), 397);
  // Zero but for the code-page mark at 29: the Windows ANSI page the logbook's text is in.
  EXPECT_EQ(t.substr(12, 17), std::string(17, '\0'));
  EXPECT_EQ(t[29], 0x03);
  EXPECT_EQ(t.substr(30, 2), std::string(2, '\0'));
  int i = 1;
  for (const auto& f : logbook_layout::Fields()) {
    SCOPED_TRACE(f.name);
    const std::string d = t.substr(32 * static_cast<size_t>(i++), 32);
    std::string name(f.name);
    name.resize(11, '\0');
    EXPECT_EQ(d.substr(0, 11), name);
    EXPECT_EQ(d[11], f.type);
    EXPECT_EQ(static_cast<uint8_t>(d[16]), f.length);
    EXPECT_EQ(static_cast<uint8_t>(d[17]), f.decimals);
    EXPECT_EQ(d.substr(18), std::string(14, '\0'));
  }
  EXPECT_EQ(t[896], '\x0d');
  EXPECT_EQ(t[897], '\x1a');
  HXO_dBaseDBF table(PathOf("QSOLOG.DBF"), false, false);
  EXPECT_EQ(table.RecordLength(), 397);
  EXPECT_EQ(table.HeaderLength(), 897);
  EXPECT_EQ(table.FieldCount(), 27);
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST_F(BuildersTest, RefusesBrokenLayoutsAndThenWritesNothing) {
  int tables = 0;
  // Adds a good field and then runs `add`; answers the refusal's text, and whether the destroyed
  // builder left a table behind.
  auto refused = [&](auto add, bool* written = nullptr) {
    const std::string path = PathOf("BAD" + std::to_string(++tables) + ".DBF");
    std::string error;
    {
      HXO_DBFBuild b(path);
      b.AddField("OK", "C", 5, 0);
      error = ErrorOf<ESorrelError>([&] { add(b); });
      if (!error.empty()) {
        b.CreateFiles();  // a builder that refused a field writes nothing, even when asked
        EXPECT_FALSE(b.FilesCreated());
      }
    }
    if (written != nullptr) *written = std::filesystem::exists(path);
    if (!error.empty()) {
      EXPECT_FALSE(std::filesystem::exists(path)) << error;
    }
    return error;
  };
  EXPECT_EQ(refused([](HXO_DBFBuild& b) { b.AddField("NOTYPE", "", 5, 0); }),
            "Table Header for " + PathOf("BAD1.DBF") + "->NOTYPE is invalid");
  EXPECT_NE(refused([](HXO_DBFBuild& b) { b.AddField("WIDE", "N", 256, 0); }), "");
  EXPECT_NE(refused([](HXO_DBFBuild& b) { b.AddField("ZERO", "N", 0, 0); }), "");
  EXPECT_NE(refused([](HXO_DBFBuild& b) { b.AddField("NEG", "C", -1, 0); }), "");
  EXPECT_NE(refused([](HXO_DBFBuild& b) { b.AddField("HUGE", "C", 65536, 0); }), "");
  EXPECT_NE(refused([](HXO_DBFBuild& b) { b.AddField("DEC", "N", 10, 256); }), "");
  EXPECT_NE(refused([](HXO_DBFBuild& b) { b.AddField("NEGDEC", "F", 10, -1); }), "");
  EXPECT_NE(refused([](HXO_DBFBuild& b) { b.AddField("NODIGIT", "N", 3, 2); }), "");
  EXPECT_EQ(refused([](HXO_DBFBuild& b) { b.AddField("ok", "N", 5, 0); }),
            "Table Header for " + PathOf("BAD9.DBF") + "->OK is invalid");
  EXPECT_NE(refused([](HXO_DBFBuild& b) {
              b.AddField("FREQUENCY1", "C", 5, 0);
              b.AddField("frequency12", "C", 5, 0);
            }),
            "");
  EXPECT_EQ(refused([](HXO_DBFBuild& b) {
              b.AddField("LONGEST", "C", 65535 - 6, 0);
              b.AddField("ONEMORE", "L", 1, 0);
            }),
            "Table Header for " + PathOf("BAD11.DBF") + " is invalid");
  bool written = false;
  EXPECT_EQ(refused([](HXO_DBFBuild& b) { b.AddField("FITS", "N", 4, 2); }, &written), "");
  EXPECT_TRUE(written);
  EXPECT_EQ(refused([](HXO_DBFBuild& b) { b.AddField("LONGEST", "C", 65535 - 6, 0); }, &written),
            "");
  EXPECT_TRUE(written);
  EXPECT_EQ(refused([](HXO_DBFBuild& b) { b.AddField("ANYTYPE", "x", 255, 255); }, &written), "");
  EXPECT_TRUE(written);

  const std::string path = PathOf("EMPTY.DBF");
  {
    HXO_DBFBuild empty(path);
    EXPECT_EQ(ErrorOf<ESorrelError>([&] { empty.CreateFiles(); }),
              "Table Header for " + path + " is invalid");
    EXPECT_FALSE(empty.FilesCreated());
  }
  EXPECT_FALSE(std::filesystem::exists(path));  // nor does its destructor write one
}

TEST_F(BuildersTest, HeaderWithTheMostFieldsStillFits) {
  HXO_DBFBuild b(PathOf("WIDE.DBF"));
  for (int i = 0; i < 2046; ++i) b.AddField(std::string("F").append(std::to_string(i)), "L", 1, 0);
  EXPECT_EQ(b.HeaderLength(), 32 * 2046 + 33);
  EXPECT_NE(ErrorOf<ESorrelError>([&] { b.AddField("ONEMORE", "L", 1, 0); }), "");
}

TEST_F(BuildersTest, DestructorWritesTheDialectsOwnMemoFile) {
  {
    HXO_DBFoxBuild b(PathOf("LATE"));
    AddExampleFields(b, true);
  }
  EXPECT_EQ(Contents(PathOf("LATE.FPT")), MemoFoxImage());
  EXPECT_FALSE(std::filesystem::exists(PathOf("LATE.DBT")));
  {
    HXO_DB4Build b(PathOf("LATE4"));
    AddExampleFields(b, true);
  }
  EXPECT_EQ(Contents(PathOf("LATE4.DBT")), Memo4Image("LATE4"));
}

TEST_F(BuildersTest, ReplacesAnExistingTableAndCreateFilesRunsOnce) {
  Put("OLD.DBF", std::string(5000, 'x'));
  HXO_DBFBuild b(PathOf("OLD.DBF"));
  AddExampleFields(b, false);
  b.CreateFiles();
  b.CreateFiles();
  EXPECT_EQ(Contents(PathOf("OLD.DBF")).size(), 32u * 3 + 34);
}

TEST_F(BuildersTest, UnwritableFolderRaisesCouldNotCreate) {
  const std::string path = PathOf("missing/folder/T.DBF");
  HXO_DBFBuild b(path);
  AddExampleFields(b, false);
  EXPECT_EQ(ErrorOf<ESorrelError>([&] { b.CreateFiles(); }), "Could not create file " + path);
  EXPECT_FALSE(b.FilesCreated());
  std::filesystem::create_directories(PathOf("missing/folder"));
  b.CreateFiles();  // reported once; not tried again behind the caller's back
  EXPECT_FALSE(b.FilesCreated());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(BuildersTest, RefusesToReplaceATableThatIsOpen) {
  const std::string path = PathOf("OPEN.DBF");
  {
    HXO_DBFBuild b(path);
    AddExampleFields(b, false);
    b.CreateFiles();
  }
  HXO_dBaseDBF open(path, true, true);
  HXO_DBFBuild again(path);
  again.AddField("OTHER", "C", 3, 0);
  EXPECT_EQ(ErrorOf<ESorrelError>([&] { again.CreateFiles(); }), "Could not create file " + path);
  EXPECT_EQ(Contents(path).size(), 32u * 3 + 34);
}

// ---------------------------------------------------------------------------------------------
// The outside tools read what the builders write.

const char kDbfreadFields[] = R"(import sys, dbfread
t = dbfread.DBF(sys.argv[1], load=True)
print(len(t.records))
for f in t.fields:
    print(f.name, f.type, f.length, f.decimal_count)
)";

const char kDbfModuleFields[] = R"(import sys, dbf
t = dbf.Table(sys.argv[1])
t.open(dbf.READ_ONLY)
print(len(t))
for name in t.field_names:
    info = t.field_info(name)
    print(name.upper(), chr(info.field_type), info.length, info.decimal)
t.close()
)";

TEST_F(BuildersTest, OutsideToolsReadTheLogbookLayout) {
  for (int dialect = 0; dialect < 3; ++dialect) {
    SCOPED_TRACE(dialect);
    const std::string path = PathOf("LOGBK" + std::to_string(dialect) + ".DBF");
    {
      std::unique_ptr<HXO_DBFBuild> b;
      if (dialect == 0) b = std::make_unique<HXO_DBFBuild>(path);
      if (dialect == 1) b = std::make_unique<HXO_DB4Build>(path);
      if (dialect == 2) b = std::make_unique<HXO_DBFoxBuild>(path);
      logbook_layout::AddLogbookFields(*b);
      b->AddField("NOTES", "M", 10, 0);
      b->CreateFiles();
    }
    std::string expected = "0\n";
    for (const auto& f : logbook_layout::Fields())
      expected += std::string(f.name) + " " + f.type + " " + std::to_string(f.length) + " " +
                  std::to_string(f.decimals) + "\n";
    expected += "NOTES M 10 0\n";
    auto r = tool_runner::RunPython(PathOf("fields.py"), kDbfreadFields, path);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, expected);
    // The dbf module reads no dBase IV table with memo fields at all.
    if (dialect != 1) {
      r = tool_runner::RunPython(PathOf("fields2.py"), kDbfModuleFields, path);
      EXPECT_EQ(r.status, 0) << r.output;
      EXPECT_EQ(r.output, expected);
    }
    r = tool_runner::Run("dbf_dump --fs ';' " + tool_runner::Quote(path) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
  }
}

}  // namespace
