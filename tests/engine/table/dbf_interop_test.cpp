// Tables and memo files exchanged with other dBase readers and writers installed on the machine:
// the Python modules dbfread and dbf (through /usr/bin/python3) and the dbf_dump tool.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"
#include "table/hx6_dbf_build.h"
#include "table/hx6_dbf_fld.h"
#include "table/hx6_memo.h"
#include "table/table_images.h"

using namespace table_images;

namespace {

// Runs `command` through the shell; its standard output, and its exit status in `status`.
std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return out;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  const int raw = pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

// `text` for a Python string literal in single quotes (line ends escaped).
std::string PythonText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\'' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out;
}

bool PythonHas(const std::string& module) {
  int status = 0;
  RunCommand("/usr/bin/python3 -c 'import " + module + "' 2>/dev/null", status);
  return status == 0;
}

bool HaveDbfDump() {
  int status = 0;
  RunCommand("command -v dbf_dump >/dev/null 2>&1", status);
  return status == 0;
}

const std::vector<Field> kFields = {{"CALL", 'C', 10}, {"BAND", 'N', 6, 3}, {"NOTES", 'M', 10}};

struct Contact {
  std::string call;
  std::string notes;
};

const std::vector<Contact> kContacts = {
    {"W1AW", "Worked on 20 m, strong signal"},
    {"K2X", std::string(700, 'L') + " long memo over two blocks"},
    {"N3Y", ""},
    {"VE3ABC", "Second line\r\nafter a break"},
};

class DbfInteropTest : public TempFolder {
 protected:
  std::string Script(const std::string& text) {
    const std::string path = Put("script.py", text);
    int status = 0;
    std::string out = RunCommand("/usr/bin/python3 " + path + " 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    return out;
  }

  // Writes the contacts into a new table of `version` with our code; returns the table path.
  std::string WriteWithOurs(uint8_t version) {
    // One name per version: a reader may pick up a memo file of another dialect left beside it.
    const std::string base = "OURS" + std::to_string(version);
    std::string path = Put(base + ".DBF", TableImage(version, kFields));
    if (version == 0x83) Put(base + ".DBT", Memo3Image(base));
    if (version == 0x8B) Put(base + ".DBT", Memo4Image(base));
    if (version == 0xF5) Put(base + ".FPT", MemoFoxImage());
    HXO_dBaseDBF t(path, true, true);
    for (const Contact& c : kContacts) {
      char* r = t.RecordBuffer();
      std::string record = " " + (c.call + std::string(10, ' ')).substr(0, 10) + "14.000";
      uint32_t block = 0;
      // A first version of the text written and then replaced exercises reuse of its blocks.
      if (!c.notes.empty()) {
        block = t.MemoFile()->WriteText(c.notes.substr(0, c.notes.size() / 2), 0);
        block = t.MemoFile()->WriteText(c.notes, block);
      }
      std::string number = block == 0 ? "" : std::to_string(block);
      record += std::string(10 - number.size(), ' ') + number;
      std::copy(record.begin(), record.end(), r);
      t.AppendRecord();
    }
    return path;
  }

  // Reads every record of the table at `path` with our code: call sign (trimmed) and memo text.
  std::vector<Contact> ReadWithOurs(const std::string& path, bool binaryMemoField) {
    std::vector<Contact> out;
    HXO_dBaseDBF t(path, true, false);
    int call = 0, notes = 0;
    for (int i = 1; i <= t.FieldCount(); ++i) {
      if (t.FieldInfo(i).name == "CALL") call = i;
      if (t.FieldInfo(i).name == "NOTES") notes = i;
    }
    EXPECT_GT(call, 0);
    EXPECT_GT(notes, 0);
    if (call == 0 || notes == 0) return out;
    for (t.GotoRecord(kGotoFirst); !t.Eof(); t.GotoRecord(kGotoNext)) {
      const ThxFieldInfo& c = t.FieldInfo(call);
      const ThxFieldInfo& n = t.FieldInfo(notes);
      std::string text(t.RecordBuffer() + c.offset, static_cast<size_t>(c.length));
      text.erase(text.find_last_not_of(' ') + 1);
      uint32_t block = 0;
      if (binaryMemoField) {
        block = DecodeLE32(t.RecordBuffer() + n.offset);
      } else {
        std::string digits(t.RecordBuffer() + n.offset, static_cast<size_t>(n.length));
        block = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 10));
      }
      HXobjMemo* memo = t.MemoFile();
      EXPECT_TRUE(block == 0 || memo != nullptr);
      out.push_back({text, block == 0 || memo == nullptr ? "" : memo->ReadText(block)});
    }
    return out;
  }

  static std::string Expected() {
    std::string out;
    for (const Contact& c : kContacts) out += c.call + "|" + c.notes + "\n";
    return out;
  }
};

