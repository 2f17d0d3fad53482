// Filters and Locate take their candidates from a tag whose key is exactly one text field; they
// must answer exactly as the scan does. Random tables (text fields holding blanks, zero bytes,
// wildcard characters, other cases, texts longer than the field), random sets of tags (ascending,
// descending, unique, with a FOR condition, GENERAL, on expressions), random filters, options and
// questions: the records a filter passes and where Locate lands are compared with a handler that
// always scans.
#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include "dataset/Sorl6db.h"
#include "base/SysSorl.h"
#include "handler/handler_test_util.h"
#include "expr/hx6_sql.h"

using namespace handler_test;

namespace {

// Counts the records it reads for a filter or a Locate through a tag's candidates, and moves
// through a filter set by its passing entries whatever the set's size.
class NarrowingHandler : public HXO_dBHandler {
 public:
  using HXO_dBHandler::HXO_dBHandler;
  bool IndexLoadRecord(int32_t record) override {
    ++loads;
    return HXO_dBHandler::IndexLoadRecord(record);
  }
  int loads = 0;

 protected:
  bool PassingEntriesPay(int64_t, int64_t) const override { return true; }
};

// Always scans and steps: a record test of its own keeps every tag out of filters and Locate,
// and moves go entry by entry.
class ScanningHandler : public NarrowingHandler {
 public:
  using NarrowingHandler::NarrowingHandler;
  bool HasOwnRecordTest() const override { return true; }

 protected:
  bool PassingEntriesPay(int64_t, int64_t) const override { return false; }
};

// A system variable worth 1 that counts the records a filter is evaluated on.
class Probe : public ThxUserDefFieldVar {
 public:
  explicit Probe(int* count) : ThxUserDefFieldVar("PROBE"), count_(count) {}
  void GetValue(ThxExpValue& value, uint8_t& type) override {
    ++*count_;
    value.SetNumber(1);
    type = etNumber;
  }

 private:
  int* count_;
};

struct Tag {
  const char* name;
  const char* key;
  const char* forCondition;
  int option;  // 0 unique
  int order;   // 1 descending, 7 GENERAL
};

const std::vector<Tag> kTags = {
    {"S", "STATION", "", 1, 0},        {"SD", "STATION", "", 1, 1},
    {"SU", "STATION", "", 0, 0},       {"SF", "STATION", "BAND > 30", 1, 0},
    {"SG", "STATION", "", 1, 7},       {"SP", "( station )", "", 1, 0},
    {"SX", "UPPER(STATION)", "", 1, 0}, {"N", "NAME", "", 1, 0},
    {"SN", "STATION+NAME", "", 1, 0},
};

// Field contents, byte for byte (cut to the field, blank-padded).
const std::vector<std::string> kStations = {
    "AB", "AB", "AB", "ab", "A", "ABC", "ABCDEFGHIJK", " AB", std::string("AB\0", 3),
    std::string("A\0B", 3), "A*B", "*AB", "AB*", "A?B", "", "\xC4" "B", "\xC4" "B", "B", "ABD"};
// Constants of filters and values of Locate.
const std::vector<std::string> kTexts = {"AB",  "AB  ", "ab",  "A",   "A*",  "*B",  "*",
                                         "A?",  "A?B",  "",    "  ",  " AB", "ABC", "ABCDEFGHIJ",
                                         "\xC4" "B", "B", "AB*", "*AB", "ABD", "C", "\xC4"};
const std::vector<std::string> kNames = {"N1", "N2", "n1", ""};
const std::vector<std::string> kFilters = {
    "STATION = '{}'",
    "STATION = '{}' .AND. BAND = 20",
    "BAND > 10 .AND. (STATION = '{}')",
    "'{}' = STATION",
    "STATION = '{}' .OR. NAME = 'N1'",
    "STATION # '{}'",
    "(STATION = '{}') .AND. NAME = 'N2' .AND. FLAG = .T.",
    "STATION = '{}' .AND. PROBE = 1",
    "STATION = \"{}\" .AND. UPPER(NAME) = 'N1'",
    "NAME = 'N1' .AND. STATION = '{}' .AND. BAND < 100",
};
const std::vector<std::string> kFieldLists = {"STATION",      "STATION;BAND", "BAND;STATION",
                                              "NAME;STATION", "station;name", "NAME"};

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = list.find(';', start)) != std::string::npos; start = end + 1)
    parts.push_back(list.substr(start, end - start));
  parts.push_back(list.substr(start));
  return parts;
}

