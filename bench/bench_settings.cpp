#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "platform/json_settings_store.h"
#include "bench_folder.h"

namespace {

// About what the application keeps: flags, counters, names, a few lists,
// dates and small blobs.
hw::SettingDict typicalSettings() {
    hw::SettingDict d;
    for (int i = 0; i < 20; ++i) d["flag" + std::to_string(i)] = (i % 2) == 0;
    for (int i = 0; i < 12; ++i) d["count" + std::to_string(i)] = std::int64_t{1000} * i;
    for (int i = 0; i < 10; ++i) d["name" + std::to_string(i)] = "value of setting number " + std::to_string(i);
    for (int i = 0; i < 5; ++i) d["ratio" + std::to_string(i)] = 0.1 * i;
    for (int i = 0; i < 5; ++i) d["when" + std::to_string(i)] = hw::Date{1.7e9 + i};
    for (int i = 0; i < 4; ++i) d["blob" + std::to_string(i)] = hw::Bytes(64, static_cast<std::uint8_t>(i));
    d["trustedNetworks"] = hw::StringList{"Home", "Office", "Cafe Wi-Fi", "Library"};
    d["recentLocations"] = hw::StringList{"Amsterdam", "Berlin", "Chicago"};
    d["windowFrame"] = hw::SettingDict{{"x", 10}, {"y", 20}, {"w", 800}, {"h", 600}};
    d["lastServer"] = hw::SettingDict{{"host", "nl1.example"}, {"protocol", "IKEv2"}};
    return d;
}

using hw::bench::BenchFolder;

void BM_SettingsLoad(benchmark::State& state) {
    BenchFolder dir("hw-bench-settings");
    const std::string file = dir.path + "/settings.json";
    {
        hw::JsonSettingsStore store(file);
        for (const auto& [k, v] : typicalSettings()) store.set(k, v);
        store.synchronize();
    }
    for (auto _ : state) {
        hw::JsonSettingsStore store(file);
        benchmark::DoNotOptimize(store.boolForKey("flag0"));
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
}
BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMicrosecond);

// One changed value, then a write that is on disk when it returns.
void BM_SettingsDurableWrite(benchmark::State& state) {
    BenchFolder dir("hw-bench-settings");
    hw::JsonSettingsStore store(dir.path + "/settings.json");
    for (const auto& [k, v] : typicalSettings()) store.set(k, v);
    std::int64_t n = 0;
    for (auto _ : state) {
        store.set("count0", ++n);
        if (!store.synchronize()) state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_SettingsDurableWrite)->Unit(benchmark::kMicrosecond);

void BM_SettingsRender(benchmark::State& state) {
    const auto values = typicalSettings();
    for (auto _ : state) benchmark::DoNotOptimize(hw::renderSettingsFile(values));
}
BENCHMARK(BM_SettingsRender)->Unit(benchmark::kMicrosecond);

}  // namespace
