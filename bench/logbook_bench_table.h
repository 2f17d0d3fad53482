// The logbook table the index benchmarks run on: contacts of the logbook's 27-field layout with
// random stations, times, bands and states, written in bulk; a temporary folder; timing helpers.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../tests/engine/index_dbf_table.h"
#include "hx6_date.h"

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

}  // namespace logbook_bench
