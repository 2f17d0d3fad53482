// Index builds as the logbook asks for them, on the logbook data sets of 100,000 and 1,000,000
// contacts ($QM_BENCH_SIZES chooses):
//
//   OpenRoad/<size>    what the logbook does at every open: the data set opened, the seven tags
//                      built one call at a time (BuildIndexTag), closed and opened again, every
//                      open index rebuilt (RebuildIndexes), the index list opened with DATE,
//                      the newest contact.
//   SortChange/<size>  a change of the sort box: every open index rebuilt, the index list opened
//                      with the chosen tag, the newest contact.
//
// Each beside two floors measured in the same run: one pass reading the table file (io_floor_us,
// io_ratio) and the same road with every build on one thread, as the engine built before
// (floor_us, ratio: the speed-up is 1 / ratio). peak_rss_mb is the process's peak resident memory
// during the figure's road (the high-water mark is reset before it).
// The machine's other work shows in these figures: on a busy machine run them several times.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "bench_support.h"
#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_search.h"
#include "index/hx6_indx.h"

namespace {

using bench::Clock;
using bench::Logbook;
using bench::LogbookSet;
using bench::Seconds;

// Resets the process's peak resident size (VmHWM), so that the next reading is this road's.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The peak resident size since the last reset, in megabytes.
double PeakMemoryMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

// The logbook in a scratch folder of its own, so every road starts from the same files.
struct Scratch {
  explicit Scratch(const LogbookSet& set) {
    std::filesystem::copy_file(set.table, table);
    std::filesystem::copy_file(set.cdx, cdx);
  }
  bench::ScratchDir dir;
  std::string table = dir.File("LOG.DBF");
  std::string cdx = dir.File("LOG.CDX");
};

// makeindex then dateindex, as the main window runs them after opening a logbook.
void OpenRoadOnce(const Scratch& s) {
  TSorrelDataSet dbf1;
  dbf1.SetTableName(s.table);
  dbf1.Open();
  for (const auto& [tag, key] : bench::LogbookTags()) BuildIndexTag(dbf1, s.cdx, tag, key, "", 1, 0);
  dbf1.Close();
  OpenIndexList(dbf1, s.cdx, "DATE");
  dbf1.Close();
  dbf1.Open();
  RebuildIndexes(dbf1);
  OpenIndexList(dbf1, s.cdx, "DATE");
  SelectIndexTag(dbf1, "DATE");
  dbf1.Last();
}

// The sort box's change on an open logbook.
void SortChangeOnce(TSorrelDataSet& dbf1, const Scratch& s, const char* tag) {
  dbf1.Close();
  dbf1.Open();
  RebuildIndexes(dbf1);
  OpenIndexList(dbf1, s.cdx, tag);
  SelectIndexTag(dbf1, tag);
  dbf1.Last();
}

void Report(benchmark::State& state, const LogbookSet& set, double figure, double oneThread,
            double peakMb) {
  const double io = bench::ReadFileOnce(set.table);
  bench::Report(state, figure, oneThread);
  state.counters["io_floor_us"] = io * 1e6;
  state.counters["io_ratio"] = io > 0 ? figure / io : 0.0;
  state.counters["peak_rss_mb"] = peakMb;
}

void OpenRoad(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  double figure = 0, oneThread = 0, peak = 0;
  for (auto _ : state) {
    {
      Scratch s(set);
      HXobjIndexTag::SetBuildThreads(1);
      const auto start = Clock::now();
      OpenRoadOnce(s);
      oneThread += Seconds(Clock::now() - start);
    }
    Scratch s(set);
    HXobjIndexTag::SetBuildThreads(0);
    ResetPeakMemory();
    const auto start = Clock::now();
    OpenRoadOnce(s);
    const double t = Seconds(Clock::now() - start);
    peak = std::max(peak, PeakMemoryMb());
    state.SetIterationTime(t);
    figure += t;
  }
  const double n = static_cast<double>(state.iterations());
  Report(state, set, figure / n, oneThread / n, peak);
}

void SortChange(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  Scratch s(set);
  TSorrelDataSet dbf1;
  dbf1.SetTableName(s.table);
  dbf1.Open();
  OpenIndexList(dbf1, s.cdx, "DATE");
  static const char* kTags[] = {"STATION", "BAND", "STATE", "QTH", "NUMBER", "DATE"};
  double figure = 0, oneThread = 0, peak = 0;
  int i = 0;
  for (auto _ : state) {
    const char* tag = kTags[i++ % 6];
    HXobjIndexTag::SetBuildThreads(1);
    auto start = Clock::now();
    SortChangeOnce(dbf1, s, tag);
    oneThread += Seconds(Clock::now() - start);
    HXobjIndexTag::SetBuildThreads(0);
    ResetPeakMemory();
    start = Clock::now();
    SortChangeOnce(dbf1, s, tag);
    const double t = Seconds(Clock::now() - start);
    peak = std::max(peak, PeakMemoryMb());
    state.SetIterationTime(t);
    figure += t;
  }
  const double n = static_cast<double>(state.iterations());
  Report(state, set, figure / n, oneThread / n, peak);
}

const bool registered = [] {
  for (int64_t records : bench::Sizes()) {
    const std::string size = bench::SizeName(records);
    benchmark::RegisterBenchmark(("OpenRoad/" + size).c_str(),
                                 [records](benchmark::State& s) { OpenRoad(s, records); })
        ->UseManualTime()
        ->Iterations(records >= 1000000 ? 2 : 5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("SortChange/" + size).c_str(),
                                 [records](benchmark::State& s) { SortChange(s, records); })
        ->UseManualTime()
        ->Iterations(records >= 1000000 ? 3 : 6)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
