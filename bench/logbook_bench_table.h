// The logbook table the index benchmarks run on: contacts of the logbook's 27-field layout with
// random stations, times, bands and states, written in bulk; a temporary folder; timing helpers;
// and the measurements the index benchmarks share (appends timed with and without tags, seek keys,
// the floor of a one-tag build).
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "../tests/engine/index/index_dbf_table.h"
#include "base/hx6_date.h"

namespace logbook_bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline int64_t EnvCount(const char* name, int64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoll(v) : fallback;
}

class BenchDir {
 public:
  BenchDir() {
    char tmpl[] = "/tmp/qm_index_bench_XXXXXX";
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

inline void FillContact(IndexedDbf& t, std::mt19937& rng, int64_t i) {
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
inline void MakeTable(const std::string& path, int64_t records) {
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

// Seconds taken by `appends` random contacts appended to a new logbook table in `dir`: to the
// table alone, or (`indexed`) with the index files `openIndexes` makes and leaves open on it.
inline double TimeAppends(const BenchDir& dir, bool indexed, int64_t appends,
                          const std::function<void(IndexedDbf&)>& openIndexes) {
  const std::string dbf = dir.File(indexed ? "IDX.DBF" : "PLAIN.DBF");
  CreateLogbookTable(dbf);
  IndexedDbf t(dbf, true, true);
  if (indexed) openIndexes(t);
  std::mt19937 rng(7);
  const auto start = Clock::now();
  for (int64_t i = 0; i < appends; ++i) {
    FillContact(t, rng, i);
    t.AppendRecord();
  }
  return Seconds(Clock::now() - start);
}

// Ten thousand STATION keys of random records of the table's `records`, to seek; `texts`, when
// given, gets the same stations as text.
inline std::vector<HXobjIndexKeyData> RandomStationKeys(IndexedDbf& t, int64_t records,
                                                        std::vector<std::string>* texts = nullptr) {
  std::vector<HXobjIndexKeyData> keys;
  std::mt19937 rng(3);
  for (int i = 0; i < 10000; ++i) {
    t.GotoRecord(1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(records)));
    HXobjIndexKeyData k;
    k.PutString(t.GetString("STATION"));
    k.SetRecNo(kAnyRecord);
    keys.push_back(k);
    if (texts) texts->push_back(t.GetString("STATION"));
  }
  return keys;
}

// Seconds taken by one seek on `tag` for each of `keys`; counts the seeks and the keys found.
inline double TimeSeeks(HXobjIndexTag* tag, const std::vector<HXobjIndexKeyData>& keys,
                        int64_t& seeks, int64_t& found) {
  const auto start = Clock::now();
  for (const auto& k : keys) {
    if (tag->Seek(k) != 0) ++found;
    ++seeks;
  }
  return Seconds(Clock::now() - start);
}

// Floor of building one STATION tag over the table's first `records` records: the same keys
// evaluated and sorted with std::sort, and `bytes` zero bytes written to `scratch`; seconds.
inline double StationBuildFloor(IndexedDbf& t, int64_t records, int64_t bytes,
                                const std::string& scratch) {
  const auto start = Clock::now();
  {
    ThxExpHandler h(t.Link(), false, "STATION");
    std::vector<std::pair<std::string, int32_t>> keys;
    keys.reserve(static_cast<size_t>(records));
    ThxVariant v;
    for (int32_t r = 1; r <= records; ++r) {
      t.IndexLoadRecord(r);
      h.EvaluateKey(v);
      keys.emplace_back(std::string(reinterpret_cast<const char*>(v.Data()),
                                    static_cast<size_t>(v.Length())), r);
    }
    std::sort(keys.begin(), keys.end());
    benchmark::DoNotOptimize(keys.data());
    std::vector<char> zero(1024, 0);
    int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int64_t at = 0; at < bytes; at += 1024)
      if (pwrite(fd, zero.data(), 1024, at) != 1024) abort();
    close(fd);
  }
  return Seconds(Clock::now() - start);
}

}  // namespace logbook_bench
