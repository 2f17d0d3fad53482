// ADIF import: the reader on hand-made tricky files, the conversion rules, and whole imports
// that either make a complete logbook or leave nothing behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>

#include "dataset/Sorl6db_search.h"
#include "adif_export.h"
#include "adif_import.h"
#include "base/SysSorl.h"
#include "clock_time.h"
#include "contact_entry.h"
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
      {"a header whose free text holds what looks like a broken tag",
       "Made by <http://example.org> <PROGRAMID:4>Test <eoh>\n<CALL:4>W1AW<EOR>", false, {{{"CALL", "W1AW"}}}},
      {"empty file", "", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<AdifRecord> records;
    ASSERT_NO_THROW(records = ParseAdif(c.bytes, c.digiPan, "test.adi"));
    EXPECT_EQ(Flatten(records), c.expected);
  }
}

TEST(AdifReader, BrokenTagsAreRefusedByRecordAndField) {
  struct Case {
    std::string bytes;
    const char* message;
  };
  const Case cases[] = {
      {"Header without end\r\n<CALL:4>W1AW<EOR>", "Cannot read the ADIF file t.adi: its header has no <EOH>."},
      {"DigiPan log 1.0\r\n<CALL:4>W1AW<EOR>", "its header has no <EOH>."},
      {"<CALL:4>W1AW<EOR><CALL:3>K1X<NAME:three>Bob<EOR>",
       "Cannot read the ADIF file t.adi: record 2, field NAME: the length \"three\" is not a number."},
      {"<CALL:>W1AW<EOR>", "record 1, field CALL: the length \"\" is not a number."},
      {"<CALL:4 W1AW<EOR>", "record 1, field CALL: its tag is not closed by '>'."},
      {"<CALL:4:S W1AW<EOR>", "record 1, field CALL: its tag is not closed by '>'."},
      {"<CALL:4>W1AW<EOR>\n<qth:6x>Boston<EOR>", "record 2, field QTH: its tag is not closed by '>'."},
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

TEST(AdifReader, TextAfterTheLastRecordEndIsLeftOutAndReported) {
  struct Case {
    std::string bytes;
    size_t records;
    size_t line;
    const char* start;  // empty: nothing left out
  };
  const Case cases[] = {
      {"<CALL:4>W1AW<EOR>\r\n<CALL:4>K1AB<NAME:5>Jo", 1, 2, "<CALL:4>K1AB<NAME:5>Jo"},
      {"<CALL:4>W1AW<EOR><CALL:3>K1X\r\n", 1, 1, "<CALL:3>K1X"},
      {"<CALL:4>W1AW<EOR>\n\n  <CALL:3>K1X<EO", 1, 3, "<CALL:3>K1X<EO"},
      {"<CALL:4>W1AW<EOR><CALL:3", 1, 1, "<CALL:3"},
      {"<CALL:99999999999999999999999>x<EOR>", 0, 1, "<CALL:99999999999999999999999>x<EOR>"},
      {"<CALL:4>W1AW<EOR>\n<QTH:7>Z\xC3\xBCrich and on and on and on and on and on and on\n<EOR",
       1, 2, "<QTH:7>Z\xC3\xBCrich and on and on and on and o"},  // 40 characters
      {"<CALL:4>W1AW<EOR>\r\nend of log\r\n", 1, 0, ""},  // text without fields is no record
      {"<CALL:4>W1AW<EOR>", 1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    AdifReadSummary summary;
    std::vector<AdifRecord> records;
    ASSERT_NO_THROW(records = ParseAdif(c.bytes, false, "t.adi", {}, &summary));
    EXPECT_EQ(records.size(), c.records);
    EXPECT_EQ(summary.records, c.records);
    if (*c.start == '\0') {
      EXPECT_FALSE(summary.leftOut.has_value());
      continue;
    }
    ASSERT_TRUE(summary.leftOut.has_value());
    EXPECT_EQ(summary.leftOut->line, c.line);
    EXPECT_EQ(summary.leftOut->start, c.start);
    EXPECT_EQ(c.bytes.substr(summary.leftOut->offset, 7), std::string(c.start).substr(0, 7));
  }
}

TEST(AdifReader, CollectedTextIsTheUpperCasedLinesAfterTheHeader) {
  EXPECT_EQ(AdifCollectedText("Log\r\n<eoh>\r\n<call:4>w1aw\r\n<qth:7>Z\xC3\xBCrich<eor>\r\n", false, "t"),
            "<CALL:4>W1AW\n<QTH:7>Z\xDCRICH<EOR>\n");
  EXPECT_EQ(AdifCollectedText("Log <EOH> <call:1>a<eor>", false, "t"), " <CALL:1>A<EOR>\n");
  EXPECT_EQ(AdifCollectedText("DigiPan\n<call:1>a<eor>\r<call:1>b<eor>", true, "t"),
            "<CALL:1>A<EOR>\n<CALL:1>B<EOR>\n");
  EXPECT_EQ(AdifCollectedText("", false, "t"), "");
  EXPECT_THROW(AdifCollectedText("No end of header", false, "t"), EAdifError);
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
  EXPECT_EQ(a.Text(fREMARK), "NOTE");
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
      {3, 1, 1, 160, jan2000, "09:05"},   // a 10-character date: the default; the hour without its 0
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

  const std::pair<const char*, const char*> refused[] = {
      {"<QSO_DATE:8>20231345<EOR>", "Cannot import record 1 of in.adi: the date (QSO_DATE) \"20231345\" is not a date."},
      {"<TIME_ON:4>2460<EOR>", "the time (TIME_ON) \"2460\" is not a time."},
      {"<CALL:1>A<EOR><TIME_ON:4>12  <EOR>", "Cannot import record 2 of in.adi: the time (TIME_ON) \"12  \" is not a time."},
      {"<TIME_ON:4>12ab<EOR>", "the time (TIME_ON) \"12ab\" is not a time."},
      {"<TIME_ON:7>1234567<EOR>", "the time (TIME_ON) \"1234567\" is not a time."},
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

// Records as other logging programs write them, each with the contact expected of it.
TEST(AdifContacts, AsOtherProgramsWriteThem) {
  struct Case {
    const char* what;
    const char* record;
    std::map<std::string, std::string> expected;  // NUMBER, TIME, NRSENT, NRRCVD, BAND, TENTEN or a text field
  };
  const Case cases[] = {
      {"signed digital reports", "<RST_SENT:3>-10<RST_RCVD:3>+02", {{"NRSENT", "-10"}, {"NRRCVD", "2"}}},
      {"reports that are no number, and none", "<RST_SENT:3>5NN", {{"NRSENT", "0"}, {"NRRCVD", "1"}}},
      {"sideband as SSB's submode", "<MODE:3>SSB<SUBMODE:3>USB", {{"MODE", "USB"}}},
      {"lower-case mode and submode", "<mode:3>ssb<submode:3>lsb", {{"MODE", "LSB"}}},
      {"another submode keeps the mode", "<MODE:4>MFSK<SUBMODE:3>FT4", {{"MODE", "MFSK"}}},
      {"an older program's sideband mode", "<MODE:3>usb", {{"MODE", "USB"}}},
      {"a time with a blank before it", "<TIME_ON:4> 930", {{"TIME", "09:30"}}},
      {"a time with blanks before it", "<TIME_ON:6>  1200", {{"TIME", "12:00"}}},
      {"a time with seconds", "<TIME_ON:6>235959", {{"TIME", "23:59"}}},
      {"a blank time", "<TIME_ON:4>    ", {{"TIME", "00:00"}}},
      {"the 70 cm band", "<BAND:4>70cm", {{"BAND", "70"}}},
      {"the 23 cm band", "<BAND:4>23CM", {{"BAND", "23"}}},
      {"a centimetre band the logbook has no number for", "<BAND:3>6cm", {{"BAND", "0"}}},
      {"a metre band beyond the logbook's table", "<BAND:3>60m", {{"BAND", "60"}}},
      {"the fields the logbook keeps beside the contact",
       "<COMMENT:9>Nice QSO!<CQZ:2>05<ITUZ:1>8<QSL_SENT:1>Y<QSL_RCVD:1>n<TEN_TEN:5>12345",
       {{"REMARK", "NICE QSO!"}, {"CQZONE", "05"}, {"ITUZONE", "8"}, {"QSLS", "Y"}, {"QSLR", "N"}, {"TENTEN", "12345"}}},
      {"a Ten-Ten number by its other name", "<TEN-TEN:2>77", {{"TENTEN", "77"}}},
      {"a comment over two lines", "<COMMENT:8>one\r\ntwo", {{"REMARK", "ONE  TWO"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<ImportedContact> contacts = ContactsFromAdif({Source(std::string("<CALL:2>K1") + c.record + "<EOR>")});
    ASSERT_EQ(contacts.size(), 1u);
    const ImportedContact& contact = contacts[0];
    for (const auto& [field, value] : c.expected) {
      const std::map<std::string, std::string> numbers = {
          {"NUMBER", std::to_string(contact.number)}, {"TIME", contact.time},
          {"NRSENT", std::to_string(contact.sent)},   {"NRRCVD", std::to_string(contact.received)},
          {"BAND", std::to_string(contact.band)},     {"TENTEN", std::to_string(contact.tenTen)}};
      const auto number = numbers.find(field);
      const auto& names = LogbookFieldNames();
      const auto at = std::find_if(names.begin(), names.end(), [&](const char* n) { return field == n; });
      ASSERT_NE(at, names.end()) << field;
      const std::string got = number != numbers.end()
                                  ? number->second
                                  : std::string(contact.Text(static_cast<LogField>(at - names.begin())));
      EXPECT_EQ(got, value) << field;
    }
  }
}

// Contest contacts carry STX, the others do not: each of the others takes its place in the
// import, or the next number above it no contact has, across files.
TEST(AdifContacts, ContactsWithoutSerialTakeTheirPlaceOrTheNextFreeNumber) {
  std::vector<ImportedContact> contacts = ContactsFromAdif(
      {Source("<STX:1>2<EOR><CALL:1>B<EOR><CALL:1>C<EOR><STX:3>003<EOR><STX:1>x<EOR>"),
       Source("<CALL:1>F<EOR><STX:2>12<EOR>")});
  std::vector<int64_t> numbers;
  for (const ImportedContact& c : contacts) numbers.push_back(c.number);
  // B: 2 and 3 are serials, so 4; C: 3 and 4 are taken, so 5; "x" is no number: 5 is taken, so
  // 6; F: 7.
  EXPECT_EQ(numbers, (std::vector<int64_t>{2, 4, 5, 3, 6, 7, 12}));

  // A long run of serials the rows fall into is walked once, not once per contact.
  std::vector<ImportedContact> many(200000);
  for (size_t i = 0; i < many.size(); ++i) {
    many[i].hasSerial = i % 2 == 0;
    many[i].number = i % 2 == 0 ? static_cast<int64_t>(i / 2 + 1) : static_cast<int64_t>(i + 1);
  }
  EXPECT_EQ(NumberContacts(many), 100000);
  std::set<int64_t> distinct;
  for (const ImportedContact& c : many) distinct.insert(c.number);
  EXPECT_EQ(distinct.size(), many.size());
  EXPECT_EQ(*distinct.rbegin(), 200000);
}

TEST(AdifContacts, TableNameRemovesTheFileNamesExtensions) {
  const std::pair<const char*, const char*> names[] = {
      {"log.adi", "log.dbf"},     {"Contest.ADI", "Contest.dbf"}, {"more.txt", "more.dbf"},
      {"LOG.TXT", "LOG.dbf"},     {"log.txt.adi", "log.dbf"},     {"x.Adi", "x.dbf"},
      {"log", "log.dbf"},         {"a.b.adi", "a.b.dbf"},         {"field.adi.bak", "field.bak.dbf"},
  };
  for (const auto& [file, table] : names) EXPECT_EQ(ImportTableName(file), table) << file;
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
  // A broken tag: reported by record and field, nothing created.
  core_test::WriteFile(PathOf("broken.adi"), "<CALL:4>W1AW<EOR><CALL:4>K1AB<NAME:three>Bob<EOR>");
  try {
    ImportAdifFiles(Request({"broken.adi"}));
    ADD_FAILURE() << "imported";
  } catch (const EAdifError& e) {
    EXPECT_STREQ(e.what(), "Cannot read the ADIF file broken.adi: record 2, field NAME: the length \"three\" is not a number.");
  }
  // A good first file and a bad second one: nothing either.
  core_test::WriteFile(PathOf("good.adi"), "<CALL:4>W1AW<EOR>");
  core_test::WriteFile(PathOf("bad.adi"), "<CALL:4>W1AW<QSO_DATE:8>20241399<EOR>");
  EXPECT_THROW(ImportAdifFiles(Request({"good.adi", "bad.adi"})), EAdifError);
  core_test::WriteFile(PathOf("time.adi"), "<CALL:4>W1AW<TIME_ON:4>12  <EOR>");
  EXPECT_THROW(ImportAdifFiles(Request({"good.adi", "time.adi"})), EAdifError);
  EXPECT_THROW(ImportAdifFiles(Request({"good.adi", "missing.adi"})), std::runtime_error);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"bad.adi", "broken.adi", "good.adi", "time.adi"}));

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
  EXPECT_EQ(Entries(),
            (std::vector<std::string>{"GOOD.DBF", "States.adi", "bad.adi", "broken.adi", "good.adi", "time.adi"}));

  // "good.b.dbf" would take the index of "GOOD.DBF": asked first, and Cancel keeps that index.
  core_test::WriteFile(PathOf("GOOD.cdx"), "the index of GOOD.DBF");
  core_test::WriteFile(PathOf("good.b.adi"), "<CALL:4>W1AW<EOR>");
  questions_.clear();
  answer_ = false;
  EXPECT_EQ(ImportAdifFiles(Request({"good.b.adi"})).outcome, AdifImportOutcome::Cancelled);
  EXPECT_EQ(questions_.size(), 1u);
  EXPECT_EQ(core_test::ReadFile(PathOf("GOOD.cdx")), "the index of GOOD.DBF");
  std::filesystem::remove(PathOf("GOOD.cdx"));

  // Overwrite answered OK: the old table is replaced under its own name.
  answer_ = true;
  EXPECT_EQ(ImportAdifFiles(Request({"good.adi"})).outcome, AdifImportOutcome::Imported);
  const auto rows = core_test::ReadContacts(PathOf("GOOD.DBF"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("STATION"), "W1AW");
  EXPECT_FALSE(std::filesystem::exists(PathOf("good.dbf")));
}

// A log of contest contacts with serials and everyday ones without, cut off before its last
// <EOR>: the complete records make the logbook, and the result says what was left out and how
// many contacts were numbered by their place.
TEST_F(AdifImportTest, MixedSerialsAndALastRecordWithoutItsEnd) {
  core_test::WriteFile(PathOf("mixed.adi"),
                       "Mixed log\r\n<EOH>\r\n<CALL:4>W1AW<STX:1>1<CONTEST_ID:7>ARRL-FD<EOR>\r\n<CALL:4>K1AB<EOR>\r\n"
                       "<CALL:4>N0XY<STX:1>2<CONTEST_ID:7>ARRL-FD<EOR>\r\n<CALL:5>DL1AB<QSO_DATE:8>2024");
  std::string collected;
  AdifImportRequest request = Request({"mixed.adi"});
  request.collected = [&collected](const std::string& text) { collected += text; };
  const AdifImportResult result = ImportAdifFiles(request);
  ASSERT_EQ(result.outcome, AdifImportOutcome::Imported);
  EXPECT_EQ(result.records, 3);
  EXPECT_EQ(result.numberedByPlace, 1);
  ASSERT_EQ(result.leftOut.size(), 1u);
  EXPECT_EQ(result.leftOut[0].fileName, "mixed.adi");
  EXPECT_EQ(AdifImportNote(result),
            "The text after the last <EOR> of mixed.adi was left out: no <EOR> ends it. It begins on line 6 with "
            "\"<CALL:5>DL1AB<QSO_DATE:8>2024\". 1 contact has no serial number (STX) and was numbered by its place "
            "in the import, or the next free number.");
  EXPECT_EQ(collected.substr(0, 32), "<CALL:4>W1AW<STX:1>1<CONTEST_ID:");
  EXPECT_EQ(std::count(collected.begin(), collected.end(), '\n'), 4);
  const std::vector<Contact> rows = core_test::ReadContacts(result.tablePath);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].at("NUMBER"), "1");
  EXPECT_EQ(rows[1].at("NUMBER"), "3");  // its place, 2, is N0XY's serial
  EXPECT_EQ(rows[2].at("NUMBER"), "2");

  // Without any serial, numbering by place is the usual case and nothing is said of it.
  AdifImportResult plain;
  plain.records = 4;
  plain.numberedByPlace = 4;
  EXPECT_EQ(AdifImportNote(plain), "");
}

// Export, import, export: every field the export writes comes back byte for byte.
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
                        {"MODE", i % 3 == 0 ? "CW" : i % 3 == 1 ? "USB" : "LSB"}, {"PREFIX", "W1"}, {"STATE", "CT"},
                        {"FREQ", freqs[i % 6]}, {"COUNTY", "HARTFORD"}, {"CONTEST", i % 4 ? "" : "FD"},
                        {"OPERATR", "N0CALL"}, {"IOTA", "NA-001"}, {"TXPWR", "100"}, {"GRIDSQR", "FN31PR"},
                        {"REMARK", "KEPT TOO"}, {"CQZONE", "5"}, {"ITUZONE", "8"}, {"QSLS", "Y"},
                        {"QSLR", i % 2 ? "N" : ""}, {"TENTEN", i % 3 ? "0" : std::to_string(1000 + i)}});
  }
  core_test::MakeLogbook(PathOf("trip.dbf"), contacts);
  const AdifExportResult first = ExportLogbookToAdif(PathOf("trip.dbf"), false);
  std::filesystem::create_directory(PathOf("back"));
  std::filesystem::copy_file(first.path, PathOf("back/trip.adi"));
  ASSERT_EQ(ImportAdifFiles(Request({"back/trip.adi"})).outcome, AdifImportOutcome::Imported);
  const AdifExportResult second = ExportLogbookToAdif(PathOf("back/trip.dbf"), false);

  EXPECT_EQ(ParseAdif(core_test::ReadFile(first.path), false, "trip.adi").size(), 12u);
  EXPECT_EQ(core_test::ReadFile(second.path), core_test::ReadFile(first.path));
}

