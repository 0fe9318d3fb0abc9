#include <benchmark/benchmark.h>

#include <string>

#include "core/hashing.h"
#include "core/string_validation.h"
#include "core/vpn_connection.h"

// The e-mail check runs on every keystroke of the sign-in form; hostile
// input must stay linear.
static void BM_ValidEmailTypical(benchmark::State& state) {
    const std::string address = "First.Last+tag@mail.example.org";
    for (auto _ : state) benchmark::DoNotOptimize(hw::validEmail(address));
}
BENCHMARK(BM_ValidEmailTypical);

static void BM_ValidEmailLongInvalid(benchmark::State& state) {
    const std::string text = std::string(static_cast<std::size_t>(state.range(0)), 'a') + "@" +
                             std::string(static_cast<std::size_t>(state.range(0)), 'b');
    for (auto _ : state) benchmark::DoNotOptimize(hw::validEmail(text));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ValidEmailLongInvalid)->RangeMultiplier(10)->Range(100, 100'000)->Complexity();

static void BM_SHA256Hex(benchmark::State& state) {
    const std::string text(64, 'x');
    for (auto _ : state) benchmark::DoNotOptimize(hw::SHA256(text));
}
BENCHMARK(BM_SHA256Hex);

// Ten times a second while connected.
static void BM_SessionText(benchmark::State& state) {
    double t = 0;
    for (auto _ : state) benchmark::DoNotOptimize(hw::VPNConnection::elapsedTimeText(t += 0.1));
}
BENCHMARK(BM_SessionText);
