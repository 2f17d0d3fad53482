// Appending contacts to a shared logbook table: 100,000 records of the logbook's 27-field layout
// appended through the table layer (append lock, header re-read, record and end byte in one
// write, header rewrite, unlock), against the same number of plain pwrite calls of the same bytes
// at the same offsets. Every append must reach the operating system directly, so the raw writes
// are the floor; the figure is the ratio between the two.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/byteorder.h"
#include "table/hx6_dbf.h"

namespace {

struct LogField {
  const char* name;
  char type;
  int length;
  int decimals;
};

// The logbook's record: 27 fields, record length 397, header length 897.
const LogField kLogbook[] = {
    {"DATE", 'D', 8, 0},     {"TIME", 'C', 6, 0},     {"NUMBER", 'N', 20, 4},  {"STATION", 'C', 15, 0},
    {"BAND", 'N', 20, 4},    {"QTH", 'C', 20, 0},     {"RST", 'C', 5, 0},      {"NRSENT", 'C', 20, 0},
    {"NRRCVD", 'C', 20, 0},  {"SPARE1", 'C', 20, 0},  {"MODE", 'C', 6, 0},     {"PREFIX", 'C', 5, 0},
    {"STATE", 'C', 3, 0},    {"CQZONE", 'C', 3, 0},   {"ITUZONE", 'C', 3, 0},  {"TENTEN", 'N', 20, 4},
    {"QSLS", 'C', 2, 0},     {"QSLR", 'C', 2, 0},     {"CITY", 'C', 30, 0},    {"REMARK", 'C', 100, 0},
    {"FREQ", 'C', 7, 0},     {"COUNTY", 'C', 20, 0},  {"CONTEST", 'C', 15, 0}, {"OPERATR", 'C', 8, 0},
    {"IOTA", 'C', 8, 0},     {"TXPWR", 'C', 4, 0},    {"GRIDSQR", 'C', 6, 0},
};
constexpr int kFieldCount = static_cast<int>(std::size(kLogbook));
constexpr int kHeaderLength = 32 + 32 * kFieldCount + 1;
constexpr int kRecords = 100000;

// An empty dBase III table of the logbook layout, as the table builder leaves it.
std::string EmptyLogbook(int& recordLength) {
  recordLength = 1;
  for (const LogField& f : kLogbook) recordLength += f.length;
  std::string image(kHeaderLength, '\0');
  auto* h = reinterpret_cast<uint8_t*>(image.data());
  h[0] = 0x03;
  EncodeLE16(h + 8, kHeaderLength);
  EncodeLE16(h + 10, static_cast<uint16_t>(recordLength));
  for (int i = 0; i < kFieldCount; ++i) {
    uint8_t* d = h + 32 + 32 * i;
    std::memcpy(d, kLogbook[i].name, std::strlen(kLogbook[i].name));
    d[11] = static_cast<uint8_t>(kLogbook[i].type);
    d[16] = static_cast<uint8_t>(kLogbook[i].length);
    d[17] = static_cast<uint8_t>(kLogbook[i].decimals);
  }
  h[kHeaderLength - 1] = 0x0D;
  return image + '\x1A';
}

// Contact `n`: a blank record with a few fields filled in, different for every contact.
void FillContact(char* record, int recordLength, int n) {
  std::memset(record, ' ', static_cast<size_t>(recordLength));
  char text[64];
  std::snprintf(text, sizeof text, "20240%03d", 101 + n % 28);
  std::memcpy(record + 1, text, 8);
  std::snprintf(text, sizeof text, "%06d", n % 240000);
  std::memcpy(record + 9, text, 6);
  std::snprintf(text, sizeof text, "%20.4f", static_cast<double>(n));
  std::memcpy(record + 15, text, 20);
  std::snprintf(text, sizeof text, "W%dXYZ", n % 10);
  std::memcpy(record + 35, text, std::strlen(text));
  std::memcpy(record + 50, "             14.0000", 20);
  std::memcpy(record + 90, "59", 2);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void BM_AppendLogbookRecords(benchmark::State& state) {
  std::string folder = (std::filesystem::temp_directory_path() / "append_bench_XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string tablePath = folder + "/LOGBOOK.DBF";
  const std::string rawPath = folder + "/raw.bin";
  int recordLength = 0;
  const std::string empty = EmptyLogbook(recordLength);

  double tableSeconds = 0;
  double rawSeconds = 0;
  for (auto _ : state) {
    std::ofstream(tablePath, std::ios::binary | std::ios::trunc) << empty;
    std::ofstream(rawPath, std::ios::binary | std::ios::trunc) << empty;
    {
      HXO_dBaseDBF table(tablePath, true, true);
      const auto start = std::chrono::steady_clock::now();
      for (int n = 0; n < kRecords; ++n) {
        FillContact(table.RecordBuffer(), recordLength, n);
        table.AppendRecord();
      }
      tableSeconds += Seconds(std::chrono::steady_clock::now() - start);
      table.Close();
    }
    {
      const int fd = open(rawPath.c_str(), O_RDWR | O_CLOEXEC);
      std::vector<char> record(static_cast<size_t>(recordLength) + 1);
      const auto start = std::chrono::steady_clock::now();
      for (int n = 0; n < kRecords; ++n) {
        FillContact(record.data(), recordLength, n);
        record[static_cast<size_t>(recordLength)] = 0x1A;
        const off_t at = kHeaderLength + static_cast<off_t>(n) * recordLength;
        if (pwrite(fd, record.data(), record.size(), at) != static_cast<ssize_t>(record.size())) {
          state.SkipWithError("pwrite failed");
          break;
        }
      }
      rawSeconds += Seconds(std::chrono::steady_clock::now() - start);
      close(fd);
    }
  }
  const double iterations = static_cast<double>(state.iterations());
  // Per append: through the table (figure) and the raw write of the same bytes (floor).
  state.counters["figure_us"] = tableSeconds / iterations / kRecords * 1e6;
  state.counters["floor_us"] = rawSeconds / iterations / kRecords * 1e6;
  state.counters["ratio"] = rawSeconds > 0 ? tableSeconds / rawSeconds : 0;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

BENCHMARK(BM_AppendLogbookRecords)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
