// The logbook's seven CDX tags over a real table with real key expressions: kept current on every
// appended and rewritten contact, equal to a fresh build, and readable by the outside reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>

#include "base/hx6_date.h"
#include "index/index_dbf_table.h"
#include "index/index_fake_table.h"

namespace {

using KeyList = std::vector<std::pair<std::string, int32_t>>;

KeyList WalkTag(HXobjIndexTag* tag) {
  KeyList out;
  for (int32_t r = tag->Move(kMoveTop); r != 0 && !tag->Eof(); r = tag->Move(kMoveNext))
    out.emplace_back(std::string(tag->CurrentKey().Bytes()), r);
  return out;
}

struct Contact {
  int32_t day;
  std::string time, station, state, qth;
  double number, band;
};

Contact RandomContact(std::mt19937& rng) {
  static const char* calls[] = {"W1AW", "K2ABC", "DL1XYZ", "G4ABC", "VE3XYZ", "JA1ABC", "N0CALL"};
  static const char* states[] = {"CT", "NY", "", "TX", "CA", "MA"};
  static const double bands[] = {160, 80, 40, 20, 15, 10, 2};
  Contact c;
  c.day = DBFDate().CTOD("20240101") + static_cast<int32_t>(rng() % 400);
  char t[8];
  snprintf(t, sizeof t, "%02u%02u%02u", static_cast<unsigned>(rng() % 24), static_cast<unsigned>(rng() % 60), static_cast<unsigned>(rng() % 60));
  c.time = t;
  c.station = std::string(calls[rng() % 7]) + (rng() % 4 == 0 ? "/P" : "");
  c.state = states[rng() % 6];
  c.qth = rng() % 5 == 0 ? "" : "CITY" + std::to_string(rng() % 50);
  c.number = static_cast<double>(rng() % 1000) - 5.5;
  c.band = bands[rng() % 7];
  return c;
}

void PutContact(IndexedDbf& t, const Contact& c) {
  t.PutDate("DATE", c.day);
  t.PutString("TIME", c.time);
  t.PutString("STATION", c.station);
  t.PutString("STATE", c.state);
  t.PutString("QTH", c.qth);
  t.PutFloat("NUMBER", c.number);
  t.PutFloat("BAND", c.band);
}

// The expected order of every tag, computed from the records in the file.
std::map<std::string, KeyList> Reference(IndexedDbf& t) {
  std::map<std::string, std::set<std::pair<std::string, int32_t>>> sets;
  for (int32_t r = 1; r <= t.RecordCount(); ++r) {
    t.GotoRecord(r);
    auto text = [&](const char* f) { return cdx::TrimKey(t.GetString(f), ' '); };
    sets["DATE"].emplace(cdx::TrimKey(DBFDate().DTOS(t.GetDate("DATE")) + t.GetString("TIME"), ' '), r);
    sets["TIME"].emplace(text("TIME"), r);
    sets["STATION"].emplace(text("STATION"), r);
    sets["STATE"].emplace(text("STATE"), r);
    sets["QTH"].emplace(text("QTH"), r);
    sets["NUMBER"].emplace(cdx::EncodeNumberKey(t.GetFloat("NUMBER")), r);
    sets["BAND"].emplace(cdx::EncodeNumberKey(t.GetFloat("BAND")), r);
  }
  std::map<std::string, KeyList> out;
  for (auto& [name, s] : sets) out[name] = KeyList(s.begin(), s.end());
  return out;
}

void CheckTags(IndexedDbf& t, HXobjIndexFile* cdx, const std::string& when) {
  auto ref = Reference(t);
  ASSERT_EQ(cdx->TagCount(), 7);
  for (const auto& [name, expr] : LogbookTags()) {
    HXobjIndexTag* tag = cdx->TagByName(name);
    ASSERT_NE(tag, nullptr) << name;
    ASSERT_EQ(WalkTag(tag), ref[name]) << name << " " << when;
  }
}

}  // namespace

TEST(CdxLogbook, SevenTagsStayCurrentAndMatchARebuild) {
  IndexTempDir dir;
  const std::string dbf = dir.File("MYLOG.DBF");
  CreateLogbookTable(dbf);
  std::mt19937 rng(7);
  {
    IndexedDbf t(dbf, true, true);
    HXobjCDXFile* cdx = t.OpenCdx(dir.File("MYLOG.cdx"), true);
    ASSERT_TRUE(cdx->Valid());
    t.BlankRecord();
    for (const auto& [name, expr] : LogbookTags()) ASSERT_TRUE(cdx->CreateTag(name, expr, "", true, false));
    EXPECT_TRUE(t.TableFlags() & 1) << "production index flag";
    EXPECT_EQ(cdx->TagByName("DATE")->KeyLength(), 14);
    EXPECT_EQ(cdx->TagByName("STATION")->KeyLength(), 15);
    EXPECT_EQ(cdx->TagByName("BAND")->KeyType(), 'N');
    // The logbook keeps DATE selected while it logs: its tree stays in memory.
    cdx->TagByName("DATE")->Move(kMoveBottom);
    for (int i = 0; i < 400; ++i) {
      t.BlankRecord();
      PutContact(t, RandomContact(rng));
      t.AppendRecord();
      // A new contact is the one the DATE tag stands on after it was logged.
      if (i % 50 == 0) {
        ASSERT_NO_FATAL_FAILURE(CheckTags(t, cdx, "after append " + std::to_string(i)));
      }
    }
    for (int i = 0; i < 150; ++i) {
      const int32_t r = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(t.RecordCount()));
      t.GotoRecord(r);
      Contact c = RandomContact(rng);
      if (i % 3 == 0) t.PutString("STATION", c.station);
      if (i % 3 == 1) t.PutFloat("BAND", c.band);
      if (i % 3 == 2) PutContact(t, c);
      // A read between the edit and the write clears the table's changed flags; the keys must
      // still follow the record.
      if (i % 5 == 0) t.ClearChangedFlags();
      t.UpdateRecord(r);
    }
    ASSERT_NO_FATAL_FAILURE(CheckTags(t, cdx, "after rewrites"));
  }
  // Reopened, then rebuilt: the same order both times.
  IndexedDbf t(dbf, true, true);
  HXobjCDXFile* cdx = t.OpenCdx(dir.File("MYLOG.CDX"), false);
  ASSERT_TRUE(cdx->Valid());
  ASSERT_NO_FATAL_FAILURE(CheckTags(t, cdx, "reopened"));
  cdx->Reindex();
  ASSERT_NO_FATAL_FAILURE(CheckTags(t, cdx, "rebuilt"));
}
