// Sorting speed of ThxSort for index builds, beside std::sort of the same keys in the same run.
//
// For each key class (text shaped like call signs in a C 15 field, floats with negatives and
// near-equal values, dates over two centuries) a million random keys are inserted into ThxSort and
// fully retrieved. The floor, in the same iteration, std::sorts the same keys as (encoded key,
// record number) pairs, encoded once beforehand into the sorter's order-preserving byte form.
// Counters: figure_us, floor_us and their ratio, per run (and so per repetition).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/byteorder.h"
#include "index/hx6_sort.h"

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

// ThxSort on a million keys of one class, and in the same iteration the floor: std::sort of the
// same keys in the sorter's byte form, encoded beforehand. Manual time is ThxSort's.
void BM_ThxSort(benchmark::State& state) {
  const int keyClass = static_cast<int>(state.range(0));
  const auto& keys = Keys(keyClass);
  std::vector<std::pair<std::string, int32_t>> encoded;
  encoded.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i)
    encoded.emplace_back(Encode(keys[i]), static_cast<int32_t>(i + 1));
  double figure = 0, floor = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    ThxSort sort(KeyLength(keyClass), nullptr, true, false);
    for (size_t i = 0; i < keys.size(); ++i) sort.InsertKey(keys[i], static_cast<int32_t>(i + 1));
    ThxVariant key;
    int32_t record;
    int64_t delivered = 0;
    while (sort.GetNextKey(key, record)) ++delivered;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(delivered);
    state.counters["runs"] = sort.RunCount();
    state.SetIterationTime(seconds);
    figure += seconds;

    auto work = encoded;
    start = std::chrono::steady_clock::now();
    std::sort(work.begin(), work.end());
    floor += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(work.data());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["figure_us"] = figure / n * 1e6;
  state.counters["floor_us"] = floor / n * 1e6;
  state.counters["ratio"] = floor > 0 ? figure / floor : 0;
  state.SetItemsProcessed(state.iterations() * kKeys);
}

// Argument: 0 text, 1 float, 2 date.
BENCHMARK(BM_ThxSort)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
