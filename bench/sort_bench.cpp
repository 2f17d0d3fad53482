// Sorting speed of ThxSort for index builds, beside std::sort of the same keys in the same run.
//
// For each key class (text shaped like call signs in a C 15 field, floats with negatives and
// near-equal values, dates over two centuries) a million random keys are inserted into ThxSort and
// fully retrieved. The baseline encodes the same keys into the sorter's order-preserving byte form
// once, outside the timing, and std::sorts (encoded key, record number) pairs. The figure to watch
// is the "ratio" counter of the ThxSort rows: its time over the baseline's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "byteorder.h"
#include "hx6_sort.h"

namespace {

constexpr int kKeys = 1000000;

std::vector<ThxVariant> TextKeys() {
  std::mt19937 random(1);
  std::uniform_int_distribution<int> letter(0, 25), digit(0, 9), suffix(1, 3);
  std::vector<ThxVariant> keys(kKeys);
  for (int i = 0; i < kKeys; ++i) {
    std::string call;
    call += static_cast<char>('A' + letter(random));
    if (i % 2) call += static_cast<char>('A' + letter(random));
    call += static_cast<char>('0' + digit(random));
    for (int j = suffix(random); j > 0; --j) call += static_cast<char>('A' + letter(random));
    call.resize(15, ' ');  // as a C 15 field
    keys[static_cast<size_t>(i)].PutString(call);
  }
  return keys;
}

std::vector<ThxVariant> FloatKeys() {
  std::mt19937_64 random(2);
  std::uniform_real_distribution<double> dist(-5000.0, 5000.0);
  std::vector<ThxVariant> keys(kKeys);
  for (int i = 0; i < kKeys; ++i) {
    double v = dist(random);
    if (i % 4 == 0) v = static_cast<double>(static_cast<int>(v));         // whole numbers
    if (i % 4 == 1) v = static_cast<double>(static_cast<int>(v)) + 1e-4;  // and their neighbours
    keys[static_cast<size_t>(i)].PutFloat(v);
  }
  return keys;
}

std::vector<ThxVariant> DateKeys() {
  std::mt19937 random(3);
  std::uniform_int_distribution<int32_t> day(2415021, 2488070);  // 1900-2099
  std::vector<ThxVariant> keys(kKeys);
  for (auto& key : keys) key.PutDate(day(random));
  return keys;
}

const std::vector<ThxVariant>& Keys(int keyClass) {
  static const std::vector<ThxVariant> text = TextKeys();
  static const std::vector<ThxVariant> floats = FloatKeys();
  static const std::vector<ThxVariant> dates = DateKeys();
  return keyClass == 0 ? text : (keyClass == 1 ? floats : dates);
}

int KeyLength(int keyClass) { return keyClass == 0 ? 15 : (keyClass == 1 ? 8 : 4); }

// The sorter's order-preserving form of a key: trimmed text, big-endian float bits with the sign
// bit flipped (all bits for negatives), big-endian day number.
std::string Encode(const ThxVariant& key) {
  uint8_t bytes[256];
  int n = 0;
  switch (key.Type()) {
    case vtText:
      n = key.Length();
      while (n > 0 && key.Data()[n - 1] == ' ') --n;
      std::memcpy(bytes, key.Data(), static_cast<size_t>(n));
      break;
    case vtFloat: {
      uint64_t bits;
      const double v = key.GetFloat();
      std::memcpy(&bits, &v, 8);
      bits = (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
      EncodeBE64(bytes, bits);
      n = 8;
      break;
    }
    default:
      EncodeBE32(bytes, static_cast<uint32_t>(key.GetDate()));
      n = 4;
      break;
  }
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
}

// Seconds of the last baseline run per class, for the ratio counter.
double gBaselineSeconds[3] = {0, 0, 0};

void BM_StdSort(benchmark::State& state) {
  const int keyClass = static_cast<int>(state.range(0));
  const auto& keys = Keys(keyClass);
  std::vector<std::pair<std::string, int32_t>> encoded;
  encoded.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i)
    encoded.emplace_back(Encode(keys[i]), static_cast<int32_t>(i + 1));
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto work = encoded;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    std::sort(work.begin(), work.end());
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(work.data());
  }
  gBaselineSeconds[keyClass] = seconds;
  state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_ThxSort(benchmark::State& state) {
  const int keyClass = static_cast<int>(state.range(0));
  const auto& keys = Keys(keyClass);
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    ThxSort sort(KeyLength(keyClass), nullptr, true, false);
    for (size_t i = 0; i < keys.size(); ++i) sort.InsertKey(keys[i], static_cast<int32_t>(i + 1));
    ThxVariant key;
    int32_t record;
    int64_t delivered = 0;
    while (sort.GetNextKey(key, record)) ++delivered;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(delivered);
    state.counters["runs"] = sort.RunCount();
  }
  if (gBaselineSeconds[keyClass] > 0)
    state.counters["ratio"] = seconds / gBaselineSeconds[keyClass];
  state.SetItemsProcessed(state.iterations() * kKeys);
}

// Baseline first, so each ThxSort row can report its ratio. Argument: 0 text, 1 float, 2 date.
BENCHMARK(BM_StdSort)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThxSort)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSort)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThxSort)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSort)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThxSort)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
