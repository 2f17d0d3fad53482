// The database handler on a 100,000-record logbook: opening with its seven tags and going to the
// newest contact; the duplicate check (a filter on STATION, then a Locate on STATION and BAND);
// reindex and pack, each beside a floor measured in the same run (reading the whole table file
// once, sequentially).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../tests/engine/logbook_layout.h"
#include "hx6_dbf_build.h"
#include "hx6_dbsy.h"

namespace {

constexpr int kRecords = 100000;

struct Logbook {
  std::string dir;
  std::string table;
  std::vector<std::string> stations;
};

// Builds the logbook once per process: the records are formatted by the engine and written in one
// stretch, then the seven tags are built.
const Logbook& TheLogbook() {
  static const Logbook book = [] {
    Logbook b;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "handler_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    b.dir = pattern;
    b.table = b.dir + "/LOG.DBF";
    {
      HXO_DB4Build builder(b.table);
      logbook_layout::AddLogbookFields(builder);
      builder.CreateFiles();
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> letter(0, 25), digit(0, 9);
    for (int i = 0; i < 5000; ++i) {
      std::string call;
      call += static_cast<char>('A' + letter(random));
      if (i % 2) call += static_cast<char>('A' + letter(random));
      call += static_cast<char>('0' + digit(random));
      call += static_cast<char>('A' + letter(random));
      call += static_cast<char>('A' + letter(random));
      b.stations.push_back(call);
    }
    const double bands[] = {160, 80, 40, 30, 20, 17, 15, 12, 10, 6, 2};
    std::string data;
    int recordLength = 0;
    {
      HXO_dBHandler h(b.table, false, true);
      recordLength = h.RecordLength();
      data.reserve(static_cast<size_t>(kRecords) * static_cast<size_t>(recordLength) + 1);
      for (int i = 0; i < kRecords; ++i) {
        h.BlankRecord();
        char date[9];
        std::snprintf(date, sizeof date, "%04d%02d%02d", 2000 + i / 5000, 1 + (i / 400) % 12,
                      1 + (i / 13) % 28);
        h.PutText("DATE", date);
        char time[7];
        std::snprintf(time, sizeof time, "%02d%02d%02d", (i / 3600) % 24, (i / 60) % 60, i % 60);
        h.PutText("TIME", time);
        h.PutFloat("NUMBER", i + 1);
        h.PutText("STATION", b.stations[static_cast<size_t>(random()) % b.stations.size()]);
        h.PutFloat("BAND", bands[random() % 11]);
        h.PutText("QTH", "QTH " + std::to_string(random() % 900));
        h.PutText("STATE", std::string(1, static_cast<char>('A' + letter(random))) +
                               static_cast<char>('A' + letter(random)));
        h.PutText("MODE", i % 3 ? "SSB" : "CW");
        h.PutText("RST", "59");
        data.append(h.RecordBuffer(), static_cast<size_t>(recordLength));
      }
    }
    // The builder's file ends with the end-of-file byte right at the header's end.
    const auto end = std::filesystem::file_size(b.table) - 1;
    {
      std::fstream f(b.table, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(static_cast<std::streamoff>(end));
      data.push_back('\x1A');
      f.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    HXO_dBHandler h(b.table, false, true);
    const char* tags[][2] = {
        {"DATE", "DTOS(DATE)+TIME"}, {"TIME", "(TIME)"}, {"STATION", "STATION"}, {"STATE", "STATE"},
        {"NUMBER", "NUMBER"},        {"QTH", "QTH"},     {"BAND", "BAND"}};
    for (auto& t : tags) h.CreateIndexTag("LOG.CDX", t[0], t[1], "", 1, 0);
    return b;
  }();
  return book;
}

void ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chunk(1 << 16);
  int64_t total = 0;
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
    total += in.gcount();
  benchmark::DoNotOptimize(total);
}

void BM_Floor_ReadWholeFile(benchmark::State& state) {
  const Logbook& b = TheLogbook();
  for (auto _ : state) ReadWholeFile(b.table);
}
BENCHMARK(BM_Floor_ReadWholeFile)->Unit(benchmark::kMillisecond);

void BM_OpenWithSevenTagsGoNewest(benchmark::State& state) {
  const Logbook& b = TheLogbook();
  for (auto _ : state) {
    HXO_dBHandler h(b.table, true, true);
    h.SetReadBuffer(false);
    h.SetIndexFiles("LOG.CDX", "DATE");
    h.GoTo(kGotoLast);
    benchmark::DoNotOptimize(h.RecNo());
  }
}
BENCHMARK(BM_OpenWithSevenTagsGoNewest)->Unit(benchmark::kMillisecond);

// The duplicate check as the logbook runs it on every keystroke: the filter on the station, then a
// Locate on station and band.
void BM_DuplicateCheck(benchmark::State& state) {
  const Logbook& b = TheLogbook();
  HXO_dBHandler h(b.table, true, true);
  h.SetReadBuffer(false);
  h.SetIndexFiles("LOG.CDX", "DATE");
  h.SetFilterActive(true);
  size_t i = 0;
  for (auto _ : state) {
    const std::string& station = b.stations[(i++ * 7919) % b.stations.size()];
    h.SetFilter("STATION = '" + station + "'", false, true);
    benchmark::DoNotOptimize(h.Locate("STATION;BAND", {station, std::string("20")}, false, false));
  }
}
BENCHMARK(BM_DuplicateCheck)->Unit(benchmark::kMillisecond);

// The Locate alone, with the station's filter already in force.
void BM_DuplicateCheckLocateOnly(benchmark::State& state) {
  const Logbook& b = TheLogbook();
  HXO_dBHandler h(b.table, true, true);
  h.SetReadBuffer(false);
  h.SetIndexFiles("LOG.CDX", "DATE");
  h.SetFilterActive(true);
  const std::string& station = b.stations[17];
  h.SetFilter("STATION = '" + station + "'", false, true);
  for (auto _ : state)
    benchmark::DoNotOptimize(h.Locate("STATION;BAND", {station, std::string("20")}, false, false));
}
BENCHMARK(BM_DuplicateCheckLocateOnly)->Unit(benchmark::kMicrosecond);

void BM_Reindex(benchmark::State& state) {
  const Logbook& b = TheLogbook();
  HXO_dBHandler h(b.table, false, true);
  h.SetIndexFiles("LOG.CDX", "DATE");
  for (auto _ : state) h.Reindex();
}
BENCHMARK(BM_Reindex)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Pack(benchmark::State& state) {
  const Logbook& b = TheLogbook();
  const std::string copy = b.dir + "/PACK.DBF";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(b.table, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(b.dir + "/LOG.CDX", b.dir + "/PACK.CDX",
                               std::filesystem::copy_options::overwrite_existing);
    {
      // One contact in ten marked deleted.
      HXO_dBHandler h(copy, false, true);
      for (int r = 5; r <= kRecords; r += 10) {
        h.GoTo(r);
        h.RecordBuffer()[0] = kRecordDeleted;
        h.HXO_DiskFile::Write(h.RecordOffset(r), h.RecordBuffer(), 1);
      }
    }
    HXO_dBHandler h(copy, false, true);
    h.SetIndexFiles("PACK.CDX", "DATE");
    state.ResumeTiming();
    h.Pack();
  }
}
BENCHMARK(BM_Pack)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
