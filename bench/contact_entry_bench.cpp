// Contact entry on big logbooks, through the logbook's own logic without its widgets:
//   Keystroke/<size>/dup   what a change of the call-sign field does (CheckDuplicate: the filter
//                          on the station, Locate on "Station;Band", the last record) for a call
//                          logged before on that band: the duplicate verdict;
//   Keystroke/<size>/new   the same for a call never logged;
//   LogIt/<size>           Log It to the record on disk (LogContact: the highest number of the
//                          logbook, the append with the seven tags kept current, the post), with
//                          the filter of the call just typed in force, on a copy of the logbook.
// The logbook is open as the program leaves it after opening: shared, its seven tags open, DATE
// order, on the newest contact. The floor of each figure is reading the table file once, measured
// in the same run; counters figure_us, floor_us and ratio (figure / floor).
//
// The logbooks (100,000 and 1,000,000 contacts; QM_BENCH_SIZES="100000" picks sizes) are made on
// the first run and kept in bench-data beside the program's folder (build/bench-data), or in
// $QM_BENCH_DATA.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dataset/Sorl6db.h"
#include "base/byteorder.h"
#include "clock_time.h"
#include "contact_entry.h"
#include "table/hx6_dbf_fld.h"
#include "logbook_fileset.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Report(benchmark::State& state, double figure, double floor) {
  state.counters["figure_us"] = figure * 1e6;
  state.counters["floor_us"] = floor * 1e6;
  state.counters["ratio"] = floor > 0 ? figure / floor : 0.0;
}

std::string DataFolder() {
  if (const char* d = std::getenv("QM_BENCH_DATA"); d && *d) return d;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ((ec ? fs::temp_directory_path() : self.parent_path().parent_path()) / "bench-data").string();
}

struct Call {
  std::string station;
  int band;
};

// A logbook of `records` contacts and the calls to type into it.
struct BenchLogbook {
  std::string table;
  std::vector<Call> logged;  // (station, band) pairs the logbook holds
  std::vector<Call> fresh;   // stations it does not hold
};

constexpr int kBands[] = {160, 80, 40, 30, 20, 17, 15, 12, 10, 6, 2};

std::string CallOf(std::mt19937& rng) {
  static const char* const prefixes[] = {"W", "K", "N", "AA", "DL", "G", "VE", "JA", "VK", "F", "EA", "I"};
  std::string call = prefixes[rng() % std::size(prefixes)];
  call += static_cast<char>('0' + rng() % 10);
  for (int i = 0, n = 2 + int(rng() % 2); i < n; ++i) call += static_cast<char>('A' + rng() % 26);
  return call;
}

// Writes the table through the engine's field layer (one record image per contact, written in
// bulk), then builds the seven tags the program's way.
void MakeLogbook(const std::string& path, int64_t records, std::vector<Call>& logged) {
  if (!quillmere::CreateLogbookTable(path, quillmere::LogbookFieldLines(), {})) std::abort();
  std::mt19937 rng(20240309);
  std::vector<std::string> pool(static_cast<size_t>(std::max<int64_t>(records / 4, 16)));
  for (std::string& call : pool) call = CallOf(rng);
  std::vector<char> bulk;
  int64_t header = 0;
  {
    HXO_dBaseFld t(path, false, true);
    const int length = t.RecordLength();
    header = t.HeaderLength();
    bulk.reserve(static_cast<size_t>(records * length + 1));
    for (int64_t i = 0; i < records; ++i) {
      const std::string& call = pool[rng() % pool.size()];
      const int band = kBands[rng() % std::size(kBands)];
      char time[8];
      std::snprintf(time, sizeof time, "%02d:%02d", int(i / 60 % 24), int(i % 60));
      t.BlankRecord();
      t.PutDate("DATE", 2455198 + static_cast<int32_t>(i * 3650 / records));
      t.PutString("TIME", time);
      t.PutFloat("NUMBER", static_cast<double>(i + 1));
      t.PutString("STATION", call);
      t.PutFloat("BAND", band);
      t.PutString("QTH", "CITY" + std::to_string(rng() % 5000));
      t.PutString("NRSENT", "59");
      t.PutString("NRRCVD", "59");
      t.PutString("SPARE1", "NAME" + std::to_string(rng() % 900));
      t.PutString("MODE", "USB");
      t.PutString("FREQ", "14.2000");
      t.PutString("OPERATR", "W1ABC");
      bulk.insert(bulk.end(), t.RecordBuffer(), t.RecordBuffer() + length);
      if (i % std::max<int64_t>(records / 64, 1) == 0) logged.push_back({call, band});
    }
  }
  bulk.push_back(0x1A);
  const int fd = open(path.c_str(), O_RDWR);
  uint8_t count[4];
  EncodeLE32(count, static_cast<uint32_t>(records));
  if (fd < 0 || pwrite(fd, bulk.data(), bulk.size(), header) != static_cast<ssize_t>(bulk.size()) ||
      pwrite(fd, count, 4, 4) != 4 || ftruncate(fd, header + static_cast<off_t>(bulk.size())) != 0)
    std::abort();
  close(fd);
  TSorrelDataSet dbf1;
  dbf1.SetTableName(path);
  dbf1.Open();
  quillmere::BuildLogbookTags(dbf1, path);
}

