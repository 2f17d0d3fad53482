// Rebuilds and tag builds interrupted at every point: a write refused, a disk that stays full, the
// program killed. The next open must find every index file whole (the old one or the new one)
// and every tag agreeing with the table, in all four formats, on the logbook's three roads: a
// rebuild (the sort box), one tag built again, and the open road (seven tag builds, then a
// rebuild).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/hx6_disk.h"
#include "handler/handler_test_util.h"
#include "support/logbook_layout.h"

namespace {

enum class Road { kRebuild, kOneTag, kOpenRoad };

struct TagDef {
  const char* name;
  const char* key;
};

const std::vector<TagDef>& LogbookTags() {
  static const std::vector<TagDef> tags = {
      {"DATE", "DTOS(DATE)+TIME"}, {"TIME", "(TIME)"}, {"STATION", "STATION"}, {"STATE", "STATE"},
      {"NUMBER", "NUMBER"},        {"QTH", "QTH"},     {"BAND", "BAND"},
  };
  return tags;
}

class RebuildFaultTest : public table_images::TempFolder,
                         public ::testing::WithParamInterface<ThxIndexFormat> {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    {
      HXO_DB4Build b(PathOf("LOG.DBF"));
      logbook_layout::AddLogbookFields(b);
      b.CreateFiles();
    }
    HXO_dBHandler h(PathOf("LOG.DBF"), false, true);
    std::mt19937 random(5);
    static const char* kStates[] = {"NY", "", "TX", "ME"};
    static const char* kPlaces[] = {"Boston", "", "Zurich", "Aix", "boston"};
    for (int i = 0; i < 200; ++i) {
      h.BlankRecord();
      const unsigned day = 10 + random() % 18;
      if (random() % 8 != 0) h.PutText("DATE", "202411" + std::to_string(day));
      if (random() % 6 != 0) h.PutText("TIME", std::to_string(1000 + random() % 1400));
      h.PutText("STATION", "K" + std::to_string(random() % 60) + "AB");
      h.PutText("STATE", kStates[random() % 4]);
      h.PutText("QTH", kPlaces[random() % 5]);
      h.PutFloat("NUMBER", static_cast<double>(static_cast<int>(random() % 400) - 100) / 4);
      h.PutFloat("BAND", static_cast<double>(std::vector<int>{2, 10, 20, 40, 160}[random() % 5]));
      h.AppendRecord();
    }
    for (const TagDef& tag : LogbookTags())
      h.CreateIndexTag(IndexName(tag), tag.name, tag.key, "", 1, 0);
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      start_[entry.path().filename().string()] = Contents(entry.path().string());
  }

  std::string IndexName(const TagDef& tag) const {
    switch (GetParam()) {
      case ThxIndexFormat::CDX: return "LOG.CDX";
      case ThxIndexFormat::MDX: return "LOG.MDX";
      case ThxIndexFormat::NDX: return std::string(tag.name) + ".NDX";
      default: return std::string(tag.name) + ".NTX";
    }
  }

  std::string IndexList() const {
    std::vector<std::string> files;
    for (const TagDef& tag : LogbookTags())
      if (std::find(files.begin(), files.end(), IndexName(tag)) == files.end())
        files.push_back(IndexName(tag));
    std::string list;
    for (const std::string& f : files) list += (list.empty() ? "" : ",") + f;
    return list;
  }

  // The folder as it was after the set-up, and nothing else in it.
  void Restore() {
    HXO_DiskFile::CloseAllFiles();
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      if (!start_.count(entry.path().filename().string())) std::filesystem::remove(entry.path());
    for (const auto& [name, bytes] : start_) Put(name, bytes);
  }

  void Operate(Road road) {
    HXO_dBHandler h(PathOf("LOG.DBF"), true, true);
    if (road == Road::kOneTag) {
      h.CreateIndexTag(IndexName(LogbookTags()[2]), "STATION", "STATION", "", 1, 0);
      return;
    }
    if (road == Road::kOpenRoad)
      for (const TagDef& tag : LogbookTags())
        h.CreateIndexTag(IndexName(tag), tag.name, tag.key, "", 1, 0);
    h.SetIndexFiles(IndexList(), "DATE");
    h.Reindex();
  }

  int64_t CountOperations(Road road) {
    Restore();
    ArmDiskFaults({DiskFaultPlan::kCount});
    Operate(road);
    DisarmDiskFaults();
    return DiskFaultOperationCount();
  }

  // The points swept: every operation of a short road, some sixteen spread over a long one.
  static std::vector<int64_t> Points(int64_t operations) {
    std::vector<int64_t> points;
    const int64_t step = std::max<int64_t>(1, operations / 16);
    for (int64_t at = 1; at <= operations; at += step) points.push_back(at);
    points.push_back(operations);
    return points;
  }

