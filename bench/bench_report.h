#pragma once
// How a bench with a target reports: the median of its runs, the target and
// their ratio (below 1 meets it).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

inline void reportMedianAgainstTarget(benchmark::State& state, std::vector<double>& ms, double targetMs) {
    std::sort(ms.begin(), ms.end());
    const double median = ms.empty() ? 0 : ms[ms.size() / 2];
    state.counters["median_ms"] = median;
    state.counters["target_ms"] = targetMs;
    state.counters["median_to_target"] = median / targetMs;
}