// The logbook of `records` contacts, made on the first run (a stamp marks it complete).
const BenchLogbook& Logbook(int64_t records) {
  static std::map<int64_t, BenchLogbook> made;
  BenchLogbook& book = made[records];
  if (!book.table.empty()) return book;
  fs::create_directories(DataFolder());
  const std::string base = DataFolder() + "/entry" + std::to_string(records);
  book.table = base + ".dbf";
  const std::string stamp = base + ".calls";
  if (!fs::exists(stamp)) {
    std::fprintf(stderr, "making %s (%lld contacts, once) ...\n", book.table.c_str(), static_cast<long long>(records));
    fs::remove(book.table);
    fs::remove(quillmere::LogbookIndexPath(book.table));
    std::vector<Call> logged;
    MakeLogbook(book.table, records, logged);
    std::ofstream out(stamp + ".new");
    for (const Call& c : logged) out << c.station << ' ' << c.band << '\n';
    out.close();
    fs::rename(stamp + ".new", stamp);
  }
  std::ifstream in(stamp);
  Call c;
  while (in >> c.station >> c.band) book.logged.push_back(c);
  std::mt19937 rng(7);
  for (int i = 0; i < 64; ++i) book.fresh.push_back({"QQ" + CallOf(rng), 20});  // no logged call begins QQ
  return book;
}

// Reading the table file once (the best of three, so the page cache holds it as it holds the
// table during the figure).
double ReadTableOnce(const std::string& path) {
  std::vector<char> buffer(1 << 20);
  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    const auto start = Clock::now();
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    int64_t total = 0;
    for (ssize_t n; (n = read(fd, buffer.data(), buffer.size())) > 0;) total += n;
    close(fd);
    benchmark::DoNotOptimize(total);
    best = std::min(best, Seconds(Clock::now() - start));
  }
  return best;
}

// The data set as the program leaves it after opening a logbook.
void OpenAsTheProgramDoes(TSorrelDataSet& dbf1, const std::string& path) {
  dbf1.SetTableName(path);
  dbf1.SetIndexFiles({quillmere::LogbookIndexPath(path)});
  dbf1.SetIndexName("DATE");
  dbf1.Open();
  dbf1.Last();
}

void Keystroke(benchmark::State& state, int64_t records, bool duplicate) {
  const BenchLogbook& book = Logbook(records);
  TSorrelDataSet dbf1;
  OpenAsTheProgramDoes(dbf1, book.table);
  const std::vector<Call>& calls = duplicate ? book.logged : book.fresh;
  size_t i = 0;
  int64_t found = 0;
  double total = 0;
  for (auto _ : state) {
    const Call& call = calls[i++ % calls.size()];
    const auto start = Clock::now();
    found += quillmere::CheckDuplicate(dbf1, call.station, call.band).Found;
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    total += t;
  }
  // Every logged call must be found and no fresh one, or the figure measures the wrong thing.
  if (found != (duplicate ? state.iterations() : 0)) state.SkipWithError("wrong duplicate verdicts");
  Report(state, total / double(state.iterations()), ReadTableOnce(book.table));
}

void LogIt(benchmark::State& state, int64_t records) {
  const BenchLogbook& book = Logbook(records);
  // A copy, so the kept logbook stays as it was made.
  const std::string copy = DataFolder() + "/logit" + std::to_string(records) + ".dbf";
  fs::copy_file(book.table, copy, fs::copy_options::overwrite_existing);
  fs::copy_file(quillmere::LogbookIndexPath(book.table), quillmere::LogbookIndexPath(copy),
                fs::copy_options::overwrite_existing);
  double total = 0;
  {
    TSorrelDataSet dbf1;
    OpenAsTheProgramDoes(dbf1, copy);
    quillmere::TContactEntry entry;
    entry.Station = book.logged.front().station;
    entry.Band = std::to_string(book.logged.front().band);
    entry.Sent = entry.Received = "59";
    entry.Mode = "USB";
    entry.Frequency = "14.2000";
    entry.Operator = "W1ABC";
    quillmere::CheckDuplicate(dbf1, entry.Station, book.logged.front().band);
    const quillmere::TDateTime utc = quillmere::EncodeDateTime({2024, 3, 9, 12, 0});
    int64_t last = 0;
    for (auto _ : state) {
      const auto start = Clock::now();
      const int64_t number = quillmere::LogContact(dbf1, copy, entry, utc).Number;
      const double t = Seconds(Clock::now() - start);
      state.SetIterationTime(t);
      total += t;
      if (last != 0 && number != last + 1) state.SkipWithError("numbers out of step");
      last = number;
    }
  }
  const double floor = ReadTableOnce(copy);
  fs::remove(copy);
  fs::remove(quillmere::LogbookIndexPath(copy));
  Report(state, total / double(state.iterations()), floor);
}

std::vector<int64_t> Sizes() {
  std::vector<int64_t> sizes;
  std::string list = "100000,1000000";
  if (const char* v = std::getenv("QM_BENCH_SIZES"); v && *v) list = v;
  for (size_t at = 0; at < list.size();) {
    const size_t comma = std::min(list.find(',', at), list.size());
    sizes.push_back(std::atoll(list.substr(at, comma - at).c_str()));
    at = comma + 1;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const int64_t records : Sizes()) {
    const std::string size = std::to_string(records);
    benchmark::RegisterBenchmark(("Keystroke/" + size + "/dup").c_str(),
                                 [=](benchmark::State& s) { Keystroke(s, records, true); })
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("Keystroke/" + size + "/new").c_str(),
                                 [=](benchmark::State& s) { Keystroke(s, records, false); })
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("LogIt/" + size).c_str(), [=](benchmark::State& s) { LogIt(s, records); })
        ->UseManualTime()
        ->Unit(benchmark::kMicrosecond)
        ->Iterations(64);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