// A logbook as Log It makes it: one contact for each mode the logbook logs and each row of its
// band table, as the rig (or manual operation) shows them.
class LogItLogbookTest : public AdifImportTest {
 protected:
  void SetUp() override {
    AdifImportTest::SetUp();
    path_ = PathOf("logit.dbf");
    core_test::MakeLogbook(path_);
    TSorrelDataSet dbf1;
    OpenLogbook(dbf1, path_);
    const char* const modes[] = {"CW", "USB", "LSB", "RTTY-R", "RTTY", "AM", "FM", "USB"};
    const std::pair<const char*, const char*> bands[] = {
        {"160", "1.90000"}, {"80", "3.75000"}, {"40", "7.15000"},   {"30", "10.12500"}, {"20", "14.07000"},
        {"17", "18.11000"}, {"15", "21.20000"}, {"12", "24.93000"}, {"10", "28.00000"}, {"6", "50.1250"},
        {"2", "144.2"},     {"70", "432.1"},   {"23", "1296.1"},    {"20", "14.000"}};
    for (size_t i = 0; i < std::size(bands); ++i) {
      TContactEntry e;
      e.Station = i % 2 ? "dl1abc/p" : "W1AW";
      e.Name = "Hiram " + std::to_string(i);
      e.Qth = "Newington";
      e.City = "Hartford";
      e.State = "CT";
      e.Remark = i % 3 ? "" : "Nice signal";
      e.Grid = "FN31pr";
      e.Sent = "599";
      e.Received = i % 4 ? "57" : "-10";
      e.Band = bands[i].first;
      e.Frequency = bands[i].second;
      e.CqZone = i % 5 ? "05" : "";
      e.ItuZone = i % 5 ? "08" : "";
      e.Mode = modes[i % std::size(modes)];
      e.SsbAsPsk = i % std::size(modes) == 7;  // the last "USB" is logged as PSK
      e.Prefix = "W1";
      e.Operator = "N0CALL";
      e.Power = "100";
      ASSERT_FALSE(CheckEntry(e).has_value());
      LogContact(dbf1, path_, e, EncodeDateTime({2024, 3, 1 + static_cast<int>(i), 9, static_cast<int>(i)}));
    }
  }
  std::string path_;
};

