// Sorting speed of ThxSort for index builds: a million text keys shaped like call signs and a
// million float keys, inserted and fully retrieved.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "hx6_sort.h"

namespace {

std::vector<std::string> CallSigns(int count) {
  std::mt19937 random(1);
  std::uniform_int_distribution<int> letter(0, 25), digit(0, 9), suffix(1, 3);
  std::vector<std::string> keys;
  keys.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    std::string call;
    call += static_cast<char>('A' + letter(random));
    if (i % 2) call += static_cast<char>('A' + letter(random));
    call += static_cast<char>('0' + digit(random));
    for (int j = suffix(random); j > 0; --j) call += static_cast<char>('A' + letter(random));
    call.resize(15, ' ');  // as a C 15 field
    keys.push_back(call);
  }
  return keys;
}

void BM_SortTextKeys(benchmark::State& state) {
  const auto keys = CallSigns(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ThxSort sort(15, nullptr, true, false);
    ThxVariant key;
    for (size_t i = 0; i < keys.size(); ++i) {
      key.PutString(keys[i]);
      sort.InsertKey(key, static_cast<int32_t>(i + 1));
    }
    int32_t record;
    int64_t delivered = 0;
    while (sort.GetNextKey(key, record)) ++delivered;
    benchmark::DoNotOptimize(delivered);
    state.counters["runs"] = sort.RunCount();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SortTextKeys)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_SortFloatKeys(benchmark::State& state) {
  std::mt19937_64 random(2);
  std::uniform_real_distribution<double> dist(1.8, 450.0);
  std::vector<double> values(static_cast<size_t>(state.range(0)));
  for (auto& v : values) v = dist(random);
  for (auto _ : state) {
    ThxSort sort(8, nullptr, true, false);
    ThxVariant key;
    for (size_t i = 0; i < values.size(); ++i) {
      key.PutFloat(values[i]);
      sort.InsertKey(key, static_cast<int32_t>(i + 1));
    }
    int32_t record;
    int64_t delivered = 0;
    while (sort.GetNextKey(key, record)) ++delivered;
    benchmark::DoNotOptimize(delivered);
    state.counters["runs"] = sort.RunCount();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SortFloatKeys)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
