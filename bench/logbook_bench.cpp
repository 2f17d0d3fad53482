// The engine on logbook-shaped data: the 27-field record and the seven-tag .cdx, at 100,000 and
// 1,000,000 contacts ($QM_BENCH_SIZES chooses), made once and kept in the build folder. What the
// operator waits for, each beside its floor measured in the same run:
//
//   Keystroke/<size>/{in,out}      what the program does on each change of the call-sign field,
//                                  through the data set opened shared with its seven tags: the
//                                  filter on STATION, Locate on "Station;Band", the last record;
//                                  for a call in the log and one that is not. Floor: reading the
//                                  table file once.
//   KeystrokeStarred/<size>        the same for a call of fewer than four characters once
//                                  filtering is on: the filter is the starred pattern, which the
//                                  language reads as "contains". Floor: reading the table once.
//   DuplicateCheck/<size>/{in,out} the handler's part of it: filter, then Locate. Floor: reading
//                                  the table once.
//   Open/<size>                    opening table and index shared, DATE order, newest contact.
//                                  Floor: opening both files and reading the table header, every
//                                  tag header and the last record.
//   Seek/<size>/{shared,exclusive} Find on the STATION tag. Floor: a binary search of the same
//                                  keys in memory plus reading the record found (plus, shared,
//                                  one read of the index header, what any reader must do to know
//                                  its pages are current).
//   Append/<size>/{shared,exclusive} appends with the seven tags open. Floor: the same appends to
//                                  the same table with no index open.
//   Append/<size>/{shared,exclusive}/pages  the same appends. Floor: what an append with seven
//                                  tags must at least do in this design, the table-only append
//                                  plus eight 512-byte page writes through the engine's disk
//                                  layer (a leaf per tag and the header's change counter) at
//                                  offsets of the index file, with no index logic. Both rows
//                                  carry both floors (table_only_us, pages_floor_us) and ratios.
//   AppendBesideAnother/<size>     an append while another program appends to the same logbook
//                                  every millisecond (seven tags open in both). Floor: the same
//                                  appends with no other program.
//   Filter/<size>                  the band filter (BAND =20), a scan. Floor: reading the table
//                                  once.
//   Reindex/<size>                 rebuilding the seven tags. Floor: one pass evaluating the
//                                  seven keys, a std::sort per tag, writing the same bytes.
//   Pack/<size>                    packing one deleted contact in ten (with the reindex). Floor:
//                                  reading the table once, writing the kept records, and the
//                                  reindex floor.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <functional>

#include "dataset/Sorl6db.h"
#include "dataset/Sorl6db_search.h"
#include "base/SysSorl.h"
#include "bench_support.h"

namespace {

using bench::Clock;
using bench::Logbook;
using bench::LogbookSet;
using bench::Report;
using bench::Seconds;

std::string Quoted(const std::string& call) {
  std::string q;
  for (char c : call) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q;
}

// The logbook data set as the program holds it: open shared, the .cdx opened, DATE selected,
// on the newest contact.
struct OpenLogbook {
  explicit OpenLogbook(const LogbookSet& set) {
    dbf1.SetTableName(set.table);
    dbf1.Open();
    OpenIndexList(dbf1, set.cdx, "DATE");
    SelectIndexTag(dbf1, "DATE");
    dbf1.Last();
  }
  // One change of the call-sign field; whether the duplicate warning comes up. From four
  // characters on the exact filter is set instead of the starred one (setting both would build
  // the starred filter's set on every keystroke only to replace it).
  bool CallChanged(const std::string& call, int band) {
    if (call.size() >= 4) {
      dbf1.SetFilter("STATION = '" + call + "'");
      dbf1.SetFiltered(true);
    } else {
      dbf1.SetFilter("STATION = '" + Quoted(call) + "*'");
    }
    const bool duplicate = dbf1.Locate("Station;Band", {TVarValue(call), TVarValue(band)}, 0);
    dbf1.Last();
    return duplicate;
  }
  TSorrelDataSet dbf1;
};

void Keystroke(benchmark::State& state, int64_t records, bool inLog) {
  const LogbookSet& set = Logbook(records);
  OpenLogbook log(set);
  log.dbf1.SetFiltered(true);
  const auto& calls = inLog ? set.presentCalls : set.absentCalls;
  size_t i = 0;
  double figure = 0;
  int64_t n = 0, duplicates = 0;
  for (auto _ : state) {
    const std::string& call = calls[i++ % calls.size()];
    const auto start = Clock::now();
    duplicates += log.CallChanged(call.size() >= 4 ? call : call + "/P", 20);
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    figure += t;
    ++n;
  }
  const double floor = bench::ReadFileOnce(set.table);
  Report(state, figure / static_cast<double>(n), floor);
  state.counters["duplicates"] = static_cast<double>(duplicates);
}

void KeystrokeStarred(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  OpenLogbook log(set);
  log.CallChanged(set.presentCalls[0], 20);  // filtering is on from the last full call
  size_t i = 0;
  double figure = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const std::string call = set.presentCalls[i++ % set.presentCalls.size()].substr(0, 3);
    const auto start = Clock::now();
    log.CallChanged(call, 20);
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    figure += t;
    ++n;
  }
  Report(state, figure / static_cast<double>(n), bench::ReadFileOnce(set.table));
}

