// CDX benchmarks on a logbook table:
//   BuildSevenTags   building the logbook's seven tags over a table of contacts, beside the floor
//                    of one pass over the table evaluating the seven keys, a std::sort per tag
//                    and writing the same bytes;
//   AppendIndexed    appending contacts with the seven tags open, beside appending to the table
//                    alone;
//   SeekStation      seeks on the STATION tag, beside a binary search of the same keys in memory.
// The seven-tag benchmarks report figure_us, floor_us (per operation) and their ratio.
// And the same for one STATION tag in each index format (CDX, NDX, NTX): BuildOneTag,
// AppendOneTag and SeekOneTag.
// QM_BENCH_RECORDS sets the table size for the build (default 1,000,000) and QM_BENCH_APPENDS the
// number of appended contacts (default 100,000).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "base/hx6_date.h"
#include "logbook_bench_table.h"

namespace {

using namespace logbook_bench;

void BuildSevenTags(benchmark::State& state) {
  const int64_t records = EnvCount("QM_BENCH_RECORDS", 1000000);
  BenchDir dir;
  const std::string dbf = dir.File("BENCH.DBF");
  MakeTable(dbf, records);
  double figure = 0, floor = 0;
  for (auto _ : state) {
    std::filesystem::remove(dir.File("BENCH.CDX"));
    double build = 0;
    {
      IndexedDbf t(dbf, false, true);
      t.GotoRecord(1);
      HXobjCDXFile* cdx = t.OpenCdx(dir.File("BENCH.CDX"), true);
      const auto start = Clock::now();
      for (const auto& [name, expr] : LogbookTags()) cdx->CreateTag(name, expr, "", true, false);
      build = Seconds(Clock::now() - start);
      t.CloseIndexes();
    }
    const auto bytes = static_cast<int64_t>(std::filesystem::file_size(dir.File("BENCH.CDX")));
    // The floor: one pass over the table evaluating the seven keys, a std::sort per tag, and the
    // index file's bytes written.
    const double least = bench::BuildFloor(dbf, dir.File("BENCH.CDX"), dir.File("FLOOR.BIN"));
    state.SetIterationTime(build);
    figure += build;
    floor += least;
    state.counters["records"] = static_cast<double>(records);
    state.counters["cdx_bytes"] = static_cast<double>(bytes);
  }
  const double n = static_cast<double>(state.iterations());
  bench::Report(state, figure / n, floor / n);
}

void AppendIndexed(benchmark::State& state) {
  const int64_t appends = EnvCount("QM_BENCH_APPENDS", 100000);
  for (auto _ : state) {
    BenchDir dir;
    auto sevenTags = [&](IndexedDbf& t) {
      HXobjCDXFile* cdx = t.OpenCdx(dir.File("IDX.CDX"), true);
      t.BlankRecord();
      for (const auto& [name, expr] : LogbookTags()) cdx->CreateTag(name, expr, "", true, false);
      t.CloseIndexes();
      t.OpenCdx(dir.File("IDX.CDX"), false);
      t.IndexFile(0)->TagByName("DATE")->Move(kMoveBottom);
    };
    const double plain = TimeAppends(dir, false, appends, sevenTags);
    const double indexed = TimeAppends(dir, true, appends, sevenTags);
    state.SetIterationTime(indexed);
    state.counters["appends"] = static_cast<double>(appends);
    // Per append: with the seven tags (figure) and to the table alone (floor).
    bench::Report(state, indexed / static_cast<double>(appends),
                  plain / static_cast<double>(appends));
  }
}

void SeekStation(benchmark::State& state) {
  const int64_t records = std::min<int64_t>(EnvCount("QM_BENCH_RECORDS", 1000000), 200000);
  BenchDir dir;
  const std::string dbf = dir.File("SEEK.DBF");
  MakeTable(dbf, records);
  IndexedDbf t(dbf, false, true);
  t.GotoRecord(1);
  HXobjCDXFile* cdx = t.OpenCdx(dir.File("SEEK.CDX"), true);
  cdx->CreateTag("STATION", "STATION", "", true, false);
  HXobjIndexTag* tag = cdx->TagByName("STATION");
  const std::vector<HXobjIndexKeyData> keys = RandomStationKeys(t, records);
  // The floor: the same keys looked up by binary search in a sorted copy in memory.
  std::vector<std::string> sorted;
  for (int32_t r = 1; r <= records; ++r) {
    t.GotoRecord(r);
    std::string k = t.GetString("STATION");
    while (!k.empty() && k.back() == ' ') k.pop_back();
    sorted.push_back(std::move(k));
  }
  std::sort(sorted.begin(), sorted.end());
  int64_t seeks = 0, found = 0;
  double figure = 0, floor = 0;
  for (auto _ : state) {
    const double seconds = TimeSeeks(tag, keys, seeks, found);
    state.SetIterationTime(seconds);
    figure += seconds;
    const auto start = Clock::now();
    for (const auto& k : keys) {
      const auto at = std::lower_bound(sorted.begin(), sorted.end(), k.GetString());
      benchmark::DoNotOptimize(at);
    }
    floor += Seconds(Clock::now() - start);
  }
  state.counters["seeks_per_s"] = benchmark::Counter(static_cast<double>(seeks), benchmark::Counter::kIsRate);
  state.counters["found"] = static_cast<double>(found);
  bench::Report(state, figure / static_cast<double>(seeks), floor / static_cast<double>(seeks));
}

// Makes the STATION tag in a file of the format `extension` names.
HXobjIndexFile* CreateStationTag(IndexedDbf& t, const std::string& path) {
  HXobjIndexFile* file = t.OpenIndex(path, true);
  file->CreateTag("STATION", "STATION", "", true, false);
  return file;
}

void BuildOneTag(benchmark::State& state, const char* extension) {
  const int64_t records = EnvCount("QM_BENCH_RECORDS", 1000000);
  BenchDir dir;
  const std::string dbf = dir.File("BENCH.DBF");
  MakeTable(dbf, records);
  const std::string path = dir.File(std::string("BENCH") + extension);
  for (auto _ : state) {
    std::filesystem::remove(path);
    IndexedDbf t(dbf, false, true);
    t.GotoRecord(1);
    auto start = Clock::now();
    CreateStationTag(t, path);
    const double build = Seconds(Clock::now() - start);
    t.CloseIndexes();
    const auto bytes = static_cast<int64_t>(std::filesystem::file_size(path));

    // The floor: the same keys as text, sorted with std::sort, and the same bytes written.
    const double floor = StationBuildFloor(t, records, bytes, dir.File("FLOOR.BIN"));
    state.SetIterationTime(build);
    state.counters["records"] = static_cast<double>(records);
    state.counters["build_s"] = build;
    state.counters["floor_s"] = floor;
    state.counters["ratio"] = build / floor;
    state.counters["index_bytes"] = static_cast<double>(bytes);
  }
}

void AppendOneTag(benchmark::State& state, const char* extension) {
  const int64_t appends = EnvCount("QM_BENCH_APPENDS", 100000);
  for (auto _ : state) {
    BenchDir dir;
    auto stationTag = [&](IndexedDbf& t) {
      const std::string path = dir.File(std::string("IDX") + extension);
      t.BlankRecord();
      CreateStationTag(t, path);
      t.CloseIndexes();
      t.OpenIndex(path, false)->TagByIndex(0)->Move(kMoveBottom);
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

void SeekOneTag(benchmark::State& state, const char* extension) {
  const int64_t records = std::min<int64_t>(EnvCount("QM_BENCH_RECORDS", 1000000), 200000);
  BenchDir dir;
  const std::string dbf = dir.File("SEEK.DBF");
  MakeTable(dbf, records);
  IndexedDbf t(dbf, false, true);
  t.GotoRecord(1);
  HXobjIndexTag* tag = CreateStationTag(t, dir.File(std::string("SEEK") + extension))->TagByIndex(0);
  const std::vector<HXobjIndexKeyData> keys = RandomStationKeys(t, records);
  int64_t seeks = 0, found = 0;
  for (auto _ : state) {
    state.SetIterationTime(TimeSeeks(tag, keys, seeks, found));
  }
  state.counters["seeks_per_s"] = benchmark::Counter(static_cast<double>(seeks), benchmark::Counter::kIsRate);
  state.counters["found"] = static_cast<double>(found);
}

}  // namespace

BENCHMARK(BuildSevenTags)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(AppendIndexed)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(SeekStation)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BuildOneTag, CDX, ".CDX")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BuildOneTag, NDX, ".NDX")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BuildOneTag, NTX, ".NTX")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(AppendOneTag, CDX, ".CDX")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(AppendOneTag, NDX, ".NDX")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(AppendOneTag, NTX, ".NTX")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(SeekOneTag, CDX, ".CDX")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SeekOneTag, NDX, ".NDX")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SeekOneTag, NTX, ".NTX")->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
