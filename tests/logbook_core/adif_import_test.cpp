// ADIF import: the reader on hand-made tricky files, the conversion rules, and whole imports
// that either make a complete logbook or leave nothing behind.
#include <gtest/gtest.h>

#include "dataset/Sorl6db_search.h"
#include "adif_export.h"
#include "adif_import.h"
#include "core_test_util.h"

namespace {

using namespace quillmere;
using core_test::Contact;

using Fields = std::vector<std::pair<std::string, std::string>>;

std::vector<Fields> Flatten(const std::vector<AdifRecord>& records) {
  std::vector<Fields> out;
  for (const AdifRecord& r : records) {
    Fields fields;
    for (const AdifField& f : r.fields) fields.emplace_back(f.name, f.value);
    out.push_back(fields);
  }
  return out;
}

TEST(AdifReader, TrickyFiles) {
  struct Case {
    const char* what;
    std::string bytes;
    bool digiPan;
    std::vector<Fields> expected;
  };
  const Case cases[] = {
      {"lower-case header end on its own line, lower-case tags",
       "Exported log\r\n<adif_ver:5>3.1.0\r\n<eoh>\r\n<call:4>W1AW<band:3>20m<eor>\r\n", false,
       {{{"CALL", "W1AW"}, {"BAND", "20m"}}}},
      {"header end sharing a line with other text",
       "Log <ProgramID:4>TEST <EOH> <CALL:4>K1AB <EOR>", false, {{{"CALL", "K1AB"}}}},
      {"headerless, blank lines first, mixed-case record ends",
       "  \r\n<CALL:4>W1AW<EOR><CALL:3>K1X<EoR>\n", false, {{{"CALL", "W1AW"}}, {{"CALL", "K1X"}}}},
      {"line breaks inside and between records",
       "<CALL:4>W1AW\r\n\r\n<NAME:3>Bob\n<QTH:9>Newington\n\n<eor>\n\n<CALL:3>\nK1\n<eor>", false,
       {{{"CALL", "W1AW"}, {"NAME", "Bob"}, {"QTH", "Newington"}}, {{"CALL", "\nK1"}}}},
      {"type indicators",
       "<QSO_DATE:8:D>20240102<FREQ:2:N>14<CALL:4:s>W1AW<EOR>", false,
       {{{"QSO_DATE", "20240102"}, {"FREQ", "14"}, {"CALL", "W1AW"}}}},
      {"a value holding tag-like text and a line break, taken by its length",
       "<COMMENT:14>a <b> c\r\nd e f<CALL:2>AB<EOR>", false,
       {{{"COMMENT", "a <b> c\r\nd e f"}, {"CALL", "AB"}}}},
      {"two-digit and long lengths, stray '<' and unknown fields",
       "<COMMENT:12>twelve chars<CALL:4>W1AW 3 < 5 <APP_X_Y:2>zz<NAME:03>Ann<EOR>", false,
       {{{"COMMENT", "twelve chars"}, {"CALL", "W1AW"}, {"APP_X_Y", "zz"}, {"NAME", "Ann"}}}},
      {"UTF-8 counted in bytes", "<QTH:7>Z\xC3\xBCrich<EOR>", false, {{{"QTH", "Z\xFCrich"}}}},
      {"UTF-8 counted in characters, the byte count cutting one",
       "<NAME:3>Zo\xC3\xAB<EOR>", false, {{{"NAME", "Zo\xEB"}}}},
      {"UTF-8 counted in characters, text left before the next field",
       "<QTH:6>Z\xC3\xBCrich<CALL:4>W1AW<EOR>", false, {{{"QTH", "Z\xFCrich"}, {"CALL", "W1AW"}}}},
      {"a character outside the tables' code page", "<NAME:6>\xE6\x9D\x8E Li<EOR>", false,
       {{{"NAME", "? Li"}}}},
      {"the same counted in characters", "<NAME:4>\xE6\x9D\x8E Li<EOR>", false, {{{"NAME", "? Li"}}}},
      {"8-bit text that is not UTF-8", "<QTH:6>Z\xFCrich<CALL:2>AB<EOR>", false,
       {{{"QTH", "Z\xFCrich"}, {"CALL", "AB"}}}},
      {"byte-order mark, then no header", "\xEF\xBB\xBF<CALL:4>W1AW<EOR>", false, {{{"CALL", "W1AW"}}}},
      {"record ends with no field make no record", "<EOR><CALL:2>AB<EOR>\r\n<EOR>", false,
       {{{"CALL", "AB"}}}},
      {"DigiPan: the first line dropped, no header", "DigiPan log 1.0\r\n<CALL:4>W1AW<EOR>", true,
       {{{"CALL", "W1AW"}}}},
      {"empty file", "", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<AdifRecord> records;
    ASSERT_NO_THROW(records = ParseAdif(c.bytes, c.digiPan, "test.adi"));
    EXPECT_EQ(Flatten(records), c.expected);
  }
}

TEST(AdifReader, BrokenFilesAreReported) {
  struct Case {
    std::string bytes;
    const char* message;
  };
  const Case cases[] = {
      {"Header without end\r\n<CALL:4>W1AW<EOR>", "Cannot read the ADIF file t.adi: its header has no <EOH>."},
      {"DigiPan log 1.0\r\n<CALL:4>W1AW<EOR>", "its header has no <EOH>."},
      {"<CALL:4>W1AW<EOR><CALL:10>K1", "Cannot read the ADIF file t.adi: record 2 is cut short (the file ends inside it)."},
      {"<CALL:4>W1AW<EOR><CALL:3>K1X\r\n", "record 2 is cut short"},
      {"<CALL:4>W1AW<EOR><CALL:3>K1X<EO", "record 2 is cut short"},
      {"<CALL:4>W1AW<EOR><CALL:3", "record 2 is cut short"},
      {"<CALL:99999999999999999999999>x<EOR>", "record 1 is cut short"},
  };
  for (const Case& c : cases) {
    try {
      ParseAdif(c.bytes, false, "t.adi");
      ADD_FAILURE() << "no error for " << c.bytes;
    } catch (const EAdifError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

AdifSource Source(const std::string& bytes) { return {"in.adi", ParseAdif(bytes, false, "in.adi")}; }

TEST(AdifContacts, ConversionRules) {
  const std::vector<ImportedContact> contacts = ContactsFromAdif({Source(
      "<CALL:4>w1aw<NAME:3>bob<QTH:6>z\xC3\xBCrich<QSO_DATE:8>20240315<TIME_ON:4>0905"
      "<RST_SENT:2>59<RST_RCVD:3>579<BAND:3>20m<FREQ:9>14.074000<MODE:3>ft8<PFX:2>w1<STATE:2>ct"
      "<CNTY:8>Hartford<CONTEST_ID:7>arrl-fd<GRIDSQUARE:6>FN31pr<IOTA:6>na-001<TX_PWR:3>100"
      "<OPERATOR:6>n0call<CITY:5>paris<COMMENT:4>note<CALL:4>XXXX<EOR>"
      "<CALL:3>K1X<TIME_ON:6>123456<RST_SENT:1>5<RST_RCVD:3>5NN<BAND:4>70CM<EOR>"
      "<CALL:3>K2X<QSO_DATE:10>2024-03-15<TIME_ON:3>905<BAND:4>160M<EOR>"
      "<CALL:3>K3X<BAND:5>1.25M<EOR><CALL:3>K4X<BAND:2>20<EOR>")});
  ASSERT_EQ(contacts.size(), 5u);
  const ImportedContact& a = contacts[0];
  EXPECT_EQ(a.date, DBFDate().EncodeDate(2024, 3, 15));
  EXPECT_EQ(a.time, "09:05");
  EXPECT_EQ(a.Text(fSTATION), "W1AW");  // the first CALL counts; values upper-cased
  EXPECT_EQ(a.Text(fSPARE1), "BOB");
  EXPECT_EQ(a.Text(fQTH), "Z\xDCRICH");
  EXPECT_EQ(a.Text(fFREQ), "14.074000");  // the table cuts it to its 7 characters
  EXPECT_EQ(a.Text(fMODE), "FT8");
  EXPECT_EQ(a.Text(fCONTEST), "ARRL-FD");
  EXPECT_EQ(a.Text(fCITY), "PARIS");
  EXPECT_EQ(a.Text(fREMARK), "");  // read, not written
  EXPECT_EQ(a.sent, 59);
  EXPECT_EQ(a.received, 579);
  EXPECT_EQ(a.band, 20);

  struct Row {
    int64_t number, sent, received, band;
    int32_t date;
    const char* time;
  };
  const int32_t jan2000 = DBFDate().EncodeDate(2000, 1, 1);
  const Row expected[] = {
      {2, 5, 0, 70, jan2000, "12:34"},    // no QSO_DATE: 1 January 2000
      {3, 1, 1, 160, jan2000, "00:00"},   // a 10-character date and a 3-digit time: defaults
      {4, 1, 1, 0, jan2000, "00:00"},     // a band that is no whole number: 0
      {5, 1, 1, 20, jan2000, "00:00"},    // a band without its unit
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i + 2);
    const ImportedContact& c = contacts[i + 1];
    EXPECT_EQ(c.number, expected[i].number);  // no STX in the first record: numbered in order
    EXPECT_EQ(c.sent, expected[i].sent);
    EXPECT_EQ(c.received, expected[i].received);
    EXPECT_EQ(c.band, expected[i].band);
    EXPECT_EQ(c.date, expected[i].date);
    EXPECT_EQ(c.time, expected[i].time);
  }

  // STX numbers the contacts when the first record's is a number.
  const auto numbered = ContactsFromAdif({Source("<STX:3>007<CALL:1>A<EOR><STX:2>12<CALL:1>B<EOR>"),
                                          Source("<STX:1>3<CALL:1>C<EOR>")});
  ASSERT_EQ(numbered.size(), 3u);
  EXPECT_EQ(numbered[0].number, 7);
  EXPECT_EQ(numbered[1].number, 12);
  EXPECT_EQ(numbered[2].number, 3);

  const std::pair<const char*, const char*> refused[] = {
      {"<QSO_DATE:8>20231345<EOR>", "Cannot import record 1 of in.adi: the date (QSO_DATE) \"20231345\" is not a date."},
      {"<TIME_ON:4>2460<EOR>", "the time (TIME_ON) \"2460\" is not a time."},
      {"<STX:1>1<EOR><CALL:2>AB<EOR>", "Cannot import record 2 of in.adi: the serial number (STX) \"\" is not a number."},
      {"<STX:1>1<EOR><STX:2>x1<EOR>", "the serial number (STX) \"x1\" is not a number."},
  };
  for (const auto& [bytes, message] : refused) {
    try {
      ContactsFromAdif({Source(bytes)});
      ADD_FAILURE() << "no error for " << bytes;
    } catch (const EAdifError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

class AdifImportTest : public core_test::TempDirTest {
 protected:
  AdifImportRequest Request(const std::vector<std::string>& names) {
    AdifImportRequest request;
    for (const std::string& name : names) request.files.push_back(PathOf(name));
    request.confirmOverwrite = [this](const std::string& question) {
      questions_.push_back(question);
      return answer_;
    };
    return request;
  }
  std::vector<std::string> questions_;
  bool answer_ = true;
};

TEST_F(AdifImportTest, TwoFilesMakeOneLogbookWithItsTags) {
  core_test::WriteFile(PathOf("Contest.ADI"),
                       "Contest log\r\n<adif_ver:5>3.1.0<eoh>\r\n"
                       "<call:4>w1aw<qso_date:8>20240316<time_on:6>101500<band:3>20m<freq:6>14.200"
                       "<mode:3>ssb<rst_sent:2>59<rst_rcvd:2>57<name:5>hiram<eor>\r\n"
                       "<CALL:3>K1X<QSO_DATE:8>20240315<TIME_ON:4>2300<BAND:4>70CM<EOR>\r\n"
                       "<CALL:3>K2X<QSO_DATE:8>20240316<TIME_ON:4>0900<EOR>\r\n");
  core_test::WriteFile(PathOf("more.txt"),
                       "<call:5>dl1ab<qso_date:8>20240101<time_on:4>0000<qth:7>M\xC3\xBCnchen<eor>"
                       "<call:3>K3X<eor><call:3>K4X<eor><call:3>K5X<eor>");
  AdifImportRequest request = Request({"Contest.ADI", "more.txt"});
  std::vector<ImportPhase> phases;
  request.progress = [&](ImportPhase phase, int64_t, int64_t) {
    if (phases.empty() || phases.back() != phase) phases.push_back(phase);
  };
  const AdifImportResult result = ImportAdifFiles(request);
  ASSERT_EQ(result.outcome, AdifImportOutcome::Imported);
  EXPECT_EQ(result.records, 7);
  EXPECT_EQ(result.tablePath, PathOf("Contest.dbf"));
  EXPECT_TRUE(questions_.empty());
  EXPECT_EQ(phases, (std::vector<ImportPhase>{ImportPhase::Reading, ImportPhase::Writing, ImportPhase::Indexing}));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"CONTEST.cdx", "Contest.ADI", "Contest.dbf", "more.txt"}));

  std::vector<Contact> rows = core_test::ReadContacts(result.tablePath);
  ASSERT_EQ(rows.size(), 7u);
  Contact first = rows[0];
  EXPECT_EQ(first["DATE"], "20240316");
  EXPECT_EQ(first["TIME"], "10:15");
  EXPECT_EQ(first["NUMBER"], "1");
  EXPECT_EQ(first["STATION"], "W1AW");
  EXPECT_EQ(first["BAND"], "20");
  EXPECT_EQ(first["FREQ"], "14.200");
  EXPECT_EQ(first["MODE"], "SSB");
  EXPECT_EQ(first["NRSENT"], "59");
  EXPECT_EQ(first["NRRCVD"], "57");
  EXPECT_EQ(first["SPARE1"], "HIRAM");
  EXPECT_EQ(first["RST"], "");
  EXPECT_EQ(rows[1]["BAND"], "70");
  EXPECT_EQ(rows[3]["QTH"], "M\xDCNCHEN");
  EXPECT_EQ(rows[3]["NUMBER"], "4");
  EXPECT_EQ(rows[4]["DATE"], "20000101");
  EXPECT_EQ(rows[4]["TIME"], "00:00");
  EXPECT_EQ(rows[6]["STATION"], "K5X");
  EXPECT_EQ(rows[6]["NRSENT"], "1");

  // The logbook opens through the program's open path in date order.
  TSorrelDataSet dbf1;
  OpenLogbook(dbf1, result.tablePath);
  EXPECT_EQ(SorrelTagCount(dbf1), 7);
  std::vector<std::string> order;
  for (dbf1.First(); !dbf1.Eof(); dbf1.Next()) order.push_back(dbf1.FieldByName("STATION")->AsString());
  EXPECT_EQ(order, (std::vector<std::string>{"K3X", "K4X", "K5X", "DL1AB", "K1X", "K2X", "W1AW"}));
}

TEST_F(AdifImportTest, NothingIsLeftHalfMade) {
  // A cut file: reported, nothing created.
  core_test::WriteFile(PathOf("cut.adi"), "<CALL:4>W1AW<EOR><CALL:4>K1AB<NAME:5>Jo");
  EXPECT_THROW(ImportAdifFiles(Request({"cut.adi"})), EAdifError);
  // A good first file and a bad second one: nothing either.
  core_test::WriteFile(PathOf("good.adi"), "<CALL:4>W1AW<EOR>");
  core_test::WriteFile(PathOf("bad.adi"), "<CALL:4>W1AW<QSO_DATE:8>20241399<EOR>");
  EXPECT_THROW(ImportAdifFiles(Request({"good.adi", "bad.adi"})), EAdifError);
  EXPECT_THROW(ImportAdifFiles(Request({"good.adi", "missing.adi"})), std::runtime_error);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"bad.adi", "cut.adi", "good.adi"}));

  // Cancel on the overwrite question: the existing logbook keeps every byte.
  core_test::MakeLogbook(PathOf("GOOD.DBF"), {{{"STATION", "OLD1"}}});
  const std::string before = core_test::ReadFile(PathOf("GOOD.DBF"));
  answer_ = false;
  EXPECT_EQ(ImportAdifFiles(Request({"good.adi"})).outcome, AdifImportOutcome::Cancelled);
  EXPECT_EQ(questions_, std::vector<std::string>{"Table exists.  Do you want to overwrite?"});
  EXPECT_EQ(core_test::ReadFile(PathOf("GOOD.DBF")), before);

  // The logbook the program has open is refused, in whatever case it is named.
  AdifImportRequest open = Request({"good.adi"});
  open.openLogbookPath = PathOf("GOOD.DBF");
  EXPECT_EQ(ImportAdifFiles(open).outcome, AdifImportOutcome::OpenLogbook);
  EXPECT_EQ(core_test::ReadFile(PathOf("GOOD.DBF")), before);

  // The reference tables' and the placeholder's names are refused.
  core_test::WriteFile(PathOf("States.adi"), "<CALL:4>W1AW<EOR>");
  EXPECT_EQ(ImportAdifFiles(Request({"States.adi"})).outcome, AdifImportOutcome::ReservedName);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"GOOD.DBF", "States.adi", "bad.adi", "cut.adi", "good.adi"}));

  // Overwrite answered OK: the old table is replaced under its own name.
  answer_ = true;
  EXPECT_EQ(ImportAdifFiles(Request({"good.adi"})).outcome, AdifImportOutcome::Imported);
  const auto rows = core_test::ReadContacts(PathOf("GOOD.DBF"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("STATION"), "W1AW");
  EXPECT_FALSE(std::filesystem::exists(PathOf("good.dbf")));
}