std::string Filled(const std::string& pattern, const std::string& text) {
  std::string out = pattern;
  out.replace(out.find("{}"), 2, text);
  return out;
}

// One filter or Locate, with everything that decides its answer.
struct Question {
  bool locate = false;
  std::string filter;
  bool filterInForce = false;
  bool caseInsensitive = false;
  bool wildcards = true;
  std::string fields;
  std::vector<std::optional<std::string>> values;
  bool partial = false;
  std::string Describe() const {
    std::string d = locate ? "Locate " + fields + " partial=" + std::to_string(partial) : "";
    if (locate)
      for (const auto& v : values) d += " [" + v.value_or("") + "]";
    return d + " filter " + filter + " inForce=" + std::to_string(filterInForce) +
           " ci=" + std::to_string(caseInsensitive) + " wild=" + std::to_string(wildcards);
  }
};

class Narrowing : public HandlerTest {
 protected:
  // The table LOG<n>.DBF with STATION C `width`, NAME C 4, BAND N 6.1, FLAG L.
  std::string MakeTable(int n, int width, std::mt19937& rng, int records) {
    const std::string path = PathOf("LOG" + std::to_string(n) + ".DBF");
    {
      HXO_DB4Build b(path);
      b.AddField("STATION", "C", width, 0);
      b.AddField("NAME", "C", 4, 0);
      b.AddField("BAND", "N", 6, 1);
      b.AddField("FLAG", "L", 1, 0);
      b.CreateFiles();
    }
    HXO_dBHandler h(path, false, true);
    const ThxFieldInfo& station = h.FieldInfo(h.FieldNumber("STATION"));
    for (int i = 0; i < records; ++i) {
      h.BlankRecord();
      const std::string& s = kStations[rng() % kStations.size()];
      std::memcpy(h.RecordBuffer() + station.offset, s.data(),
                  std::min(s.size(), static_cast<size_t>(width)));
      h.PutText("NAME", kNames[rng() % kNames.size()]);
      h.PutFloat("BAND", (rng() % 3 == 0) ? 20 : 40 + static_cast<double>(rng() % 3) * 20);
      h.PutLogical("FLAG", rng() % 2 == 0);
      h.AppendRecord();
      if (rng() % 5 == 0) h.DeleteRecord();
    }
    return path;
  }