  // The next open: every index file opens, and every tag holds each record once, in the order
  // of its key as the table's fields give it.
  void CheckNextOpen() {
    HXO_dBHandler h(PathOf("LOG.DBF"), true, true);
    ASSERT_NO_THROW(h.SetIndexFiles(IndexList(), "DATE"));
    const int32_t count = h.RecordCount();
    for (const TagDef& tag : LogbookTags()) {
      SCOPED_TRACE(tag.name);
      std::vector<std::pair<std::string, int32_t>> expected;
      for (int32_t r = 1; r <= count; ++r) {
        h.GoTo(r);
        expected.emplace_back(SortKey(h, tag.name), r);
      }
      std::sort(expected.begin(), expected.end());
      h.SelectMasterTag(tag.name, false);
      std::vector<int32_t> walked;
      for (h.GoTo(kGotoFirst); !h.Eof() && !h.Bof() && walked.size() <= expected.size();
           h.GoTo(kGotoNext))
        walked.push_back(h.RecNo());
      ASSERT_EQ(walked.size(), expected.size());
      for (size_t i = 0; i < walked.size(); ++i)
        ASSERT_EQ(walked[i], expected[i].second) << "entry " << i;
    }
  }

  // A text that sorts as the tag's key does (numbers offset and zero-padded).
  static std::string SortKey(HXO_dBHandler& h, const std::string& tag) {
    auto text = [&](const char* field) {
      std::string s = h.GetString(field);
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    };
    auto number = [&](const char* field) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%012.4f", h.GetFloat(field) + 100000.0);
      return std::string(buffer);
    };
    if (tag == "DATE") return h.GetString("DATE") + h.GetString("TIME");
    if (tag == "NUMBER" || tag == "BAND") return number(tag.c_str());
    return text(tag.c_str());
  }

  void SweepFailures(Road road, bool diskStaysFull) {
    const int64_t operations = CountOperations(road);
    ASSERT_GT(operations, 3);
    for (int64_t at : Points(operations)) {
      SCOPED_TRACE("operation " + std::to_string(at) + " of " + std::to_string(operations));
      Restore();
      ArmDiskFaults({DiskFaultPlan::kFail, at, at % 3 == 0 ? 100 : -1, diskStaysFull});
      try {
        Operate(road);
      } catch (const ESorrelException&) {
      }
      DisarmDiskFaults();
      CheckNextOpen();
      if (HasFailure()) return;
    }
  }

  void SweepKills(Road road) {
    const int64_t operations = CountOperations(road);
    for (int64_t at : Points(operations)) {
      SCOPED_TRACE("killed at operation " + std::to_string(at) + " of " +
                   std::to_string(operations));
      Restore();
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ArmDiskFaults({DiskFaultPlan::kKill, at, at % 2 == 0 ? 100 : -1, true});
        try {
          Operate(road);
        } catch (...) {
          _exit(2);
        }
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
      CheckNextOpen();
      if (HasFailure()) return;
    }
  }

  std::map<std::string, std::string> start_;
};

TEST_P(RebuildFaultTest, ARefusedWriteLeavesEveryIndexWhole) {
  for (Road road : {Road::kRebuild, Road::kOneTag, Road::kOpenRoad}) {
    SCOPED_TRACE("road " + std::to_string(static_cast<int>(road)));
    SweepFailures(road, false);
  }
}

TEST_P(RebuildFaultTest, AFullDiskLeavesEveryIndexWhole) {
  for (Road road : {Road::kRebuild, Road::kOneTag, Road::kOpenRoad}) {
    SCOPED_TRACE("road " + std::to_string(static_cast<int>(road)));
    SweepFailures(road, true);
  }
}

TEST_P(RebuildFaultTest, AKillLeavesEveryIndexWhole) {
  for (Road road : {Road::kRebuild, Road::kOneTag, Road::kOpenRoad}) {
    SCOPED_TRACE("road " + std::to_string(static_cast<int>(road)));
    SweepKills(road);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RebuildFaultTest,
                         ::testing::Values(ThxIndexFormat::CDX, ThxIndexFormat::MDX,
                                           ThxIndexFormat::NDX, ThxIndexFormat::NTX),
                         [](const ::testing::TestParamInfo<ThxIndexFormat>& info) {
                           switch (info.param) {
                             case ThxIndexFormat::CDX: return std::string("CDX");
                             case ThxIndexFormat::MDX: return std::string("MDX");
                             case ThxIndexFormat::NDX: return std::string("NDX");
                             default: return std::string("NTX");
                           }
                         });

}  // namespace
