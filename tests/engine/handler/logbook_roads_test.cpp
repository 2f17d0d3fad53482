// A logbook as operators keep it: a few thousand contacts of the 27-field record, with the blanks
// real logs have (no state, QTH, name or time in some contacts), and the seven tags of the
// logbook in each index format, taken through every road: tag builds, open, appends, rewrites,
// pack and reindex. After each road every tag must agree with the table. Run in the sanitizer
// build, this is where undefined behaviour on empty keys shows.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "handler/tag_check.h"
#include "support/logbook_layout.h"
#include "table/hx6_dbf_build.h"
#include "table/table_images.h"

namespace {

struct Format {
  const char* name;
  const char* extension;
  bool oneFilePerTag;
};

const Format kFormats[] = {
    {"CDX", ".CDX", false}, {"MDX", ".MDX", false}, {"NDX", ".NDX", true}, {"NTX", ".NTX", true}};

struct TagDef {
  const char* name;
  const char* key;
};

// The logbook's seven tags.
const TagDef kTags[] = {{"DATE", "DTOS(DATE)+TIME"}, {"TIME", "(TIME)"}, {"STATION", "STATION"},
                        {"STATE", "STATE"},          {"NUMBER", "NUMBER"}, {"QTH", "QTH"},
                        {"BAND", "BAND"}};

class LogbookRoads : public table_images::TempFolder, public ::testing::WithParamInterface<Format> {
 protected:
  std::string IndexName(int tag) const {
    const Format& f = GetParam();
    return f.oneFilePerTag ? std::string(kTags[tag].name) + f.extension
                           : std::string("LOGBOOK") + f.extension;
  }
  std::string IndexList() const {
    if (!GetParam().oneFilePerTag) return IndexName(0);
    std::string list;
    for (int t = 0; t < 7; ++t) list += (t ? ";" : "") + IndexName(t);
    return list;
  }

  // A contact with the blanks of a real log: about one in four without a state, one in five
  // without a QTH or a name, one in ten without a time, a few without a date.
  static void PutContact(HXO_dBHandler& h, std::mt19937& rng, int n) {
    static const char* const calls[] = {"K2LVC", "E7IO", "W1AW", "DL1XYZ", "VK3ABC", "JA1QRZ",
                                        "G4ABC/P", "N0CALL", "PY2ZZ", "KH6XX"};
    static const char* const states[] = {"NY", "CT", "TX", "CA", "MA", "OH", "FL"};
    static const double bands[] = {160, 80, 40, 30, 20, 17, 15, 12, 10, 6, 2};
    h.BlankRecord();
    if (rng() % 30 != 0)
      h.PutText("DATE", "2024" + std::to_string(10 + rng() % 3) + std::to_string(10 + rng() % 18));
    if (rng() % 10 != 0) {
      char t[8];
      snprintf(t, sizeof t, "%02u%02u", static_cast<unsigned>(rng() % 24),
               static_cast<unsigned>(rng() % 60));
      h.PutText("TIME", t);
    }
    h.PutFloat("NUMBER", n);
    h.PutText("STATION", std::string(calls[rng() % 10]) + (rng() % 3 ? "" : std::to_string(n % 7)));
    h.PutFloat("BAND", bands[rng() % 11]);
    if (rng() % 5 != 0) h.PutText("QTH", "TOWN " + std::to_string(rng() % 300));
    if (rng() % 5 != 0) h.PutText("SPARE1", "OP" + std::to_string(rng() % 90));
    if (rng() % 4 != 0) h.PutText("STATE", states[rng() % 7]);
    h.PutText("MODE", rng() % 2 ? "SSB" : "CW");
    h.PutText("RST", "59");
  }

  std::unique_ptr<HXO_dBHandler> Open(bool shared) const {
    auto h = std::make_unique<HXO_dBHandler>(PathOf("LOGBOOK.DBF"), shared, true);
    h->SetIndexFiles(IndexList(), "DATE");
    return h;
  }

  void ExpectAgree(const char* road, bool shared = true) const {
    SCOPED_TRACE(std::string("after ") + road);
    auto h = Open(shared);
    EXPECT_EQ(h->TagCount(), 7);
    tag_check::ExpectTagsAgreeWithTable(*h);
  }
};

TEST_P(LogbookRoads, EveryRoadKeepsEveryTagOfABlankRiddledLogbookCurrent) {
  constexpr int kContacts = 3000;
  {
    HXO_DB4Build b(PathOf("LOGBOOK.DBF"));
    logbook_layout::AddLogbookFields(b);
    b.CreateFiles();
  }
  std::mt19937 rng(1928);
  {
    HXO_dBHandler h(PathOf("LOGBOOK.DBF"), true, true);
    for (int n = 1; n <= kContacts; ++n) {
      PutContact(h, rng, n);
      h.AppendRecord();
    }
    // The logbook's open road: its seven tag builds, then a rebuild.
    for (int t = 0; t < 7; ++t)
      h.CreateIndexTag(IndexName(t), kTags[t].name, kTags[t].key, "", 1, 0);
    h.SetIndexFiles(IndexList(), "DATE");
    h.Reindex();
  }
  ExpectAgree("the tag builds");
  {
    auto h = Open(true);
    for (int n = kContacts + 1; n <= kContacts + 200; ++n) {
      PutContact(*h, rng, n);
      if (n % 3 == 0) h->PutText("STATE", "");
      h->AppendRecord();
    }
  }
  ExpectAgree("appends");
  {
    auto h = Open(true);
    for (int i = 0; i < 300; ++i) {
      const int32_t r = 1 + static_cast<int32_t>(rng() % (kContacts + 200));
      h->GoTo(r);
      switch (i % 4) {
        case 0: h->PutText("STATION", "E7IO"); break;
        case 1: h->PutText("STATE", ""); break;
        case 2: h->PutText("QTH", ""); h->PutText("TIME", ""); break;
        default: PutContact(*h, rng, r); break;
      }
      h->UpdateRecord(r);
    }
  }
  ExpectAgree("rewrites");
  {
    HXO_dBHandler h(PathOf("LOGBOOK.DBF"), false, true);
    h.SetIndexFiles(IndexList(), "DATE");
    for (int32_t r = 5; r <= h.RecordCount(); r += 9) {
      h.GoTo(r);
      h.DeleteRecord();
    }
    h.Pack();
  }
  ExpectAgree("pack", false);
  {
    auto h = Open(false);
    h->Reindex();
  }
  ExpectAgree("reindex", false);
}

INSTANTIATE_TEST_SUITE_P(Formats, LogbookRoads, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