  // What a handler answers to each question: the records a filter passes, the order moves show
  // them in (with a record rewritten now and then), or whether and where Locate lands and the
  // position it leaves. Each handler works on its own copy of the table and index.
  template <class Handler>
  std::vector<std::string> Answers(const std::string& original, const std::string& copyName,
                                   bool shared, const std::string& master, bool showDeleted,
                                   const std::vector<Question>& questions, uint32_t seed,
                                   int& probes, int& loads) {
    const std::string table = PathOf(copyName + ".DBF");
    const std::string cdx = copyName + ".CDX";
    std::filesystem::copy_file(original, table);
    std::filesystem::copy_file(original.substr(0, original.size() - 4) + ".CDX", PathOf(cdx));
    std::mt19937 rng(seed);
    Handler h(table, shared, true);
    h.Link()->AddFieldVar(std::make_unique<Probe>(&probes));
    h.SetIndexFiles(cdx, master);
    h.SetShowDeleted(showDeleted);
    std::vector<std::string> out;
    for (const Question& q : questions) {
      std::string answer;
      try {
        h.SetFilterActive(!q.locate || q.filterInForce);
        h.SetFilter(q.filter, q.caseInsensitive, q.wildcards);
        if (q.locate) {
          const bool found = h.Locate(q.fields, q.values, q.partial, false);
          answer = std::string(found ? "found " : "missed ") + std::to_string(h.RecNo()) +
                   " bof " + std::to_string(h.Bof()) + " eof " + std::to_string(h.Eof());
        } else {
          for (int32_t r = 1; r <= h.RecordCount(); ++r)
            if (h.FilterSet()->TestBit(r)) answer += std::to_string(r) + ",";
          answer += " forward";
          for (int32_t r : Walk(h)) answer += " " + std::to_string(r);
          answer += " backward";
          for (int32_t r : Walk(h, false)) answer += " " + std::to_string(r);
          // Moves of every kind from wherever the last one left, a record rewritten between.
          static const int32_t kMoves[] = {kGotoFirst, kGotoLast, kGotoNext, kGotoNext,
                                           kGotoPrevious, kGotoCurrent};
          answer += " moves";
          for (int m = 0; m < 8; ++m) {
            if (rng() % 6 == 0 && h.RecNo() >= 1 && h.RecNo() <= h.RecordCount() && !h.Eof() &&
                !h.Bof()) {
              const int32_t r = h.RecNo();
              h.PutText("STATION", kStations[rng() % kStations.size()]);
              h.UpdateRecord(r);
              answer += " w" + std::to_string(r);
            }
            h.GoTo(kMoves[rng() % std::size(kMoves)]);
            answer += " " + std::to_string(h.RecNo()) + (h.Bof() ? "b" : "") + (h.Eof() ? "e" : "");
          }
        }
      } catch (const ESorrelException& e) {
        answer = std::string("error ") + e.what();
      }
      out.push_back(answer);
    }
    loads += h.loads;
    return out;
  }
};

TEST_F(Narrowing, FiltersAndLocateAnswerAsTheScanOnRandomTablesTagsAndQuestions) {
  std::mt19937 rng(20261209);
  int narrowedProbes = 0, scannedProbes = 0, narrowedLoads = 0, scannedLoads = 0;
  for (int round = 0; round < 36; ++round) {
    const int width = 3 + static_cast<int>(rng() % 6);
    const std::string table = MakeTable(round, width, rng, 20 + static_cast<int>(rng() % 120));
    const std::string cdx = "LOG" + std::to_string(round) + ".CDX";
    // Each kind of tag leads in turn (the first tag that serves is the one used), with a random
    // choice of the others behind it.
    std::vector<Tag> tags = kTags;
    std::swap(tags[0], tags[static_cast<size_t>(round) % tags.size()]);
    std::shuffle(tags.begin() + 1, tags.end(), rng);
    tags.resize(1 + rng() % tags.size());
    {
      HXO_dBHandler builder(table, false, true);
      for (const Tag& t : tags)
        builder.CreateIndexTag(cdx, t.name, t.key, t.forCondition, t.option, t.order);
    }
    const std::string master = rng() % 2 ? "" : tags[rng() % 2 ? 0 : rng() % tags.size()].name;
    const bool showDeleted = rng() % 3 == 0;
    const bool shared = rng() % 2 == 0;

    std::vector<Question> questions;
    for (int i = 0; i < 24; ++i) {
      Question q;
      q.locate = rng() % 2 == 0;
      q.filter = Filled(kFilters[rng() % kFilters.size()], kTexts[rng() % kTexts.size()]);
      q.filterInForce = rng() % 3 == 0;
      q.caseInsensitive = rng() % 5 == 0;
      q.wildcards = rng() % 4 != 0;
      q.fields = kFieldLists[rng() % kFieldLists.size()];
      q.partial = rng() % 3 == 0;
      for (const std::string& name : Split(SysUpperCase(q.fields))) {
        if (name == "BAND")
          q.values.emplace_back(rng() % 2 ? "20" : "40.0");
        else if (name == "NAME")
          q.values.emplace_back(kNames[rng() % kNames.size()]);
        else
          q.values.emplace_back(kTexts[rng() % kTexts.size()]);
      }
      questions.push_back(q);
    }
    const uint32_t seed = static_cast<uint32_t>(rng());
    const auto narrowed =
        Answers<NarrowingHandler>(table, "N" + std::to_string(round), shared, master, showDeleted,
                                  questions, seed, narrowedProbes, narrowedLoads);
    const auto scanned =
        Answers<ScanningHandler>(table, "S" + std::to_string(round), shared, master, showDeleted,
                                 questions, seed, scannedProbes, scannedLoads);
    for (size_t i = 0; i < questions.size(); ++i)
      ASSERT_EQ(narrowed[i], scanned[i])
          << "round " << round << " width " << width << " master " << master << " shared "
          << shared << " deleted shown " << showDeleted << ": " << questions[i].Describe();
  }
  // The tags were used, and spared the filters records.
  EXPECT_EQ(scannedLoads, 0);
  EXPECT_GT(narrowedLoads, 0);
  EXPECT_LT(narrowedProbes, scannedProbes);
}

