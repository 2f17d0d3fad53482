// What the engine benchmarks share: the counters every benchmark reports, the logbook data sets
// (made once, kept in the build folder), temporary folders beside them, and the floors measured
// in the same run.
//
// Counters: every benchmark reports `figure_us` (its own time per operation), `floor_us` (the
// least that operation can cost, measured in the same run: reading the table once, a raw write,
// a sort in memory) and `ratio` (figure over floor). They are set per run, so each repetition of
// --benchmark_repetitions prints its own ratio and the aggregate rows give their mean and median.
// scripts/bench.sh gathers them into one table.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../tests/engine/support/logbook_layout.h"
#include "base/byteorder.h"
#include "table/hx6_dbf_build.h"
#include "handler/hx6_dbsy.h"
#include "expr/hx6_sql.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Sets the three counters of a run from seconds per operation.
inline void Report(benchmark::State& state, double figureSeconds, double floorSeconds) {
  state.counters["figure_us"] = figureSeconds * 1e6;
  state.counters["floor_us"] = floorSeconds * 1e6;
  state.counters["ratio"] = floorSeconds > 0 ? figureSeconds / floorSeconds : 0.0;
}

// Where the data sets are kept: $QM_BENCH_DATA, else bench-data beside the folder of the running
// program (build/bench-data for build/bin).
inline std::string DataFolder() {
  if (const char* d = std::getenv("QM_BENCH_DATA"); d && *d) return d;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path base = ec ? std::filesystem::temp_directory_path()
                                        : self.parent_path().parent_path();
  return (base / "bench-data").string();
}

// A folder for one benchmark's copies, inside the data folder (the same file system, so copies
// of a big table are cheap); removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::filesystem::create_directories(DataFolder());
    std::string pattern = DataFolder() + "/scratch_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The logbook's seven tags, in the order the program builds them.
inline const std::vector<std::pair<std::string, std::string>>& LogbookTags() {
  static const std::vector<std::pair<std::string, std::string>> tags = {
      {"DATE", "DTOS(DATE)+TIME"}, {"TIME", "(TIME)"}, {"STATION", "STATION"}, {"STATE", "STATE"},
      {"NUMBER", "NUMBER"},        {"QTH", "QTH"},     {"BAND", "BAND"}};
  return tags;
}

// The logbook's 27 fields, as the program's table creator defines them.
inline void AddLogbookFields(HXO_DB4Build& builder) { logbook_layout::AddLogbookFields(builder); }

// A contact as Log It writes one: every field the program fills, the date and time moving on
// with the contact's number, the station drawn from `calls` with a few stations worked often.
inline void FillContact(HXO_dBHandler& h, std::mt19937& rng, const std::vector<std::string>& calls,
                        int64_t n) {
  static const double bands[] = {160, 80, 40, 30, 20, 17, 15, 12, 10, 6, 2};
  static const char* const modes[] = {"SSB", "CW", "PSK", "FM", "USB", "LSB"};
  static const char* const states[] = {"CT", "NY", "TX", "CA", "MA", "OH", "FL", "WA", "", "ME"};
  h.BlankRecord();
  // Ten years of contacts, in order.
  const int32_t day = 2455198 + static_cast<int32_t>(n * 3650 / 1000000);
  h.PutDate("DATE", day);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(n / 60 % 24),
                static_cast<int>(n % 60));
  h.PutText("TIME", text);
  h.PutFloat("NUMBER", static_cast<double>(n + 1));
  // Squaring the draw makes the first stations of the list the often-worked ones.
  const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
  const std::string& call = calls[static_cast<size_t>(u * u * static_cast<double>(calls.size()))];
  h.PutText("STATION", call);
  h.PutFloat("BAND", bands[rng() % 11]);
  h.PutText("QTH", "QTH " + std::to_string(rng() % 5000));
  h.PutText("RST", "59");
  h.PutText("NRSENT", "59");
  h.PutText("NRRCVD", "59");
  h.PutText("SPARE1", "Op " + std::to_string(rng() % 900));
  h.PutText("MODE", modes[rng() % 6]);
  h.PutText("PREFIX", call.substr(0, 2));
  h.PutText("STATE", states[rng() % 10]);
  h.PutText("CQZONE", std::to_string(1 + rng() % 40));
  h.PutText("ITUZONE", std::to_string(1 + rng() % 75));
  if (rng() % 4 == 0) h.PutText("REMARK", "QSL via bureau, 73 and thanks for the contact");
  std::snprintf(text, sizeof text, "14.%03d", static_cast<int>(rng() % 350));
  h.PutText("FREQ", text);
  h.PutText("OPERATR", "N0OP");
  h.PutText("TXPWR", "100");
  h.PutText("GRIDSQR", "FN31pr");
}

