// Filter speed: evaluations per second of the logbook filter
//   STATION = 'W1AW*' .AND. BAND = 20
// against record buffers shaped like the logbook's (deletion flag, STATION C 15, BAND N 20.4),
// read through two field variables, beside the same test written by hand in C++ in the same run
// (the floor). Counters: figure_us and floor_us per evaluation, and their ratio.
#include <benchmark/benchmark.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "expr/hx6_fctn.h"
#include "expr/hx6_sql.h"

namespace {

constexpr size_t kStationOffset = 1, kStationLength = 15;
constexpr size_t kBandOffset = 16, kBandLength = 20;
constexpr size_t kRecordLength = 36;
constexpr size_t kRecordCount = 4096;

// Record images: a quarter hold W1AW inside a longer call (W1AW/P, KW1AW, AA1W1AW), bands 20, 40
// and 80. The bare call W1AW is left out: whether a pattern longer than the text may match is the
// wildcard test's business, not the filter's speed.
std::vector<std::string> Records() {
  static const char* const kCalls[] = {"W1AW/M", "W1AW/P", "KW1AW", "K1ABC", "DL1XYZ", "JA1ZZZ",
                                       "W1AX", "VE3ABC", "G4XYZ", "N0CALL", "W1A", "AA1W1AW"};
  static const double kBands[] = {20, 40, 80, 20.0001};
  std::mt19937 random(7);
  std::vector<std::string> records;
  for (size_t i = 0; i < kRecordCount; ++i) {
    std::string record(kRecordLength, ' ');
    std::string call = kCalls[random() % std::size(kCalls)];
    record.replace(kStationOffset, call.size(), call);
    char band[32];
    std::snprintf(band, sizeof band, "%20.4f", kBands[random() % std::size(kBands)]);
    record.replace(kBandOffset, kBandLength, band);
    records.push_back(record);
  }
  return records;
}

// A table field reading its bytes from the current record buffer.
class BufferField : public ThxUserDefFieldVar {
 public:
  BufferField(std::string names, const char* const* record, size_t offset, size_t length,
              bool numeric)
      : ThxUserDefFieldVar(std::move(names), static_cast<int>(length)),
        record_(record),
        offset_(offset),
        length_(length),
        numeric_(numeric) {}
  int ClassCode() const override { return kTableFieldClassCode; }
  void GetValue(ThxExpValue& value, uint8_t& type) override {
    std::string_view bytes(*record_ + offset_, length_);
    if (numeric_) {
      double number = 0.0;
      if (!ExpTextToFloat(bytes, number)) number = 0.0;
      value.SetNumber(number);
      type = etNumber;
    } else {
      value.AssignText(bytes);
      type = etText;
    }
  }

 private:
  const char* const* record_;
  size_t offset_, length_;
  bool numeric_;
};

// The filter by hand: the station without trailing blanks contains W1AW (the wildcard test is
// a containment test), and the band field reads as 20.
bool HandWritten(const char* record) {
  std::string_view station(record + kStationOffset, kStationLength);
  while (!station.empty() && station.back() == ' ') station.remove_suffix(1);
  if (station.find("W1AW") == std::string_view::npos) return false;
  std::string_view band(record + kBandOffset, kBandLength);
  while (!band.empty() && band.front() == ' ') band.remove_prefix(1);
  double value = 0.0;
  std::from_chars(band.data(), band.data() + band.size(), value);
  return value == 20.0;
}

// Each iteration evaluates the filter on every record image by expression (the timed figure),
// then the same test by hand (the floor).
void BM_FilterExpression(benchmark::State& state) {
  const std::vector<std::string> records = Records();
  const char* current = records[0].data();
  ThxExpUserLink link;
  link.AddFieldVar(std::make_unique<BufferField>("STATION;LOG.STATION", &current,
                                                 kStationOffset, kStationLength, false));
  link.AddFieldVar(std::make_unique<BufferField>("BAND;LOG.BAND", &current, kBandOffset,
                                                 kBandLength, true));
  ThxExpHandler filter(&link, false, "STATION = 'W1AW*' .AND. BAND = 20");
  ThxExpValue value;
  size_t hits = 0, handHits = 0;
  double figure = 0, floor = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    for (const std::string& record : records) {
      current = record.data();
      filter.Evaluate(value);
      hits += value.Boolean();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    figure += seconds;
    start = std::chrono::steady_clock::now();
    for (const std::string& record : records) {
      const char* r = record.data();
      benchmark::DoNotOptimize(r);
      handHits += HandWritten(r);
    }
    floor += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  benchmark::DoNotOptimize(hits);
  benchmark::DoNotOptimize(handHits);
  const double evaluations = static_cast<double>(state.iterations()) * kRecordCount;
  state.counters["figure_us"] = figure / evaluations * 1e6;
  state.counters["floor_us"] = floor / evaluations * 1e6;
  state.counters["ratio"] = floor > 0 ? figure / floor : 0;
  state.SetItemsProcessed(static_cast<int64_t>(evaluations));
}

BENCHMARK(BM_FilterExpression)->UseManualTime();

// Both filters must agree on every record before their speeds are compared.
bool FiltersAgree() {
  const std::vector<std::string> records = Records();
  const char* current = nullptr;
  ThxExpUserLink link;
  link.AddFieldVar(std::make_unique<BufferField>("STATION", &current, kStationOffset,
                                                 kStationLength, false));
  link.AddFieldVar(
      std::make_unique<BufferField>("BAND", &current, kBandOffset, kBandLength, true));
  ThxExpHandler filter(&link, false, "STATION = 'W1AW*' .AND. BAND = 20");
  ThxExpValue value;
  for (const std::string& record : records) {
    current = record.data();
    filter.Evaluate(value);
    if (value.Boolean() != HandWritten(current)) {
      std::fprintf(stderr, "filters disagree on record \"%s\"\n", record.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!FiltersAgree()) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
