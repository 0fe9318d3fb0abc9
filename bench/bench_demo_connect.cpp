// The demo's connect, from the request to the tunnel established, over each
// of the testbed's VPN servers: the engine as the demo runs it, in the
// testbed's client namespace. Needs root and `scripts/testbed up`; run from
// anywhere (HW_SOURCE_DIR may point at the tree).
#include <benchmark/benchmark.h>

#include <chrono>
#include <iostream>

#include "support/testbed_engine.h"

namespace {

hw::test::TestbedEngine* engine = nullptr;
std::string unavailable;

hw::test::TestbedEngine* ready() {
    if (engine || !unavailable.empty()) return engine;
    auto* e = new hw::test::TestbedEngine;
    unavailable = e->enter();
    if (unavailable.empty()) unavailable = e->start();
    if (!unavailable.empty()) {
        delete e;
        return nullptr;
    }
    engine = e;
    return engine;
}

void connectOver(benchmark::State& state, hw::VPNTypes protocol, bool locked = false) {
    auto* bed = ready();
    if (!bed) {
        state.SkipWithError(unavailable.c_str());
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        // Under the kill switch the time includes the lookup, the route and the lock.
        const bool connected = locked ? bed->connectLocked(protocol) : bed->connect(protocol);
        const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        state.SetIterationTime(elapsed.count());
        if (!connected) {
            state.SkipWithError("the connect failed");
            break;
        }
        // A figure counts only for the protocol it names.
        const char* command = protocol == hw::VPNTypesOpenVPN ? "createOpenVPNConnection" : "start_connection";
        if (bed->connectedOver != protocol || bed->commandUsed != command) {
            state.SkipWithError(("connected over another protocol: " + bed->commandUsed).c_str());
            break;
        }
        state.PauseTiming();
        bed->disconnect();
        if (locked) bed->releaseLock();
        hw::test::spinFor(500);
        state.ResumeTiming();
    }
}

void BM_DemoConnectOpenVPN(benchmark::State& state) { connectOver(state, hw::VPNTypesOpenVPN); }
void BM_DemoConnectIKEv2(benchmark::State& state) { connectOver(state, hw::VPNTypesIKEv2_StrongSwan); }
void BM_DemoConnectOpenVPNKillSwitch(benchmark::State& state) { connectOver(state, hw::VPNTypesOpenVPN, true); }
void BM_DemoConnectIKEv2KillSwitch(benchmark::State& state) {
    connectOver(state, hw::VPNTypesIKEv2_StrongSwan, true);
}

BENCHMARK(BM_DemoConnectOpenVPN)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DemoConnectIKEv2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DemoConnectOpenVPNKillSwitch)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_DemoConnectIKEv2KillSwitch)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Repetitions(10)->ReportAggregatesOnly(true);

}  // namespace

// Our own main: the helper and the connection are ended before the process goes.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (engine) engine->stop();
    benchmark::Shutdown();
    return 0;
}