void DuplicateCheck(benchmark::State& state, int64_t records, bool inLog) {
  const LogbookSet& set = Logbook(records);
  HXO_dBHandler h(set.table, true, true);
  h.SetReadBuffer(false);
  h.SetIndexFiles(set.cdx, "DATE");
  h.SetFilterActive(true);
  const auto& calls = inLog ? set.presentCalls : set.absentCalls;
  size_t i = 0;
  double figure = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const std::string& call = calls[i++ % calls.size()];
    const auto start = Clock::now();
    h.SetFilter("STATION = '" + call + "'", false, true);
    benchmark::DoNotOptimize(h.Locate("STATION;BAND", {call, std::string("20")}, false, false));
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    figure += t;
    ++n;
  }
  Report(state, figure / static_cast<double>(n), bench::ReadFileOnce(set.table));
}

void Open(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  double figure = 0, floor = 0;
  int64_t n = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    {
      HXO_dBHandler h(set.table, true, true);
      h.SetReadBuffer(false);
      h.SetIndexFiles(set.cdx, "DATE");
      h.GoTo(kGotoLast);
      benchmark::DoNotOptimize(h.RecNo());
    }
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    figure += t;
    start = Clock::now();
    {
      std::vector<char> bytes(1024);
      const int table = open(set.table.c_str(), O_RDWR | O_CLOEXEC);
      const int index = open(set.cdx.c_str(), O_RDWR | O_CLOEXEC);
      bool ok = pread(table, bytes.data(), 32, 0) == 32;
      ok = ok && pread(table, bytes.data(), static_cast<size_t>(set.headerLength), 0) > 0;
      for (int tag = 0; tag <= 7 && ok; ++tag)
        ok = pread(index, bytes.data(), 1024, tag == 0 ? 0 : 1024 * (2 * tag - 1)) > 0;
      ok = ok && pread(table, bytes.data(), static_cast<size_t>(set.recordLength),
                       set.headerLength + (records - 1) * set.recordLength) > 0;
      benchmark::DoNotOptimize(ok);
      close(index);
      close(table);
    }
    floor += Seconds(Clock::now() - start);
    ++n;
  }
  Report(state, figure / static_cast<double>(n), floor / static_cast<double>(n));
}