TEST_F(LogItLogbookTest, ExportComesBackFieldByField) {
  const AdifExportResult exported = ExportLogbookToAdif(path_, false);
  EXPECT_EQ(exported.records, 14);
  EXPECT_EQ(exported.incomplete, 0);
  std::filesystem::create_directory(PathOf("back"));
  std::filesystem::copy_file(exported.path, PathOf("back/logit.adi"));
  const AdifImportResult imported = ImportAdifFiles(Request({"back/logit.adi"}));
  ASSERT_EQ(imported.outcome, AdifImportOutcome::Imported);
  EXPECT_TRUE(imported.leftOut.empty());
  EXPECT_EQ(imported.numberedByPlace, 0);

  const std::vector<Contact> logged = core_test::ReadContacts(path_);
  const std::vector<Contact> back = core_test::ReadContacts(imported.tablePath);
  ASSERT_EQ(back.size(), logged.size());
  for (size_t i = 0; i < logged.size(); ++i) {
    SCOPED_TRACE("contact " + std::to_string(i + 1));
    for (const char* field : LogbookFieldNames()) {
      const std::string name = field;
      if (name == "RST" || name == "CITY") continue;  // not exported
      std::string expected = SysUpperCase(logged[i].at(name));  // the import upper-cases
      if (name == "MODE" && expected == "RTTY-R") expected = "RTTY";  // the format has no reversed RTTY
      EXPECT_EQ(back[i].at(name), expected) << name;
    }
  }
  EXPECT_EQ(back[7].at("MODE"), "PSK");
  EXPECT_EQ(back[4].at("NRRCVD"), "-10");
  EXPECT_EQ(back[12].at("BAND"), "23");
}

