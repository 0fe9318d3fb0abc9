// The locations cache: pinning a full server list and reading it back offline.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/backend/local_datastore.h"
#include "bench_folder.h"

namespace {

std::vector<hw::LocalDatastore::StoredObject> configs(int n) {
    std::vector<hw::LocalDatastore::StoredObject> out;
    const std::string ovpn(1500, 'x');  // an OpenVPN configuration text is about this long
    for (int i = 0; i < n; ++i) {
        const auto id = "cfg" + std::to_string(i);
        out.push_back({"VPNConfig", id,
                       R"({"className":"VPNConfig","objectId":")" + id + R"(","name":"Location )" + std::to_string(i) +
                           R"(","ovpnConfigWithDNSName":")" + ovpn + R"("})"});
    }
    return out;
}

struct TempStore {
    TempStore() { store = hw::LocalDatastore::open(folder.path + "/store.sqlite"); }
    ~TempStore() { store.reset(); }
    hw::bench::BenchFolder folder{"hw-bench-datastore"};
    std::unique_ptr<hw::LocalDatastore> store;
};

void BM_PinServerList(benchmark::State& state) {
    TempStore t;
    const auto list = configs(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(t.store->replacePin("vpnConfigs", list));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PinServerList)->Arg(50)->Arg(250);

void BM_ReadPinnedServerList(benchmark::State& state) {
    TempStore t;
    t.store->replacePin("vpnConfigs", configs(static_cast<int>(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(t.store->pinned("VPNConfig", "vpnConfigs"));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadPinnedServerList)->Arg(50)->Arg(250);

}  // namespace
