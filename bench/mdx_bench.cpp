// MDX benchmarks on a logbook table:
//   BuildStationTag   building one tag (STATION) over a table of contacts, beside the floor of
//                     reading the same keys, sorting them with std::sort and writing as many bytes
//                     (and, for reference, the same tag in a CDX file);
//   AppendStationTag  appending contacts to a shared table with the tag open, beside appending to
//                     the table alone;
//   SeekStationTag    seeks per second on the tag, beside binary searches of the same keys in a
//                     sorted vector in memory.
// QM_BENCH_RECORDS sets the table size for the build (default 1,000,000) and QM_BENCH_APPENDS the
// number of appended contacts (default 100,000).
#include <benchmark/benchmark.h>

#include <algorithm>

#include "index/hx6_mdx.h"
#include "logbook_bench_table.h"

namespace {

using namespace logbook_bench;

HXobjIndexFile* OpenMdx(IndexedDbf& t, const std::string& path, bool create) {
  return t.AddIndex(std::make_unique<HXobjMDXFile>(&t, path, false, create, t.Shared(), t.ReadWrite()));
}

void BuildStationTag(benchmark::State& state) {
  const int64_t records = EnvCount("QM_BENCH_RECORDS", 1000000);
  BenchDir dir;
  const std::string dbf = dir.File("BENCH.DBF");
  MakeTable(dbf, records);
  for (auto _ : state) {
    std::filesystem::remove(dir.File("BENCH.MDX"));
    std::filesystem::remove(dir.File("BENCH.CDX"));
    IndexedDbf t(dbf, false, true);
    t.GotoRecord(1);
    HXobjIndexFile* mdx = OpenMdx(t, dir.File("BENCH.MDX"), true);
    auto start = Clock::now();
    mdx->CreateTag("STATION", "STATION", "", true, false);
    const double build = Seconds(Clock::now() - start);
    t.CloseIndexes();
    const auto bytes = static_cast<int64_t>(std::filesystem::file_size(dir.File("BENCH.MDX")));

    HXobjIndexFile* cdx = t.OpenCdx(dir.File("BENCH.CDX"), true);
    start = Clock::now();
    cdx->CreateTag("STATION", "STATION", "", true, false);
    const double cdxBuild = Seconds(Clock::now() - start);
    t.CloseIndexes();

    // The floor: the same keys read and sorted with std::sort, and as many bytes written.
    const double floor = StationBuildFloor(t, records, bytes, dir.File("FLOOR.BIN"));
    state.SetIterationTime(build);
    state.counters["records"] = static_cast<double>(records);
    state.counters["build_s"] = build;
    state.counters["floor_s"] = floor;
    state.counters["ratio"] = build / floor;
    state.counters["cdx_build_s"] = cdxBuild;
    state.counters["mdx_bytes"] = static_cast<double>(bytes);
  }
}

void AppendStationTag(benchmark::State& state) {
  const int64_t appends = EnvCount("QM_BENCH_APPENDS", 100000);
  for (auto _ : state) {
    BenchDir dir;
    auto stationTag = [&](IndexedDbf& t) {
      HXobjIndexFile* mdx = OpenMdx(t, dir.File("IDX.MDX"), true);
      t.BlankRecord();
      mdx->CreateTag("STATION", "STATION", "", true, false);
      t.CloseIndexes();
      OpenMdx(t, dir.File("IDX.MDX"), false)->TagByName("STATION")->Move(kMoveBottom);
    };
    const double plain = TimeAppends(dir, false, appends, stationTag);
    const double indexed = TimeAppends(dir, true, appends, stationTag);
    state.SetIterationTime(indexed);
    state.counters["appends"] = static_cast<double>(appends);
    state.counters["table_only_s"] = plain;
    state.counters["indexed_s"] = indexed;
    state.counters["ratio"] = indexed / plain;
  }
}

void SeekStationTag(benchmark::State& state) {
  const int64_t records = std::min<int64_t>(EnvCount("QM_BENCH_RECORDS", 1000000), 200000);
  BenchDir dir;
  const std::string dbf = dir.File("SEEK.DBF");
  MakeTable(dbf, records);
  IndexedDbf t(dbf, false, true);
  t.GotoRecord(1);
  HXobjIndexFile* mdx = OpenMdx(t, dir.File("SEEK.MDX"), true);
  mdx->CreateTag("STATION", "STATION", "", true, false);
  HXobjIndexTag* tag = mdx->TagByName("STATION");
  std::vector<std::string> all;
  for (int32_t r = 1; r <= records; ++r) {
    t.GotoRecord(r);
    all.push_back(t.GetString("STATION"));
  }
  std::sort(all.begin(), all.end());
  std::vector<std::string> texts;
  const std::vector<HXobjIndexKeyData> keys = RandomStationKeys(t, records, &texts);
  int64_t seeks = 0, found = 0;
  double seekTime = 0, floorTime = 0;
  for (auto _ : state) {
    const double elapsed = TimeSeeks(tag, keys, seeks, found);
    seekTime += elapsed;
    const auto start = Clock::now();
    for (const auto& s : texts) benchmark::DoNotOptimize(std::lower_bound(all.begin(), all.end(), s));
    floorTime += Seconds(Clock::now() - start);
    state.SetIterationTime(elapsed);
  }
  state.counters["seeks_per_s"] = static_cast<double>(seeks) / seekTime;
  state.counters["floor_per_s"] = static_cast<double>(seeks) / floorTime;
  state.counters["ratio"] = seekTime / floorTime;
  state.counters["found"] = static_cast<double>(found);
}

}  // namespace

BENCHMARK(BuildStationTag)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(AppendStationTag)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(SeekStationTag)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
