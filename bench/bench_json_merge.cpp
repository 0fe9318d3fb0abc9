// Deep merge of two maps of 100,000 keys each, half of them shared (and
// themselves maps, so the shared half recurses), side by side with
// nlohmann's deep update of the same documents; the ratio is printed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "json/json.h"

namespace {

constexpr int kKeys = 100'000;

std::string document(int offset) {
  nlohmann::json doc = nlohmann::json::object();
  char key[24], inner[24];
  std::snprintf(inner, sizeof inner, "v%d", offset);
  for (int i = 0; i < kKeys; ++i) {
    std::snprintf(key, sizeof key, "k%d", offset + i);
    doc[key] = nlohmann::json{{inner, offset + i}};
  }
  return doc.dump();
}

double jsonSeconds = 0, nlohmannSeconds = 0;

template <typename Work>
void timed(benchmark::State& state, double& seconds, Work&& work) {
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    work();
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  seconds = total / static_cast<double>(state.iterations());
  state.counters["keys"] = kKeys;
  if (jsonSeconds > 0 && nlohmannSeconds > 0) state.counters["ours_over_nlohmann"] = jsonSeconds / nlohmannSeconds;
}

void BM_JSON_Merge100kKeys(benchmark::State& state) {
  const hw::JSON a = hw::JSON::fromData(document(0));
  const hw::JSON b = hw::JSON::fromData(document(kKeys / 2));
  timed(state, jsonSeconds, [&] { benchmark::DoNotOptimize(a.merged(b)); });
}

void BM_Nlohmann_Merge100kKeys(benchmark::State& state) {
  const nlohmann::json a = nlohmann::json::parse(document(0));
  const nlohmann::json b = nlohmann::json::parse(document(kKeys / 2));
  timed(state, nlohmannSeconds, [&] {
    nlohmann::json result = a;
    result.update(b, true);
    benchmark::DoNotOptimize(result);
  });
}

}  // namespace

BENCHMARK(BM_JSON_Merge100kKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_Merge100kKeys)->Unit(benchmark::kMillisecond);
