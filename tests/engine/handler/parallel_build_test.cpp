// Tag builds and rebuilds read the table on several threads: the files they write must be the
// files the build on one thread writes, byte for byte, in all four formats, over a logbook of a
// few thousand contacts with blanks and duplicates, and their failures must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <utility>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "handler/handler_test_util.h"
#include "index/hx6_indx.h"
#include "support/logbook_layout.h"

namespace {

using handler_test::RecordingHandler;

// One tag as the handler's CreateIndexTag takes it.
struct TagSpec {
  const char* name;
  const char* key;
  const char* filter;
  int option;  // 0 unique
  int order;   // 0 ascending, 1 descending, 7 GENERAL
};

// The logbook's seven tags, then keys of every other kind a build meets: a date, a number made
// from the record number, a unique tag, a descending one, a FOR condition, GENERAL weights.
const std::vector<TagSpec>& Tags(ThxIndexFormat format) {
  static const std::vector<TagSpec> all = {
      {"DATE", "DTOS(DATE)+TIME", "", 1, 0},  {"TIME", "(TIME)", "", 1, 0},
      {"STATION", "STATION", "", 1, 0},       {"STATE", "STATE", "", 1, 0},
      {"NUMBER", "NUMBER", "", 1, 0},         {"QTH", "QTH", "", 1, 0},
      {"BAND", "BAND", "", 1, 0},             {"DAY", "DATE", "", 1, 0},
      {"ORDINAL", "RECNO()*2", "", 1, 0},     {"ONCE", "STATION", "", 0, 0},
      {"DOWN", "QTH+STATE", "", 1, 1},        {"HIGH", "UPPER(STATION)", "BAND > 14", 1, 0},
      {"WEIGHED", "QTH", "", 1, 7},
  };
  static const std::vector<TagSpec> noGeneral(all.begin(), all.end() - 1);
  return format == ThxIndexFormat::CDX ? all : noGeneral;
}

class ParallelBuildTest : public table_images::TempFolder {
 protected:
  void TearDown() override {
    HXobjIndexTag::SetBuildThreads(0);
    TempFolder::TearDown();
  }

  // A logbook in `folder` of `count` contacts: blank STATE, QTH, TIME, STATION and DATE in some,
  // many repeated stations and places, numbers of both signs.
  std::string MakeLogbook(const std::string& folder, int count, unsigned seed) {
    std::filesystem::create_directories(PathOf(folder));
    const std::string path = PathOf(folder + "/LOG.DBF");
    {
      HXO_DB4Build b(path);
      logbook_layout::AddLogbookFields(b);
      b.CreateFiles();
    }
    HXO_dBHandler h(path, false, true);
    std::mt19937 random(seed);
    static const char* kStates[] = {"NY", "CA", "", "TX", "ME", ""};
    static const char* kPlaces[] = {"Boston", "", "Springfield", "Zurich", "boston", "Aix"};
    for (int i = 0; i < count; ++i) {
      h.BlankRecord();
      const unsigned month = 10 + random() % 3;
      const unsigned day = 10 + random() % 18;
      if (random() % 9 != 0)
        h.PutText("DATE", "2024" + std::to_string(month) + std::to_string(day));
      if (random() % 7 != 0) h.PutText("TIME", std::to_string(1000 + random() % 1400));
      if (random() % 11 != 0)
        h.PutText("STATION", "K" + std::to_string(random() % 400) + "AB");
      h.PutText("STATE", kStates[random() % 6]);
      h.PutText("QTH", kPlaces[random() % 6]);
      h.PutFloat("NUMBER", static_cast<double>(static_cast<int>(random() % 2000) - 700) / 4);
      h.PutFloat("BAND", static_cast<double>(std::vector<int>{2, 10, 15, 20, 40, 160}[random() % 6]));
      h.AppendRecord();
      if (random() % 13 == 0) h.DeleteRecord();
    }
    return path;
  }

  static std::string IndexName(ThxIndexFormat format, const TagSpec& tag) {
    switch (format) {
      case ThxIndexFormat::CDX: return "LOG.CDX";
      case ThxIndexFormat::MDX: return "LOG.MDX";
      case ThxIndexFormat::NDX: return std::string(tag.name) + ".NDX";
      default: return std::string(tag.name) + ".NTX";
    }
  }

