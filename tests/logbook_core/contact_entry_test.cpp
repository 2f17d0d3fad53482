// Contact entry without widgets: the call quoted into the filter whatever it holds, the duplicate
// check's filter, band and case rules, the entry's refusals, and Log It's number, date and time,
// and its clean failure when the disk refuses the record. Also the log list's order.
#include <signal.h>
#include <sys/resource.h>

#include "dataset/Sorl6db_search.h"
#include "clock_time.h"
#include "contact_entry.h"
#include "expression_literal.h"
#include "core_test_util.h"

namespace {

using namespace quillmere;
using core_test::Contact;

class ContactEntryTest : public core_test::TempDirTest {
 protected:
  // A logbook opened the program's way, holding `contacts`.
  void Open(const std::vector<Contact>& contacts) {
    path_ = PathOf("log1.dbf");
    core_test::MakeLogbook(path_, contacts);
    OpenLogbook(dbf1_, path_);
  }
  // The stations the view shows, in its order.
  std::vector<std::string> View() {
    std::vector<std::string> stations;
    const TBookmark here = dbf1_.Bookmark();
    for (dbf1_.First(); !dbf1_.Eof(); dbf1_.Next()) stations.push_back(dbf1_.FieldByName("STATION")->AsString());
    if (!here.empty()) dbf1_.GotoBookmark(here);
    return stations;
  }
  static TContactEntry Entry(const std::string& call) {
    TContactEntry e;
    e.Station = call;
    e.Sent = "59";
    e.Received = "57";
    e.Band = "20";
    return e;
  }

  std::string path_;
  TSorrelDataSet dbf1_;
};

Contact Qso(const std::string& date, const std::string& time, const std::string& station, const std::string& band,
            const std::string& number, const std::string& name = "") {
  return {{"DATE", date}, {"TIME", time}, {"STATION", station}, {"BAND", band}, {"NUMBER", number}, {"SPARE1", name}};
}

TEST(CallQuoting, EveryCallIsQuotedByADelimiterItDoesNotHold) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"W1AW", "'W1AW'"},
      {"", "''"},
      {"O'HARA", "\"O'HARA\""},
      {"X' .OR. .T. .OR. STATION='Y", "\"X' .OR. .T. .OR. STATION='Y\""},
      {"A'B\"C", "[A'B\"C]"},
      {"[W1]", "'[W1]'"},
      {"A'B\"C[", "[A'B\"C[]"},
      {"A'B\"C]", std::nullopt},
  };
  for (const auto& [text, quoted] : cases) EXPECT_EQ(QuoteExpressionLiteral(text), quoted) << text;

  // Fewer than four characters: the starred pattern, filtering left as it is; four and more: the
  // call itself, filtering switched on.
  const auto short_ = CallFilter("W1A");
  ASSERT_TRUE(short_);
  EXPECT_EQ(short_->Text, "STATION = 'W1A*'");
  EXPECT_FALSE(short_->SwitchOn);
  const auto whole = CallFilter("W1AW");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->Text, "STATION = 'W1AW'");
  EXPECT_TRUE(whole->SwitchOn);
  EXPECT_FALSE(CallFilter("'\"]"));
  EXPECT_EQ(CallSignText("w1aw/p"), "W1AW/P");
}