// The strict checker from the npm registry (tcadif: every field's type and enumeration, and the
// fields a contact must have), installed once into a cache folder; the test is skipped on a
// machine without node and npm, or without the registry.
std::optional<std::string> StrictValidatorFolder(std::string& why) {
  if (std::system("command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1") != 0) {
    why = "node and npm are not installed";
    return std::nullopt;
  }
  const char* cache = std::getenv("QM_NPM_TOOLS");
  const std::filesystem::path folder =
      cache != nullptr && *cache != '\0' ? std::filesystem::path(cache)
                                         : std::filesystem::temp_directory_path() / "quillmere-npm-tools";
  if (std::filesystem::exists(folder / "node_modules/tcadif/package.json")) return folder.string();
  // Installed beside and moved into place, so a run cut short leaves no half install.
  const std::filesystem::path fresh = folder.string() + "." + std::to_string(getpid());
  std::filesystem::create_directories(fresh);
  const std::string install = "timeout 120 npm install --prefix '" + fresh.string() + "' --cache '" +
                              (fresh / "cache").string() +
                              "' --no-audit --no-fund --no-save --loglevel=error tcadif@2.4.0 >'" +
                              (fresh / "install.log").string() + "' 2>&1";
  if (std::system(install.c_str()) != 0) {
    why = "npm could not install the validator: " + core_test::ReadFile((fresh / "install.log").string());
    std::error_code ec;
    std::filesystem::remove_all(fresh, ec);
    return std::nullopt;
  }
  std::error_code ec;
  std::filesystem::rename(fresh, folder, ec);
  if (ec) std::filesystem::remove_all(fresh, ec);  // another run was first
  return folder.string();
}