  // The logbook's road in `folder` with `threads` build threads: every tag built one call at a
  // time, then the index files opened and rebuilt. Returns each index file's bytes after the
  // builds and after the rebuild, and every failure's text.
  std::vector<std::string> Road(const std::string& folder, ThxIndexFormat format, int threads) {
    HXobjIndexTag::SetBuildThreads(threads);
    std::vector<std::string> seen;
    std::vector<std::string> files;
    RecordingHandler h(PathOf(folder + "/LOG.DBF"), true, true);
    for (const TagSpec& tag : Tags(format)) {
      const std::string file = IndexName(format, tag);
      try {
        h.CreateIndexTag(file, tag.name, tag.key, tag.filter, tag.option, tag.order);
      } catch (const ESorrelException& e) {
        seen.push_back(std::string(tag.name) + ": " + e.what());
      }
      if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
      CheckReports(h.reports, h.RecordCount());
      h.reports.clear();
    }
    for (const std::string& file : files) seen.push_back(Contents(PathOf(folder + "/" + file)));
    std::string list;
    for (const std::string& file : files) list += (list.empty() ? "" : ",") + file;
    h.SetIndexFiles(list, "");
    h.Reindex();
    CheckReports(h.reports, h.RecordCount());
    h.SetIndexFiles("", "");
    for (const std::string& file : files) seen.push_back(Contents(PathOf(folder + "/" + file)));
    return seen;
  }

  // Every build reports its scan as the data set's progress expects: the phase's start with the
  // record count, counts that only grow, the whole count, then the end.
  static void CheckReports(const std::vector<std::tuple<int, int, int>>& reports, int count) {
    for (size_t i = 0; i < reports.size(); ++i) {
      if (reports[i] != std::make_tuple(-1, 1, count)) continue;
      int last = 0;
      size_t j = i + 1;
      for (; j < reports.size() && std::get<0>(reports[j]) == 1; ++j) {
        EXPECT_GE(std::get<1>(reports[j]), last);
        last = std::get<1>(reports[j]);
      }
      EXPECT_EQ(last, count);
      ASSERT_LT(j, reports.size());
      EXPECT_EQ(reports[j], std::make_tuple(0, 0, 0));
    }
  }
};

TEST_F(ParallelBuildTest, FilesAreTheOneThreadBuildsByteForByte) {
  for (ThxIndexFormat format :
       {ThxIndexFormat::CDX, ThxIndexFormat::MDX, ThxIndexFormat::NDX, ThxIndexFormat::NTX}) {
    SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(format));
    const std::string one = "one" + std::to_string(static_cast<int>(format));
    // The formats other than CDX build slowly under the sanitizers: smaller logbooks there.
    const bool cdx = format == ThxIndexFormat::CDX;
    MakeLogbook(one, cdx ? 3000 : (format == ThxIndexFormat::MDX ? 800 : 1500), 7);
    const std::string table = Contents(PathOf(one + "/LOG.DBF"));
    const std::vector<std::string> single = Road(one, format, 1);
    // Several thread counts: ranges of uneven length, and more threads than a small range needs.
    for (int threads : cdx ? std::vector<int>{2, 5, 8} : std::vector<int>{5}) {
      SCOPED_TRACE(testing::Message() << "threads " << threads);
      const std::string many = one + "_" + std::to_string(threads);
      std::filesystem::create_directories(PathOf(many));
      Put(many + "/LOG.DBF", table);
      const std::vector<std::string> parallel = Road(many, format, threads);
      ASSERT_EQ(single.size(), parallel.size());
      for (size_t i = 0; i < single.size(); ++i) {
        const std::string& a = single[i];
        const std::string& b = parallel[i];
        size_t at = 0;
        while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
        EXPECT_TRUE(a == b) << "part " << i << ": sizes " << a.size() << " and " << b.size()
                            << ", first difference at byte " << at;
      }
    }
  }
}

TEST_F(ParallelBuildTest, TheFirstBadRecordInTableOrderIsReported) {
  const std::string path = MakeLogbook("bad", 2000, 3);
  {
    // Two numbers no field should hold, far apart: the scan on one thread meets record 700 first.
    HXO_dBHandler h(path, false, true);
    for (const auto& [record, text] : {std::pair<int32_t, const char*>{1700, "34y"}, {700, "12x"}}) {
      h.GoTo(record);
      h.PutString("NUMBER", text);
      h.UpdateRecord(record);
    }
  }
  std::vector<std::string> errors;
  for (int threads : {1, 4}) {
    HXobjIndexTag::SetBuildThreads(threads);
    HXO_dBHandler h(path, true, true);
    errors.push_back(ErrorOf([&] { h.CreateIndexTag("LOG.CDX", "NUMBER", "NUMBER", "", 1, 0); }));
    // The handle stays usable and on the record it was on.
    h.GoTo(5);
    EXPECT_EQ(h.RecNo(), 5);
  }
  EXPECT_EQ(errors[0], errors[1]);
  EXPECT_NE(errors[0].find("12x"), std::string::npos) << errors[0];
}

}  // namespace