TEST_F(Narrowing, AGeneralTagsWeightsAreNoPrefixOfTheText) {
  // Under GENERAL an accented letter puts a weight after the whole text's first weights: the key
  // of "\xC4B" does not begin with the key of "\xC4", though the text does.
  const std::string table = PathOf("GEN.DBF");
  {
    HXO_DB4Build b(table);
    b.AddField("STATION", "C", 6, 0);
    b.CreateFiles();
    HXO_dBHandler h(table, false, true);
    for (const char* s : {"K1", "\xC4" "B", "Z"}) {
      h.BlankRecord();
      h.PutText("STATION", s);
      h.AppendRecord();
    }
    h.CreateIndexTag("GEN.CDX", "SG", "STATION", "", 1, 7);
  }
  NarrowingHandler h(table, false, true);
  h.SetIndexFiles("GEN.CDX", "");
  ASSERT_TRUE(h.Locate("STATION", {std::string("\xC4")}, true, false));
  EXPECT_EQ(h.RecNo(), 2);
  EXPECT_EQ(h.loads, 0);
}

TEST_F(Narrowing, TheDuplicateCheckReadsOnlyTheStationsRecordsUnlessTheDataSetTestsEachRecord) {
  const std::string table = PathOf("DUP.DBF");
  {
    HXO_DB4Build b(table);
    b.AddField("STATION", "C", 15, 0);
    b.AddField("BAND", "N", 20, 4);
    b.CreateFiles();
    HXO_dBHandler h(table, false, true);
    for (int i = 0; i < 3000; ++i) {
      h.BlankRecord();
      h.PutText("STATION", i % 300 == 7 ? "W1AW" : "K" + std::to_string(i));
      h.PutFloat("BAND", i % 600 == 7 ? 20 : 40);
      h.AppendRecord();
    }
    h.CreateIndexTag("DUP.CDX", "DATE", "BAND", "", 1, 0);
    h.CreateIndexTag("DUP.CDX", "STATION", "STATION", "", 1, 0);
  }
  int probes = 0;
  NarrowingHandler h(table, true, true);
  h.Link()->AddFieldVar(std::make_unique<Probe>(&probes));
  h.SetIndexFiles("DUP.CDX", "DATE");
  h.SetFilterActive(true);
  h.SetFilter("STATION = 'W1AW' .AND. PROBE = 1", false, true);
  EXPECT_EQ(probes, 10 + 1);  // the ten W1AW records, and the check on the current record
  h.SetFilterActive(false);
  h.loads = 0;
  ASSERT_TRUE(h.Locate("Station;Band", {std::string("W1AW"), std::string("20")}, false, false));
  EXPECT_EQ(h.RecNo(), 8);
  EXPECT_LE(h.loads, 10);
  EXPECT_FALSE(h.Locate("Station;Band", {std::string("W1AX"), std::string("20")}, false, false));
  EXPECT_TRUE(h.Eof());

  // A data set whose OnFilterRecord judges records sees every one of them, tag or not.
  TSorrelDataSet ds;
  ds.SetTableName(table);
  ds.Open();
  ds.SetIndexFiles({PathOf("DUP.CDX")});
  int seen = 0;
  ds.OnFilterRecord = [&](TDataSet&, bool& accept) {
    ++seen;
    accept = true;
  };
  ds.SetFilter("STATION = 'W1AW'");
  ds.SetFiltered(true);
  EXPECT_GE(seen, 3000);
  ds.Close();
}

}  // namespace
