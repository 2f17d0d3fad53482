// Locate: the search through a tag and the search by scanning must give the same answer, whatever
// tags exist, for every option; on random tables, tags, filters and questions.
#include <random>
#include <set>

#include "base/SysSorl.h"
#include "handler/handler_test_util.h"
#include "expr/hx6_sql.h"

using namespace handler_test;

namespace {

class HandlerLocate : public HandlerTest {};

std::string TrimmedField(HXO_dBHandler& h, const std::string& name) {
  std::string s = h.GetString(name);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Whether the current record answers the question the way a field-by-field comparison does.
bool Matches(HXO_dBHandler& h, const std::vector<std::string>& names,
             const std::vector<std::string>& values, bool partial, bool caseInsensitive) {
  for (size_t i = 0; i < names.size(); ++i) {
    std::string have = TrimmedField(h, names[i]);
    std::string want = values[i];
    if (names[i] == "BAND") {
      double w = 0;
      ExpTextToFloat(want, w);
      if (h.GetFloat("BAND") != w) return false;
      continue;
    }
    if (caseInsensitive) {
      have = SysUpperCase(have);
      want = SysUpperCase(want);
    }
    if (partial && i + 1 == names.size() && have.size() > want.size()) have.resize(want.size());
    if (have != want) return false;
  }
  return true;
}

TEST_F(HandlerLocate, UsesATagOnlyWhenItsKeyIsExactlyTheFieldsAsked) {
  const std::string path = MakeLog();
  RecordingHandler h(path, false, true);
  Append(h, {"W1AW", 20, "NEWINGTON"});
  Append(h, {"W1AW", 40, "BOSTON"});
  Append(h, {"w1aw", 20, "BOSTON"});
  // Tags that only begin with the asked field, or wrap it in a function, must not answer for it.
  h.CreateIndexTag("LOG.CDX", "STATQTH", "STATION+QTH", "", 1, 0);
  h.CreateIndexTag("LOG.CDX", "UPSTAT", "UPPER(STATION)", "", 1, 0);
  h.SetIndexFiles("LOG.CDX", "STATQTH");
  EXPECT_TRUE(h.Locate("STATION", {std::string("W1AW")}, false, false));
  EXPECT_EQ(h.RecNo(), 1);
  EXPECT_TRUE(h.Locate("station", {std::string("w1aw")}, false, true));
  EXPECT_EQ(h.RecNo(), 1);
  EXPECT_TRUE(h.Locate("STATION", {std::string("w1aw")}, false, false));
  EXPECT_EQ(h.RecNo(), 3);
  // The exact pair of fields is served by the tag and agrees with the scan.
  EXPECT_TRUE(h.Locate("STATION;QTH", {std::string("W1AW"), std::string("BOS")}, true, false));
  EXPECT_EQ(h.RecNo(), 2);
  EXPECT_FALSE(h.Locate("STATION;QTH", {std::string("W1AW"), std::string("BOS")}, false, false));
  EXPECT_TRUE(h.Locate("STATION;QTH", {std::string("W1AW"), std::string("boston")}, false, true));
  EXPECT_EQ(h.RecNo(), 2);
  // The former master tag is kept and agrees with the record found.
  EXPECT_EQ(h.MasterTagName(), "STATQTH");
  EXPECT_TRUE(h.Locate("STATION;BAND", {std::string("W1AW"), std::string("40")}, false, false));
  EXPECT_EQ(h.RecNo(), 2);
  h.GoTo(kGotoNext);
  EXPECT_EQ(h.RecNo(), 1);  // W1AW NEWINGTON follows W1AW BOSTON in the tag
  EXPECT_FALSE(h.Locate("QTH", {std::string("PARIS")}, false, false));
}

TEST_F(HandlerLocate, APartialMatchThroughATagIsTheFirstInKeyOrder) {
  RecordingHandler h(MakeLog(), false, true);
  Append(h, {"K1ABC", 20, ""});
  Append(h, {"K1AB", 20, ""});
  h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  h.SetIndexFiles("LOG.CDX", "");
  // Both answers match; the tag gives the first in its order, the scan the first record.
  EXPECT_TRUE(h.Locate("STATION", {std::string("K1A")}, true, false));
  EXPECT_EQ(h.RecNo(), 2);
  h.SetIndexFiles("", "");
  EXPECT_TRUE(h.Locate("STATION", {std::string("K1A")}, true, false));
  EXPECT_EQ(h.RecNo(), 1);
}

TEST_F(HandlerLocate, LocateAndFindNeverLandOnARecordTheFilterExcludes) {
  const std::string path = MakeLog();
  RecordingHandler h(path, false, true);
  Append(h, {"K1ABC", 40, ""});
  Append(h, {"K1ABC", 20, ""});
  Append(h, {"K1ABC", 40, ""});
  h.CreateIndexTag("LOG.CDX", "STATION", "STATION", "", 1, 0);
  h.SetIndexFiles("LOG.CDX", "STATION");
  h.SetFilterActive(true);
  h.SetFilter("BAND = 20", false, true);
  EXPECT_TRUE(h.Locate("STATION", {std::string("K1ABC")}, false, false));
  EXPECT_EQ(h.RecNo(), 2);
  EXPECT_TRUE(h.Find("K1ABC"));
  EXPECT_EQ(h.RecNo(), 2);
  h.SetFilter("BAND = 15", false, true);
  EXPECT_FALSE(h.Locate("STATION", {std::string("K1ABC")}, false, false));
  EXPECT_FALSE(h.Find("K1ABC"));
  h.SelectMasterTag("", true);
  EXPECT_FALSE(h.Locate("STATION", {std::string("K1ABC")}, false, false));
}

TEST_F(HandlerLocate, TagAndScanAgreeOnRandomTablesAndQuestions) {
  std::mt19937 rng(20261208);
  const std::vector<std::string> calls = {"W1AW", "w1aw",   "W1A", "K1ABC", "K1AB",
                                          "VK2X", "DL1ABC", "",    "W1AWX", "k1abc"};
  const std::vector<std::string> qths = {"BOSTON", "boston", "BOS", "NEWINGTON", "", "PARIS"};
  const std::vector<double> bands = {20, 40, 80, 20.5, 160};
  const std::vector<std::pair<std::string, std::string>> tagChoices = {
      {"S", "STATION"},   {"SQ", "STATION+QTH"}, {"SQ2", "station + qth"},
      {"Q", "QTH"},       {"B", "BAND"},         {"U", "UPPER(STATION)"},
      {"P", "(STATION)"}, {"QS", "QTH+STATION"}, {"SUB", "SUBSTR(STATION,1,3)"}};
  const std::vector<std::string> fieldLists = {"STATION", "STATION;QTH", "QTH",
                                               "BAND",    "QTH;STATION", "STATION;BAND"};
  int tagAnswers = 0;
  for (int round = 0; round < 12; ++round) {
    const std::string name = "T" + std::to_string(round) + ".DBF";
    const std::string path = MakeLog(name, false);
    RecordingHandler h(path, false, true);
    const int records = 5 + static_cast<int>(rng() % 60);
    for (int i = 0; i < records; ++i)
      Append(h, {calls[rng() % calls.size()], bands[rng() % bands.size()],
                 qths[rng() % qths.size()], rng() % 5 == 0});
    const std::string cdx = "T" + std::to_string(round) + ".CDX";
    std::set<std::string> made;
    for (int t = 0; t < 4; ++t) {
      const auto& choice = tagChoices[rng() % tagChoices.size()];
      if (!made.insert(choice.first).second) continue;
      const bool withFor = rng() % 4 == 0;
      h.CreateIndexTag(cdx, choice.first, choice.second, withFor ? "BAND = 20" : "", 1,
                       rng() % 5 == 0 ? 1 : 0);
    }
    const bool filtered = rng() % 3 == 0;
    const bool showDeleted = rng() % 3 == 0;
    for (int q = 0; q < 40; ++q) {
      const std::string fields = fieldLists[rng() % fieldLists.size()];
      std::vector<std::string> names;
      std::vector<std::optional<std::string>> values;
      std::vector<std::string> texts;
      size_t start = 0;
      while (start <= fields.size()) {
        size_t end = fields.find(';', start);
        if (end == std::string::npos) end = fields.size();
        names.push_back(fields.substr(start, end - start));
        start = end + 1;
      }
      for (const std::string& n : names) {
        std::string v;
        if (n == "STATION") v = calls[rng() % calls.size()];
        if (n == "QTH") v = qths[rng() % qths.size()];
        if (n == "BAND") v = ExpFloatToText(bands[rng() % bands.size()]);
        if (rng() % 4 == 0 && v.size() > 1) v.resize(v.size() - 1);
        values.emplace_back(v);
        texts.push_back(v);
      }
      const bool partial = rng() % 2 == 0;
      const bool caseInsensitive = rng() % 3 == 0;

      // By tag (when one serves), with the index file open ...
      h.SetIndexFiles(cdx, rng() % 2 ? "" : *made.begin());
      h.SetShowDeleted(showDeleted);
      h.SetFilterActive(filtered);
      h.SetFilter(filtered ? "BAND <> 40" : "", false, true);
      const std::string master = h.MasterTagName();
      const bool byTag = h.Locate(fields, values, partial, caseInsensitive);
      const int32_t tagRecord = h.RecNo();
      if (byTag) {
        EXPECT_TRUE(Matches(h, names, texts, partial, caseInsensitive));
        EXPECT_TRUE(showDeleted || !h.IsDeleted());
        EXPECT_TRUE(!filtered || h.GetFloat("BAND") != 40);
      }
      EXPECT_EQ(h.MasterTagName(), master);
      // ... and by scan, with no index file at all.
      h.SetIndexFiles("", "");
      const bool byScan = h.Locate(fields, values, partial, caseInsensitive);
      ASSERT_EQ(byTag, byScan) << "round " << round << " fields " << fields << " partial "
                               << partial << " ci " << caseInsensitive;
      // Whole-key questions land on the same record: the first match in record order.
      if (byScan && !partial) {
        EXPECT_EQ(tagRecord, h.RecNo()) << fields;
      }
      if (byTag) ++tagAnswers;
    }
  }
  EXPECT_GT(tagAnswers, 0);
}

}  // namespace