// `count` distinct call signs.
inline std::vector<std::string> CallPool(size_t count, uint32_t seed) {
  static const char* const prefixes[] = {"W", "K", "N", "AA", "DL", "G", "VE", "JA", "VK", "F",
                                         "EA", "I", "ON", "PA", "SM", "OH", "LA", "OK", "SP", "UA"};
  std::mt19937 rng(seed);
  std::set<std::string> seen;
  std::vector<std::string> calls;
  while (calls.size() < count) {
    std::string call = prefixes[rng() % 20];
    call += static_cast<char>('0' + rng() % 10);
    for (int i = 1 + static_cast<int>(rng() % 3); i > 0; --i)
      call += static_cast<char>('A' + rng() % 26);
    if (seen.insert(call).second) calls.push_back(call);
  }
  return calls;
}

// A logbook of `records` contacts with its seven-tag .cdx.
struct LogbookSet {
  int64_t records = 0;
  std::string table;  // full path of the .dbf
  std::string cdx;    // full path of the .cdx
  std::vector<std::string> presentCalls;  // stations in the log
  std::vector<std::string> absentCalls;   // stations never worked
  int recordLength = 0;
  int64_t headerLength = 0;
};

// Makes the data set once and keeps it under the data folder; later runs find it there (a stamp
// file names how it was made, and a data set made otherwise is made again).
inline const LogbookSet& Logbook(int64_t records) {
  static std::map<int64_t, LogbookSet> sets;
  auto found = sets.find(records);
  if (found != sets.end()) return found->second;
  LogbookSet s;
  s.records = records;
  const std::string folder = DataFolder() + "/logbook_" + std::to_string(records);
  s.table = folder + "/LOG.DBF";
  s.cdx = folder + "/LOG.CDX";
  const std::string stamp = folder + "/made-by";
  const std::string how = "logbook v1 " + std::to_string(records);
  std::string made;
  std::getline(std::ifstream(stamp), made);
  if (made != how) {
    std::fprintf(stderr, "making the %lld-contact logbook in %s ...\n",
                 static_cast<long long>(records), folder.c_str());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::vector<std::string> pool = CallPool(static_cast<size_t>(records / 5 + 100), 11);
    {
      HXO_DB4Build builder(s.table);
      AddLogbookFields(builder);
      builder.CreateFiles();
    }
    std::string data;
    int length = 0;
    int64_t header = 0;
    {
      HXO_dBHandler h(s.table, false, true);
      length = h.RecordLength();
      header = h.HeaderLength();
      data.reserve(static_cast<size_t>(records) * static_cast<size_t>(length) + 1);
      std::mt19937 rng(5);
      for (int64_t n = 0; n < records; ++n) {
        FillContact(h, rng, pool, n);
        data.append(h.RecordBuffer(), static_cast<size_t>(length));
      }
    }
    data.push_back('\x1A');
    {
      // The records in one stretch after the header, and the count in the header.
      std::fstream f(s.table, std::ios::in | std::ios::out | std::ios::binary);
      uint8_t count[4];
      EncodeLE32(count, static_cast<uint32_t>(records));
      f.seekp(4);
      f.write(reinterpret_cast<const char*>(count), 4);
      f.seekp(static_cast<std::streamoff>(header));
      f.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    {
      HXO_dBHandler h(s.table, false, true);
      for (const auto& [tag, key] : LogbookTags()) h.CreateIndexTag(s.cdx, tag, key, "", 1, 0);
    }
    std::ofstream(stamp) << how << "\n";
  }
  {
    HXO_dBHandler h(s.table, false, false);
    s.recordLength = h.RecordLength();
    s.headerLength = h.HeaderLength();
    // Stations in the log: one from every stretch of the file, found by reading it.
    std::set<std::string> present;
    for (int64_t r = 1; r <= records && present.size() < 1000; r += std::max<int64_t>(1, records / 1000)) {
      h.GoTo(static_cast<int32_t>(r));
      std::string call = h.GetString("STATION");
      while (!call.empty() && call.back() == ' ') call.pop_back();
      if (present.insert(call).second) s.presentCalls.push_back(call);
    }
  }
  // Never worked: calls of a shape the pool does not make.
  for (int i = 0; i < 1000; ++i) s.absentCalls.push_back("ZZ" + std::to_string(i) + "QQ");
  return sets.emplace(records, std::move(s)).first->second;
}

// "100k", "1M": a size as benchmark names show it.
inline std::string SizeName(int64_t records) {
  if (records >= 1000000 && records % 1000000 == 0) return std::to_string(records / 1000000) + "M";
  if (records >= 1000 && records % 1000 == 0) return std::to_string(records / 1000) + "k";
  return std::to_string(records);
}

// The sizes to run: $QM_BENCH_SIZES ("100000,1000000" by default).
inline std::vector<int64_t> Sizes() {
  std::string list = "100000,1000000";
  if (const char* v = std::getenv("QM_BENCH_SIZES"); v && *v) list = v;
  std::vector<int64_t> sizes;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) sizes.push_back(std::atoll(list.substr(start, end - start).c_str()));
    start = end + 1;
  }
  return sizes;
}