// Export, import, export: every field that goes both ways comes back byte for byte.
TEST_F(AdifImportTest, RoundTripKeepsTheMappedFields) {
  std::vector<Contact> contacts;
  const char* const calls[] = {"W1AW", "DL1ABC/P", "JA1ZZZ", "VK2DEF", "G4ABC", "KH6XYZ"};
  const char* const freqs[] = {"14.070", "7.150", "", "432.100", "3.5", "28.400"};
  for (int i = 0; i < 12; ++i) {
    char date[9], time[6];
    snprintf(date, sizeof date, "2024%02d%02d", 1 + i % 12, 1 + (i * 7) % 28);
    snprintf(time, sizeof time, "%02d:%02d", (i * 5) % 24, (i * 11) % 60);
    contacts.push_back({{"DATE", date}, {"TIME", time}, {"NUMBER", std::to_string(i + 1)},
                        {"STATION", calls[i % 6]}, {"BAND", std::to_string(i % 2 ? 40 : 20)},
                        {"QTH", i % 3 ? "M\xDCNCHEN" : "NEWINGTON"}, {"NRSENT", "59"},
                        {"NRRCVD", std::to_string(50 + i)}, {"SPARE1", "O'NEIL " + std::to_string(i)},
                        {"MODE", i % 2 ? "CW" : "SSB"}, {"PREFIX", "W1"}, {"STATE", "CT"},
                        {"FREQ", freqs[i % 6]}, {"COUNTY", "HARTFORD"}, {"CONTEST", i % 4 ? "" : "FD"},
                        {"OPERATR", "N0CALL"}, {"IOTA", "NA-001"}, {"TXPWR", "100"}, {"GRIDSQR", "FN31PR"},
                        {"REMARK", "NOT IMPORTED"}, {"CQZONE", "5"}});
  }
  core_test::MakeLogbook(PathOf("trip.dbf"), contacts);
  const AdifExportResult first = ExportLogbookToAdif(PathOf("trip.dbf"), false);
  std::filesystem::create_directory(PathOf("back"));
  std::filesystem::copy_file(first.path, PathOf("back/trip.adi"));
  ASSERT_EQ(ImportAdifFiles(Request({"back/trip.adi"})).outcome, AdifImportOutcome::Imported);
  const AdifExportResult second = ExportLogbookToAdif(PathOf("back/trip.dbf"), false);

  const char* const notImported[] = {"CQZ", "ITUZ", "TEN_TEN", "QSL_SENT", "QSL_RCVD", "COMMENT"};
  auto mapped = [&](const std::string& path) {
    std::vector<std::string> lines;
    std::string bytes = core_test::ReadFile(path);
    for (const AdifRecord& r : ParseAdif(bytes, false, path)) {
      std::string line;
      for (const AdifField& f : r.fields)
        if (std::find_if(std::begin(notImported), std::end(notImported),
                         [&](const char* n) { return f.name == n; }) == std::end(notImported))
          line += AdifTag(f.name, f.value);
      lines.push_back(line);
    }
    return lines;
  };
  const auto before = mapped(first.path);
  ASSERT_EQ(before.size(), 12u);
  EXPECT_EQ(mapped(second.path), before);
}

}  // namespace