TEST_F(DbfInteropTest, OurTablesReadByDbfread) {
  if (!PythonHas("dbfread")) GTEST_SKIP() << "python3-dbfread is not installed";
  for (uint8_t version : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(static_cast<int>(version));
    std::string path = WriteWithOurs(version);
    std::string out = Script(
        "import dbfread, sys\n"
        "t = dbfread.DBF('" + path + "', encoding='cp1252', char_decode_errors='strict')\n"
        "for r in t:\n"
        // dbfread takes the dBase IV length word for the text alone, and so returns the 8 padding
        // bytes after it too; those zeros are dropped before comparing.
        "    sys.stdout.write('%s|%s\\n' % (r['CALL'], (r['NOTES'] or '')" +
        (version == 0x8B ? ".rstrip('\\x00')" : "") + "))\n"
        "assert len(t) == " + std::to_string(kContacts.size()) + "\n");
    EXPECT_EQ(out, Expected());
    HXO_DiskFile::CloseAllFiles();
  }
}

TEST_F(DbfInteropTest, OurTablesReadByDbfDump) {
  if (!HaveDbfDump()) GTEST_SKIP() << "dbf_dump is not installed";
  for (uint8_t version : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(static_cast<int>(version));
    std::string path = WriteWithOurs(version);
    int status = 0;
    std::string out = RunCommand("dbf_dump --fs '|' --fields CALL,NOTES " + path + " 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, Expected());
  }
}

TEST_F(DbfInteropTest, TablesOfPythonDbfReadByOurs) {
  if (!PythonHas("dbf")) GTEST_SKIP() << "python3-dbf is not installed";
  struct Case {
    const char* type;
    const char* memo;
    bool binaryMemoField;
  };
  for (const Case& c : {Case{"db3", "dbt", false}, Case{"fp", "fpt", false}, Case{"vfp", "fpt", true}}) {
    SCOPED_TRACE(c.type);
    std::string path = PathOf(std::string("py_") + c.type + ".dbf");
    std::string rows;
    for (const Contact& k : kContacts) rows += "    t.append(('" + k.call + "', 14.0, '" + PythonText(k.notes) + "'))\n";
    Script("import dbf\n"
           "t = dbf.Table('" + path + "', 'CALL C(10); BAND N(6,3); NOTES M', dbf_type='" + c.type + "')\n"
           "t.open(dbf.READ_WRITE)\n"
           "if True:\n" + rows +
           "t.close()\n");
    if (c.binaryMemoField) {
      // This writer leaves the memo flag of its 0x30 tables clear; the memo field alone must be
      // enough for its notes to be found.
      ASSERT_EQ(Contents(path)[0], '\x30');
      ASSERT_EQ(Contents(path)[28] & 0x02, 0);
    }
    std::vector<Contact> read = ReadWithOurs(path, c.binaryMemoField);
    ASSERT_EQ(read.size(), kContacts.size());
    for (size_t i = 0; i < read.size(); ++i) {
      EXPECT_EQ(read[i].call, kContacts[i].call);
      EXPECT_EQ(read[i].notes, kContacts[i].notes);
    }
    HXO_DiskFile::CloseAllFiles();
  }
}

// Tables made by our builders carry the code-page mark of the ANSI page their text is in, so
// readers that go by the mark decode accented names as they were typed.
TEST_F(DbfInteropTest, AccentedTextOfOurBuildersReadByTheCodePageMark) {
  const bool haveDbfread = PythonHas("dbfread"), haveDbf = PythonHas("dbf");
  if (!haveDbfread && !haveDbf) GTEST_SKIP() << "neither python3-dbfread nor python3-dbf is installed";
  struct Dialect {
    const char* name;
    std::unique_ptr<HXO_DBFBuild> (*make)(const std::string&);
  };
  const Dialect dialects[] = {
      {"III", [](const std::string& p) { return std::make_unique<HXO_DBFBuild>(p); }},
      {"IV", [](const std::string& p) -> std::unique_ptr<HXO_DBFBuild> { return std::make_unique<HXO_DB4Build>(p); }},
      {"FOX", [](const std::string& p) -> std::unique_ptr<HXO_DBFBuild> { return std::make_unique<HXO_DBFoxBuild>(p); }},
  };
  for (const Dialect& d : dialects) {
    SCOPED_TRACE(d.name);
    const std::string path = PathOf(std::string("CP") + d.name + ".DBF");
    {
      auto builder = d.make(path);
      builder->AddField("NAME", "C", 12, 0);
      builder->AddField("QTH", "C", 20, 0);
      builder->CreateFiles();
    }
    {
      HXO_dBaseFld t(path, false, true);
      t.BlankRecord();
      t.PutString("NAME", "Jos\xE9");          // José in CP1252
      t.PutString("QTH", "K\xF6ln \xC5rhus");  // Köln Århus
      t.AppendRecord();
    }
    HXO_DiskFile::CloseAllFiles();
    // Printed with non-ASCII letters as Python escapes.
    const std::string expected = "Jos\\xe9|K\\xf6ln \\xc5rhus\n";
    if (haveDbfread) {
      std::string out = Script(
          "import dbfread, sys\n"
          "t = dbfread.DBF('" + path + "', char_decode_errors='strict')\n"
          "for r in t:\n"
          "    sys.stdout.write(('%s|%s\\n' % (r['NAME'], r['QTH'])).encode('ascii', 'backslashreplace').decode())\n");
      EXPECT_EQ(out, expected);
    }
    if (haveDbf) {
      std::string out = Script(
          "import dbf, sys\n"
          "t = dbf.Table('" + path + "')\n"
          "t.open(dbf.READ_ONLY)\n"
          "assert t.codepage.name == 'cp1252', t.codepage\n"
          "for r in t:\n"
          "    sys.stdout.write(('%s|%s\\n' % (r.name.strip(), r.qth.strip())).encode('ascii', 'backslashreplace').decode())\n"
          "t.close()\n");
      EXPECT_EQ(out, expected);
    }
  }
}

TEST_F(DbfInteropTest, DBase4TablesOfXBaseReadByOurs) {
  int status = 0;
  RunCommand("perl -MXBase -e 1 2>/dev/null", status);
  if (status != 0) GTEST_SKIP() << "the XBase Perl module is not installed";
  std::string path = PathOf("x4.dbf");
  std::string perl = "use XBase; my $t = XBase->create(name => '" + path +
                     "', field_names => ['CALL','BAND','NOTES'], field_types => ['C','N','M'],"
                     " field_lengths => [10,6,10], field_decimals => [0,3,0], version => 4) or die XBase->errstr;\n";
  for (size_t i = 0; i < kContacts.size(); ++i)
    perl += "$t->set_record(" + std::to_string(i) + ", '" + kContacts[i].call + "', 14, \"" +
            (kContacts[i].notes == kContacts[3].notes ? std::string("Second line\\r\\nafter a break")
                                                       : kContacts[i].notes) +
            "\") or die $t->errstr;\n";
  perl += "$t->close;\n";
  Put("make.pl", perl);
  std::string out = RunCommand("perl " + PathOf("make.pl") + " 2>&1", status);
  ASSERT_EQ(status, 0) << out;
  // That writer marks its dBase IV tables 0x84; the memo file is the dBase IV one.
  std::string image = Contents(path);
  ASSERT_FALSE(image.empty());
  image[0] = '\x8B';
  Put("x4.dbf", image);
  std::vector<Contact> read = ReadWithOurs(path, false);
  ASSERT_EQ(read.size(), kContacts.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].call, kContacts[i].call);
    EXPECT_EQ(read[i].notes, kContacts[i].notes);
  }
}

}  // namespace
