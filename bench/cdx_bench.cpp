// CDX benchmarks on a logbook table:
//   BuildSevenTags   building the logbook's seven tags over a table of contacts, beside the floor
//                    of one pass over the table evaluating the seven keys, a std::sort per tag
//                    and writing the same bytes;
//   AppendIndexed    appending contacts with the seven tags open, beside appending to the table
//                    alone;
//   SeekStation      seeks on the STATION tag, beside a binary search of the same keys in memory.
// Every benchmark reports figure_us, floor_us (per operation) and their ratio.
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

#include "../tests/engine/index_dbf_table.h"
#include "bench_support.h"
#include "hx6_date.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int64_t EnvCount(const char* name, int64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoll(v) : fallback;
}

class BenchDir {
 public:
  BenchDir() {
    char tmpl[] = "/tmp/qm_cdx_bench_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~BenchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void FillContact(IndexedDbf& t, std::mt19937& rng, int64_t i) {
  static const char* prefixes[] = {"W", "K", "N", "DL", "G", "VE", "JA", "VK", "F", "EA"};
  static const char* states[] = {"CT", "NY", "TX", "CA", "MA", "OH", "FL", "WA", "", "ME"};
  static const double bands[] = {160, 80, 40, 30, 20, 17, 15, 12, 10, 6, 2};
  char call[16];
  snprintf(call, sizeof call, "%s%u%c%c%c", prefixes[rng() % 10], static_cast<unsigned>(rng() % 10),
           static_cast<char>('A' + rng() % 26), static_cast<char>('A' + rng() % 26),
           static_cast<char>('A' + rng() % 26));
  char time[8];
  snprintf(time, sizeof time, "%02u%02u%02u", static_cast<unsigned>(rng() % 24),
           static_cast<unsigned>(rng() % 60), static_cast<unsigned>(rng() % 60));
  t.BlankRecord();
  t.PutDate("DATE", 2450000 + static_cast<int32_t>(i / 300));
  t.PutString("TIME", time);
  t.PutFloat("NUMBER", static_cast<double>(i + 1));
  t.PutString("STATION", call);
  t.PutFloat("BAND", bands[rng() % 11]);
  t.PutString("QTH", "CITY" + std::to_string(rng() % 5000));
  t.PutString("STATE", states[rng() % 10]);
  t.PutString("MODE", "SSB");
}

// A logbook table of `records` contacts, written in bulk after the table builder's header.
void MakeTable(const std::string& path, int64_t records) {
  CreateLogbookTable(path);
  std::mt19937 rng(42);
  std::vector<char> bulk;
  int length;
  int64_t header;
  {
    IndexedDbf t(path, false, true);
    length = t.RecordLength();
    header = t.HeaderLength();
    bulk.reserve(static_cast<size_t>(records * length + 1));
    for (int64_t i = 0; i < records; ++i) {
      FillContact(t, rng, i);
      bulk.insert(bulk.end(), t.RecordBuffer(), t.RecordBuffer() + length);
    }
  }
  bulk.push_back(0x1A);
  int fd = open(path.c_str(), O_WRONLY);
  if (pwrite(fd, bulk.data(), bulk.size(), header) != static_cast<ssize_t>(bulk.size())) abort();
  ftruncate(fd, header + static_cast<off_t>(bulk.size()));
  close(fd);
}

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
    auto run = [&](bool indexed) {
      const std::string dbf = dir.File(indexed ? "IDX.DBF" : "PLAIN.DBF");
      CreateLogbookTable(dbf);
      IndexedDbf t(dbf, true, true);
      if (indexed) {
        HXobjCDXFile* cdx = t.OpenCdx(dir.File("IDX.CDX"), true);
        t.BlankRecord();
        for (const auto& [name, expr] : LogbookTags()) cdx->CreateTag(name, expr, "", true, false);
        t.CloseIndexes();
        t.OpenCdx(dir.File("IDX.CDX"), false);
        t.IndexFile(0)->TagByName("DATE")->Move(kMoveBottom);
      }
      std::mt19937 rng(7);
      auto start = Clock::now();
      for (int64_t i = 0; i < appends; ++i) {
        FillContact(t, rng, i);
        t.AppendRecord();
      }
      return Seconds(Clock::now() - start);
    };
    const double plain = run(false);
    const double indexed = run(true);
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
  std::vector<HXobjIndexKeyData> keys;
  std::mt19937 rng(3);
  for (int i = 0; i < 10000; ++i) {
    t.GotoRecord(1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(records)));
    HXobjIndexKeyData k;
    k.PutString(t.GetString("STATION"));
    k.SetRecNo(kAnyRecord);
    keys.push_back(k);
  }
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
    auto start = Clock::now();
    for (const auto& k : keys) {
      if (tag->Seek(k) != 0) ++found;
      ++seeks;
    }
    const double seconds = Seconds(Clock::now() - start);
    state.SetIterationTime(seconds);
    figure += seconds;
    start = Clock::now();
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

}  // namespace

BENCHMARK(BuildSevenTags)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(AppendIndexed)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(SeekStation)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
