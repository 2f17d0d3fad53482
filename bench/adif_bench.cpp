// ADIF conversions of a 100,000-contact log:
//   Import   an ADIF file read, converted and written as a new logbook with its seven tags,
//            beside the floor of reading the file's bytes once and writing the new logbook's
//            bytes (table and index) once in large writes;
//   Export   the logbook written back as ADIF, beside the floor of reading the table's bytes once
//            and writing the ADIF file's bytes once, both synced as the export syncs.
// QM_BENCH_CONTACTS sets the number of contacts (default 100,000). The import of 100,000 contacts
// stands near 1.3 s on the development machines; it should stay under 2 s.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "adif_export.h"
#include "adif_import.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int64_t Contacts() {
  const char* v = std::getenv("QM_BENCH_CONTACTS");
  return v && *v ? std::atoll(v) : 100000;
}

std::string Tag(const char* name, const std::string& value) {
  return std::string("<") + name + ":" + std::to_string(value.size()) + ">" + value;
}

// A log as other programs write it: a header, then one line of fields per contact.
std::string MakeAdif(int64_t contacts) {
  static const char* const calls[] = {"W1AW", "DL1ABC", "JA1ZZZ", "VK2DEF/P", "G4ABC", "K1ABC", "EA8AA"};
  static const char* const modes[] = {"CW", "SSB", "FT8", "RTTY"};
  static const char* const sent[] = {"599", "59", "-10", "599"};
  static const char* const received[] = {"579", "57", "+02", "589"};
  static const char* const bands[] = {"20m", "40m", "80m", "15m", "10m", "160m", "70cm"};
  std::string out = "Generated for the benchmark\r\n<ADIF_VER:5>3.1.4<PROGRAMID:5>bench<EOH>\r\n";
  char date[16], time[16], freq[16];
  for (int64_t i = 0; i < contacts; ++i) {
    std::snprintf(date, sizeof date, "%04d%02d%02d", 2000 + static_cast<int>(i % 24),
                  1 + static_cast<int>(i % 12), 1 + static_cast<int>((i * 7) % 28));
    std::snprintf(time, sizeof time, "%02d%02d%02d", static_cast<int>(i % 24),
                  static_cast<int>((i * 13) % 60), static_cast<int>(i % 60));
    std::snprintf(freq, sizeof freq, "14.%03d", static_cast<int>(i % 350));
    out += Tag("CALL", calls[i % 7] + std::to_string(i % 1000)) + Tag("QSO_DATE", date) +
           Tag("TIME_ON", time) + Tag("BAND", bands[i % 7]) + Tag("FREQ", freq) +
           Tag("MODE", modes[i % 4]) + (i % 4 == 1 ? Tag("SUBMODE", "USB") : std::string()) +
           Tag("RST_SENT", sent[i % 4]) + Tag("RST_RCVD", received[i % 4]) +
           Tag("NAME", "Operator " + std::to_string(i % 500)) + Tag("QTH", "Town " + std::to_string(i % 900)) +
           Tag("STATE", "CT") + Tag("CNTY", "Hartford") + Tag("GRIDSQUARE", "FN31pr") +
           Tag("TX_PWR", "100") + Tag("OPERATOR", "N0CALL") +
           (i % 4 == 0 ? Tag("STX", std::to_string(i / 4 + 1)) + Tag("CONTEST_ID", "CQ-WW-CW") : std::string()) +
           Tag("COMMENT", "benchmark contact") + Tag("CQZ", "5") + Tag("ITUZ", "8") + Tag("QSL_SENT", "N") +
           "<EOR>\r\n";
  }
  return out;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

// Writes `bytes` to a new file in 1 MiB writes and syncs it once.
void WriteOnce(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  for (size_t at = 0; at < bytes.size();) {
    const size_t n = std::min<size_t>(1 << 20, bytes.size() - at);
    if (write(fd, bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
    at += n;
  }
  fsync(fd);
  close(fd);
}

class BenchDir {
 public:
  BenchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm_adif_bench_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~BenchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

void BM_AdifImportAndExport(benchmark::State& state) {
  BenchDir dir;
  if (dir.Path().empty()) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const int64_t contacts = Contacts();
  const std::string adif = dir.Path() + "contest.adi";
  WriteOnce(adif, MakeAdif(contacts));

  double importSeconds = 0, importFloor = 0, exportSeconds = 0, exportFloor = 0;
  for (auto _ : state) {
    std::filesystem::remove(dir.Path() + "contest.dbf");
    quillmere::AdifImportRequest request;
    request.files = {adif};
    auto start = Clock::now();
    const auto imported = quillmere::ImportAdifFiles(request);
    importSeconds += Seconds(Clock::now() - start);
    if (imported.outcome != quillmere::AdifImportOutcome::Imported || imported.records != contacts) {
      state.SkipWithError("import failed");
      return;
    }
    const std::string table = ReadAll(imported.tablePath);
    const std::string index = ReadAll(quillmere::LogbookIndexPath(imported.tablePath));
    start = Clock::now();
    const std::string adifBytes = ReadAll(adif);
    WriteOnce(dir.Path() + "floor.dbf", table);
    WriteOnce(dir.Path() + "floor.cdx", index);
    importFloor += Seconds(Clock::now() - start);
    benchmark::DoNotOptimize(adifBytes.size());

    start = Clock::now();
    const auto exported = quillmere::ExportLogbookToAdif(imported.tablePath, false);
    exportSeconds += Seconds(Clock::now() - start);
    const std::string written = ReadAll(exported.path);
    start = Clock::now();
    const std::string tableBytes = ReadAll(imported.tablePath);
    WriteOnce(dir.Path() + "floor.adi", written);
    exportFloor += Seconds(Clock::now() - start);
    benchmark::DoNotOptimize(tableBytes.size());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["import_s"] = importSeconds / n;
  state.counters["import_floor_s"] = importFloor / n;
  state.counters["import_ratio"] = importFloor > 0 ? importSeconds / importFloor : 0;
  state.counters["export_s"] = exportSeconds / n;
  state.counters["export_floor_s"] = exportFloor / n;
  state.counters["export_ratio"] = exportFloor > 0 ? exportSeconds / exportFloor : 0;
  std::printf("import of %lld contacts with seven tags: %.3f s, floor (read the file, write the logbook once) %.3f s, ratio %.1f\n",
              static_cast<long long>(contacts), importSeconds / n, importFloor / n,
              importFloor > 0 ? importSeconds / importFloor : 0.0);
  std::printf("export of %lld contacts: %.3f s, floor (read the table, write the file once) %.3f s, ratio %.1f\n",
              static_cast<long long>(contacts), exportSeconds / n, exportFloor / n,
              exportFloor > 0 ? exportSeconds / exportFloor : 0.0);
}

BENCHMARK(BM_AdifImportAndExport)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