// "valid <contacts>" or "invalid <what the checker says>".
std::string Validate(const std::string& tools, const std::string& script, const std::string& file) {
  const std::string command = "NODE_PATH='" + tools + "/node_modules' node '" + script + "' '" + file + "' 2>&1";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST_F(LogItLogbookTest, ExportPassesAStrictValidator) {
  std::string why;
  const std::optional<std::string> tools = StrictValidatorFolder(why);
  if (!tools) GTEST_SKIP() << "no strict ADIF validator: " << why;
  const std::string script = PathOf("validate.js");
  core_test::WriteFile(script,
                       "const { ADIF } = require('tcadif');\n"
                       "const text = require('fs').readFileSync(process.argv[2], 'latin1');\n"
                       "try { console.log('valid ' + ADIF.parse(text).qsos.length); }\n"
                       "catch (e) { console.log('invalid ' + e.message + ' ' + JSON.stringify({field: e.field, value: e.value})); }\n");
  // The checker is strict: each fault the export once had is refused.
  const std::string good = "<CALL:4>W1AW<QSO_DATE:8>20240301<TIME_ON:4>0900<BAND:3>20M";
  const std::pair<std::string, const char*> faults[] = {
      {good + "<MODE:2>CW<TEN_TEN:1>0<EOR>", "TEN_TEN"},
      {good + "<MODE:3>USB<EOR>", "MODE"},
      {"<CALL:4>W1AW<QSO_DATE:8>20240301<TIME_ON:4>0900<BAND:3>70M<MODE:2>FM<EOR>", "BAND"},
      {good + "<MODE:0><EOR>", "required"},
  };
  for (const auto& [text, what] : faults) {
    core_test::WriteFile(PathOf("fault.adi"), text);
    const std::string verdict = Validate(*tools, script, PathOf("fault.adi"));
    EXPECT_EQ(verdict.rfind("invalid ", 0), 0u) << text << ": " << verdict;
    EXPECT_NE(verdict.find(what), std::string::npos) << verdict;
  }
  core_test::WriteFile(PathOf("fine.adi"), good + "<MODE:3>SSB<SUBMODE:3>USB<EOR>");
  ASSERT_EQ(Validate(*tools, script, PathOf("fine.adi")), "valid 1");

  const AdifExportResult exported = ExportLogbookToAdif(path_, false);
  EXPECT_EQ(Validate(*tools, script, exported.path), "valid 14");
}

}  // namespace