TEST_F(ContactEntryTest, DuplicateIsTheSameStationOnTheSameBandWhateverItHolds) {
  const std::vector<std::string> odd = {"O'HARA", "SAY\"HI", "AB'C\"D"};
  std::vector<Contact> contacts = {Qso("20240101", "10:00", "W1AW", "20", "1", "Hiram"),
                                   Qso("20240102", "11:00", "W1AWX", "20", "2"),
                                   Qso("20240103", "12:00", "K1ABC", "40", "3")};
  for (const std::string& call : odd) contacts.push_back(Qso("20240104", "13:00", call, "20", "9"));
  contacts.push_back(Qso("20240105", "14:00", "Y", "20", "10"));
  Open(contacts);

  // Short calls leave filtering off and the whole log in view, newest last.
  TDuplicateVerdict v = CheckDuplicate(dbf1_, "W1A", 20);
  EXPECT_EQ(dbf1_.Filter(), "STATION = 'W1A*'");
  EXPECT_FALSE(dbf1_.Filtered());
  EXPECT_FALSE(v.Found);
  EXPECT_EQ(dbf1_.FieldByName("STATION")->AsString(), "Y");

  struct Case {
    const char* typed;
    std::optional<int> band;
    bool found;
    std::vector<std::string> view;
  } cases[] = {
      {"W1AW", 20, true, {"W1AW"}},
      {"w1aw", 20, true, {"W1AW"}},  // typed in lower case, stored in capitals
      {"W1AW", 40, false, {"W1AW"}},
      {"W1AW", std::nullopt, false, {"W1AW"}},
      {"K1ABC", 40, true, {"K1ABC"}},
      {"O'HARA", 20, true, {"O'HARA"}},
      {"SAY\"HI", 20, true, {"SAY\"HI"}},
      {"AB'C\"D", 20, true, {"AB'C\"D"}},
      // Expression text typed as a call stays a call: no such station, never the whole log.
      {"X' .OR. .T. .OR. STATION='Y", 20, false, {}},
      {"W9ZZZ", 20, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    v = CheckDuplicate(dbf1_, c.typed, c.band);
    EXPECT_TRUE(v.Filtered);
    EXPECT_TRUE(dbf1_.Filtered());
    EXPECT_EQ(v.Found, c.found);
    EXPECT_EQ(View(), c.view);
    EXPECT_EQ(v.Station, c.found ? CallSignText(c.typed) : std::string());
  }
  v = CheckDuplicate(dbf1_, "W1AW", 20);
  EXPECT_EQ(v.Name, "Hiram");

  // Once filtering is on, a shorter text filters by its pattern.
  CheckDuplicate(dbf1_, "K1", 40);
  EXPECT_TRUE(dbf1_.Filtered());
  EXPECT_EQ(View(), std::vector<std::string>{"K1ABC"});

  // A call no delimiter can carry filters nothing and leaves the view as it was.
  const std::string before = dbf1_.Filter();
  v = CheckDuplicate(dbf1_, "A'B\"C]", 20);
  EXPECT_FALSE(v.Filtered);
  EXPECT_FALSE(v.Found);
  EXPECT_EQ(dbf1_.Filter(), before);
}

TEST(EntryRefusals, NumbersFirstThenTheCall) {
  struct Case {
    const char *band, *sent, *received, *call;
    std::optional<std::string> spoken;
  } cases[] = {
      {"20", "59", "57", "W1AW", std::nullopt},
      {" 160 ", "+5", "-1", "K1ABC", std::nullopt},
      {"2O", "59", "59", "W1AW", "The band must be a whole number. "},
      {"", "59", "59", "W1AW", "The band must be a whole number. "},
      {"20", "5 9", "59", "W1AW", "The sent report must be a whole number. "},
      {"20", "59", "59A", "", "The received report must be a whole number. "},
      {"20", "59", "59", "", "please enter callsign. "},
      {"20", "59", "59", "   ", "please enter callsign. "},
  };
  for (const Case& c : cases) {
    TContactEntry e;
    e.Band = c.band;
    e.Sent = c.sent;
    e.Received = c.received;
    e.Station = c.call;
    const std::optional<TEntryRefusal> refusal = CheckEntry(e);
    EXPECT_EQ(refusal ? std::optional(refusal->Spoken) : std::nullopt, c.spoken) << c.band << c.sent << c.received;
  }
  TContactEntry e;
  e.Band = "2O";
  e.Sent = e.Received = "59";
  EXPECT_EQ(CheckEntry(e)->Shown, "'2O' is not a whole number for the band. Nothing was logged.");
  e.Band = "20";
  EXPECT_EQ(CheckEntry(e)->Shown, "Please enter callsign!");
  EXPECT_EQ(LoggedMode("USB", true), "PSK");
  EXPECT_EQ(LoggedMode("LSB", true), "LSB");
  EXPECT_EQ(LoggedMode("USB", false), "USB");
}

TEST_F(ContactEntryTest, LogItNumbersAfterTheWholeLogAndDatesFromOneInstant) {
  Open({Qso("20240101", "10:00", "W1AW", "20", "7"), Qso("20240102", "11:00", "K1ABC", "40", "41.5"),
        Qso("20240103", "12:00", "AA1A", "20", "3")});
  // Filtered to one station and sorted by station, the last visible record holds NUMBER 3 or 7;
  // the log's highest is 41.5.
  CheckDuplicate(dbf1_, "W1AW", 20);
  ASSERT_TRUE(OrderLogbook(dbf1_, path_, "STATION"));
  TContactEntry e = Entry("n0call");
  e.Name = "O'Brien \"Bob\"";
  e.Mode = "USB";
  e.SsbAsPsk = true;
  e.Frequency = "14.07500";  // wider than FREQ: cut to its seven characters
  // 23:59:59.9996 is midnight to the millisecond: the date and the time are of the next day.
  const TDateTime midnight = EncodeDateTime({2024, 3, 9, 23, 59, 59, 999}) + 0.6 / 86400000.0;
  const TLoggedContact first = LogContact(dbf1_, path_, e, midnight);
  EXPECT_EQ(first.Number, 42);
  EXPECT_EQ(first.Date, "20240310");
  EXPECT_EQ(first.Time, "00:00");
  EXPECT_EQ(dbf1_.State(), TDataSetState::dsBrowse);
  const std::vector<Contact> rows = core_test::ReadContacts(path_);
  ASSERT_EQ(rows.size(), 4u);
  const Contact& r = rows[3];
  EXPECT_EQ(r.at("STATION"), "N0CALL");
  EXPECT_EQ(r.at("SPARE1"), "O'Brien \"Bob\"");
  EXPECT_EQ(r.at("DATE"), "20240310");
  EXPECT_EQ(r.at("TIME"), "00:00");
  EXPECT_EQ(r.at("MODE"), "PSK");
  EXPECT_EQ(r.at("FREQ"), "14.0750");
  EXPECT_EQ(r.at("NRSENT"), "59");
  EXPECT_EQ(r.at("NRRCVD"), "57");

  // A record marked deleted keeps its number from being given again.
  dbf1_.SetFiltered(false);
  ASSERT_TRUE(dbf1_.Locate("STATION", {TVarValue("N0CALL")}, 0));
  dbf1_.Delete();
  EXPECT_EQ(LogContact(dbf1_, path_, Entry("K2X"), EncodeDateTime({2024, 3, 10, 0, 1})).Number, 43);
  EXPECT_EQ(HighestContactNumber(path_), 43);
}

TEST_F(ContactEntryTest, ARecordTheDiskRefusesIsNotStoredAndTheDataSetBrowses) {
  Open({Qso("20240101", "10:00", "W1AW", "20", "1")});
  const std::string before = core_test::ReadFile(path_);
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = before.size() + 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  try {
    LogContact(dbf1_, path_, Entry("K2X"), EncodeDateTime({2024, 3, 10, 12, 0}));
  } catch (const std::exception& e) {
    error = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_NE(error, "");
  EXPECT_EQ(dbf1_.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(core_test::ReadFile(path_), before);
  // The next contact goes in with the next number.
  EXPECT_EQ(LogContact(dbf1_, path_, Entry("K2X"), EncodeDateTime({2024, 3, 10, 12, 1})).Number, 2);
  EXPECT_EQ(core_test::ReadContacts(path_).size(), 2u);
}

TEST_F(ContactEntryTest, LogListShowsLetterNamesWithDLast) {
  for (const char* name : {"zulu.dbf", "dummy.dbf", "Alpha.DBF", "2024.dbf", "beta.dbf", "_x.dbf", "delta.dbf",
                           "notes.txt", "ab.dbf.bak", "STATES.DBF", "apple.dbf"})
    core_test::WriteFile(PathOf(name), "");
  EXPECT_EQ(LogListFiles(dir_), (std::vector<std::string>{"Alpha.DBF", "apple.dbf", "beta.dbf", "STATES.DBF",
                                                           "zulu.dbf", "delta.dbf", "dummy.dbf"}));
  EXPECT_TRUE(IsLogbookTag("NUMBER"));
  EXPECT_FALSE(IsLogbookTag("GRID"));
  EXPECT_FALSE(IsLogbookTag("date"));
}

}  // namespace