// Floor: reading the whole file once, in large pieces; seconds.
inline double ReadFileOnce(const std::string& path) {
  const auto start = Clock::now();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::vector<char> chunk(1 << 20);
  int64_t total = 0;
  for (ssize_t n; (n = read(fd, chunk.data(), chunk.size())) > 0;) total += n;
  close(fd);
  benchmark::DoNotOptimize(total);
  return Seconds(Clock::now() - start);
}

// Floor of building the seven tags: one pass over the table evaluating the seven keys, a
// std::sort of each tag's (key, record) pairs, and the bytes of the built index file `index`
// written again, 512 at a time, into `scratch`; seconds.
inline double BuildFloor(const std::string& table, const std::string& index,
                         const std::string& scratch) {
  std::string bytes;
  {
    std::ifstream in(index, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  bytes.resize((bytes.size() + 511) / 512 * 512, '\0');
  const auto start = Clock::now();
  HXO_dBHandler h(table, false, false);
  const auto& tags = LogbookTags();
  std::vector<std::unique_ptr<ThxExpHandler>> keys;
  for (const auto& tag : tags)
    keys.push_back(std::make_unique<ThxExpHandler>(h.Link(), false, tag.second));
  std::vector<std::vector<std::pair<std::string, int32_t>>> sorted(tags.size());
  const int32_t count = h.RecordCount();
  for (auto& s : sorted) s.reserve(static_cast<size_t>(count));
  // The table read in large pieces, each record evaluated where it lies.
  const int length = h.RecordLength();
  const int perChunk = std::max(1, (1 << 20) / length);
  std::vector<char> chunk(static_cast<size_t>(perChunk) * static_cast<size_t>(length));
  char* const own = h.RecordBuffer();
  ThxVariant value;
  for (int32_t first = 1; first <= count; first += perChunk) {
    const int n = std::min<int32_t>(perChunk, count - first + 1);
    const int32_t got = h.HXO_DiskFile::Read(h.RecordOffset(first), chunk.data(), n * length);
    if (got < n * length) break;
    for (int i = 0; i < n; ++i) {
      h.SetRecordBuffer(chunk.data() + static_cast<size_t>(i) * static_cast<size_t>(length));
      for (size_t t = 0; t < tags.size(); ++t) {
        keys[t]->EvaluateKey(value);
        sorted[t].emplace_back(std::string(reinterpret_cast<const char*>(value.Data()),
                                           static_cast<size_t>(value.Length())),
                               first + i);
      }
    }
  }
  h.SetRecordBuffer(own);
  for (auto& s : sorted) std::sort(s.begin(), s.end());
  benchmark::DoNotOptimize(sorted.data());
  const int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  for (size_t at = 0; at < bytes.size(); at += 512)
    if (pwrite(fd, bytes.data() + at, 512, static_cast<off_t>(at)) != 512) std::abort();
  close(fd);
  return Seconds(Clock::now() - start);
}

}  // namespace bench