void Seek(benchmark::State& state, int64_t records, bool shared) {
  const LogbookSet& set = Logbook(records);
  // The floor's keys: every station of the table, sorted in memory.
  std::vector<std::pair<std::string, int32_t>> keys;
  {
    HXO_dBHandler reader(set.table, true, false);
    const ThxFieldInfo& f = reader.FieldInfo(reader.FieldNumber("STATION"));
    const int length = reader.RecordLength();
    std::vector<char> all(static_cast<size_t>(records) * static_cast<size_t>(length));
    reader.HXO_DiskFile::Read(reader.RecordOffset(1), all.data(), static_cast<int32_t>(all.size()));
    keys.reserve(static_cast<size_t>(records));
    for (int64_t r = 0; r < records; ++r) {
      std::string k(all.data() + r * length + f.offset, static_cast<size_t>(f.length));
      while (!k.empty() && k.back() == ' ') k.pop_back();
      keys.emplace_back(std::move(k), static_cast<int32_t>(r + 1));
    }
    std::sort(keys.begin(), keys.end());
  }
  HXO_dBHandler h(set.table, shared, true);
  h.SetReadBuffer(false);
  h.SetIndexFiles(set.cdx, "STATION");
  std::mt19937 rng(3);
  std::vector<std::string> asked;
  for (int i = 0; i < 4096; ++i) asked.push_back(keys[rng() % keys.size()].first);
  const int table = open(set.table.c_str(), O_RDONLY | O_CLOEXEC);
  const int index = open(set.cdx.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<char> bytes(512);
  size_t i = 0;
  double figure = 0, floor = 0;
  int64_t n = 0, found = 0;
  for (auto _ : state) {
    const std::string& key = asked[i++ % asked.size()];
    auto start = Clock::now();
    found += h.Find(key);
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    figure += t;
    start = Clock::now();
    if (shared && pread(index, bytes.data(), 512, 0) != 512) std::abort();
    const auto at = std::lower_bound(keys.begin(), keys.end(), std::make_pair(key, int32_t{0}));
    if (pread(table, bytes.data(), static_cast<size_t>(set.recordLength),
              set.headerLength + (at->second - 1) * set.recordLength) < 0)
      std::abort();
    floor += Seconds(Clock::now() - start);
    ++n;
  }
  close(index);
  close(table);
  Report(state, figure / static_cast<double>(n), floor / static_cast<double>(n));
  state.counters["found"] = static_cast<double>(found);
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Copies of the data set for a benchmark that changes it.
struct Copy {
  explicit Copy(const LogbookSet& set) {
    std::filesystem::copy_file(set.table, table);
    std::filesystem::copy_file(set.cdx, cdx);
  }
  bench::ScratchDir dir;
  std::string table = dir.File("LOG.DBF");
  std::string cdx = dir.File("LOG.CDX");
};

// Contacts as record images, made before the clock starts.
std::vector<std::string> Contacts(const LogbookSet& set, int count, int64_t first) {
  const std::vector<std::string> calls = bench::CallPool(500, 17);
  std::mt19937 rng(9);
  HXO_dBHandler h(set.table, true, false);
  std::vector<std::string> images;
  for (int i = 0; i < count; ++i) {
    bench::FillContact(h, rng, calls, first + i);
    images.emplace_back(h.RecordBuffer(), static_cast<size_t>(h.RecordLength()));
  }
  return images;
}

// Appends with the seven tags open, beside two floors measured in the same run: the same
// appends to the table alone, and those plus eight 512-byte page writes each (the least any
// append that keeps seven tags current writes: one leaf per tag and the header with its change
// counter), made through the engine's disk layer at offsets spread over a copy of the index
// file. `pagesFloor` picks the floor the row's ratio divides by; both are reported.
void Append(benchmark::State& state, int64_t records, bool shared, bool pagesFloor) {
  const LogbookSet& set = Logbook(records);
  constexpr int kAppends = 2000;
  constexpr int kPageWrites = 8;
  constexpr int kPage = 512;
  const std::vector<std::string> contacts = Contacts(set, 2 * kAppends, records);
  double figure = 0, figureCpu = 0, tableOnly = 0, pageWrites = 0;
  auto append = [](HXO_dBHandler& h, const std::string& image) {
    h.BlankRecord();
    std::memcpy(h.RecordBuffer(), image.data(), image.size());
    h.AppendRecord();
  };
  std::mt19937 rng(21);
  for (auto _ : state) {
    Copy copy(set);
    const std::string pagesFile = copy.dir.File("PAGES.CDX");
    std::filesystem::copy_file(set.cdx, pagesFile);
    const auto blocks = static_cast<uint32_t>(std::filesystem::file_size(pagesFile) / kPage);
    {
      HXO_dBHandler h(copy.table, shared, true);
      HXO_DiskFile pages(pagesFile, shared, true);
      pages.Open();
      std::vector<char> page(kPage);
      pages.Read(0, page.data(), kPage);
      for (int i = 0; i < kAppends; ++i) {
        int64_t at[kPageWrites];
        at[kPageWrites - 1] = 0;  // the header, written last as the change counter is
        for (int p = 0; p + 1 < kPageWrites; ++p) at[p] = int64_t{kPage} * (2 + rng() % (blocks - 2));
        const auto start = Clock::now();
        append(h, contacts[static_cast<size_t>(i)]);
        const auto appended = Clock::now();
        for (const int64_t offset : at) pages.Write(offset, page.data(), kPage);
        const auto written = Clock::now();
        tableOnly += Seconds(appended - start);
        pageWrites += Seconds(written - appended);
      }
    }
    {
      HXO_dBHandler h(copy.table, shared, true);
      h.SetIndexFiles(copy.cdx, "DATE");
      h.GoTo(kGotoLast);
      const double cpuStart = ThreadCpuSeconds();
      const auto start = Clock::now();
      for (int i = kAppends; i < 2 * kAppends; ++i) append(h, contacts[static_cast<size_t>(i)]);
      const double t = Seconds(Clock::now() - start);
      figureCpu += ThreadCpuSeconds() - cpuStart;
      state.SetIterationTime(t);
      figure += t;
    }
  }
  const double appends = static_cast<double>(state.iterations()) * kAppends;
  // Processor time of the appending thread (user and system), less disturbed than the figure
  // by other work on the machine.
  state.counters["figure_cpu_us"] = figureCpu / appends * 1e6;
  const double tableFloor = tableOnly / appends;
  const double pageFloor = (tableOnly + pageWrites) / appends;
  const double perAppend = figure / appends;
  Report(state, perAppend, pagesFloor ? pageFloor : tableFloor);
  state.counters["table_only_us"] = tableFloor * 1e6;
  state.counters["pages_floor_us"] = pageFloor * 1e6;
  state.counters["ratio_table_only"] = perAppend / tableFloor;
  state.counters["ratio_pages"] = perAppend / pageFloor;
}

// Two programs logging into one logbook, each with the seven tags open: one appends a contact
// every millisecond or so, the other one every few milliseconds. The figure is how long the second one's
// append takes (mean; p50 and max beside it), the floor the same appends with no other program.
void AppendBesideAnotherProgram(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  constexpr int kTimed = 100;
  const std::vector<std::string> contacts = Contacts(set, 2 * kTimed + 20000, records);
  auto append = [&](HXO_dBHandler& h, size_t i) {
    h.BlankRecord();
    std::memcpy(h.RecordBuffer(), contacts[i].data(), contacts[i].size());
    h.AppendRecord();
  };
  double figure = 0, floor = 0;
  std::vector<double> waits;
  for (auto _ : state) {
    Copy copy(set);
    HXO_dBHandler h(copy.table, true, true);
    h.SetIndexFiles(copy.cdx, "DATE");
    for (int i = 0; i < kTimed; ++i) {
      const auto start = Clock::now();
      append(h, static_cast<size_t>(i));
      floor += Seconds(Clock::now() - start);
      SysSleep(2);
    }
    const pid_t child = fork();
    if (child == 0) {
      HXO_dBHandler other(copy.table, true, true);
      other.SetIndexFiles(copy.cdx, "DATE");
      for (size_t i = 2 * kTimed; i < contacts.size(); ++i) {
        append(other, i);
        SysSleep(1);
      }
      _exit(0);
    }
    SysSleep(20);  // the other program is under way
    double total = 0;
    for (int i = kTimed; i < 2 * kTimed; ++i) {
      const auto start = Clock::now();
      append(h, static_cast<size_t>(i));
      const double t = Seconds(Clock::now() - start);
      waits.push_back(t);
      total += t;
      SysSleep(2);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    state.SetIterationTime(total);
    figure += total;
  }
  const double n = static_cast<double>(state.iterations()) * kTimed;
  Report(state, figure / n, floor / n);
  std::sort(waits.begin(), waits.end());
  state.counters["p50_us"] = waits[waits.size() / 2] * 1e6;
  state.counters["max_us"] = waits.back() * 1e6;
}

void Filter(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  HXO_dBHandler h(set.table, true, true);
  h.SetReadBuffer(false);
  h.SetIndexFiles(set.cdx, "DATE");
  h.SetFilterActive(true);
  const char* const bands[] = {"20", "40", "80", "15"};
  size_t i = 0;
  double figure = 0, floor = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    h.SetFilter(std::string("BAND =") + bands[i++ % 4], false, true);
    const double t = Seconds(Clock::now() - start);
    state.SetIterationTime(t);
    figure += t;
    floor += bench::ReadFileOnce(set.table);
    ++n;
  }
  Report(state, figure / static_cast<double>(n), floor / static_cast<double>(n));
}

void Reindex(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  Copy copy(set);
  double figure = 0, floor = 0;
  for (auto _ : state) {
    {
      HXO_dBHandler h(copy.table, false, true);
      h.SetIndexFiles(copy.cdx, "DATE");
      const auto start = Clock::now();
      h.Reindex();
      const double t = Seconds(Clock::now() - start);
      state.SetIterationTime(t);
      figure += t;
    }
    floor += bench::BuildFloor(copy.table, copy.cdx, copy.dir.File("FLOOR.BIN"));
  }
  const double n = static_cast<double>(state.iterations());
  Report(state, figure / n, floor / n);
}

void Pack(benchmark::State& state, int64_t records) {
  const LogbookSet& set = Logbook(records);
  double figure = 0, floor = 0;
  for (auto _ : state) {
    Copy copy(set);
    {
      // One contact in ten marked deleted.
      HXO_dBHandler h(copy.table, false, true);
      for (int64_t r = 5; r <= records; r += 10) {
        const char deleted = kRecordDeleted;
        h.HXO_DiskFile::Write(h.RecordOffset(static_cast<int32_t>(r)), &deleted, 1);
      }
    }
    {
      HXO_dBHandler h(copy.table, false, true);
      h.SetIndexFiles(copy.cdx, "DATE");
      const auto start = Clock::now();
      h.Pack();
      const double t = Seconds(Clock::now() - start);
      state.SetIterationTime(t);
      figure += t;
    }
    // The floor: the table read once and the kept records written once, then the build floor.
    const auto start = Clock::now();
    {
      const int in = open(set.table.c_str(), O_RDONLY | O_CLOEXEC);
      const int out = open(copy.dir.File("PACKED.BIN").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      std::vector<char> chunk(static_cast<size_t>(set.recordLength) * 2048);
      int64_t written = 0;
      for (ssize_t got; (got = read(in, chunk.data(), chunk.size())) > 0;) {
        const ssize_t kept = got - got / 10;
        if (write(out, chunk.data(), static_cast<size_t>(kept)) != kept) std::abort();
        written += kept;
      }
      benchmark::DoNotOptimize(written);
      close(out);
      close(in);
    }
    floor += Seconds(Clock::now() - start) +
             bench::BuildFloor(copy.table, copy.cdx, copy.dir.File("FLOOR.BIN"));
  }
  const double n = static_cast<double>(state.iterations());
  Report(state, figure / n, floor / n);
}

void Register() {
  for (const int64_t records : bench::Sizes()) {
    const std::string size = bench::SizeName(records);
    const bool big = records >= 500000;
    auto add = [](const std::string& name, std::function<void(benchmark::State&)> fn) {
      return benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State& s) { fn(s); })
          ->UseManualTime();
    };
    add("Keystroke/" + size + "/in", [=](auto& s) { Keystroke(s, records, true); })
        ->Unit(benchmark::kMicrosecond);
    add("Keystroke/" + size + "/out", [=](auto& s) { Keystroke(s, records, false); })
        ->Unit(benchmark::kMicrosecond);
    add("KeystrokeStarred/" + size, [=](auto& s) { KeystrokeStarred(s, records); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(big ? 5 : 20);
    add("DuplicateCheck/" + size + "/in", [=](auto& s) { DuplicateCheck(s, records, true); })
        ->Unit(benchmark::kMicrosecond);
    add("DuplicateCheck/" + size + "/out", [=](auto& s) { DuplicateCheck(s, records, false); })
        ->Unit(benchmark::kMicrosecond);
    add("Open/" + size, [=](auto& s) { Open(s, records); })->Unit(benchmark::kMicrosecond);
    add("Seek/" + size + "/shared", [=](auto& s) { Seek(s, records, true); })
        ->Unit(benchmark::kMicrosecond);
    add("Seek/" + size + "/exclusive", [=](auto& s) { Seek(s, records, false); })
        ->Unit(benchmark::kMicrosecond);
    for (const bool shared : {true, false}) {
      const std::string mode = shared ? "/shared" : "/exclusive";
      add("Append/" + size + mode, [=](auto& s) { Append(s, records, shared, false); })
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
      add("Append/" + size + mode + "/pages", [=](auto& s) { Append(s, records, shared, true); })
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
    add("AppendBesideAnother/" + size, [=](auto& s) { AppendBesideAnotherProgram(s, records); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    add("Filter/" + size, [=](auto& s) { Filter(s, records); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(big ? 3 : 10);
    add("Reindex/" + size, [=](auto& s) { Reindex(s, records); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    add("Pack/" + size, [=](auto& s) { Pack(s, records); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
