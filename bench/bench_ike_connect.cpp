// Time to an IKEv2 tunnel against the same strongSwan responder (EAP-MSCHAPv2,
// server certificate), in one run, alternating:
//   raw   charon-cmd started by hand -> its CHILD_SA established
//   road  the helper's "start_connection" -> the password asked and given ->
//         "child_up", the helper's own charon started on the way
// Each run starts only once the previous charon has exited; the two sides
// take turns going first. Prints min, median and max of each, and of each
// pair's ratio. Needs root; skips otherwise.
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench_helper.h"
#include "bench_sides.h"
#include "raw_charon_cmd.h"
#include "platform/helper_socket.h"
#include "support/child_process.h"
#include "support/ike_testbed.h"

namespace {

using namespace hw;
using namespace hw::ike;
using namespace hw::bench;

// start_connection -> child_up on the real helper, the password given when
// asked; then the app's stop, which answers once charon has ended.
double connectAndStop(BenchHelper& helper, WireTap& tap, Times* times) {
    double* answered = &times->answered;
    double* asked = &times->asked;
    auto [mine, theirs] = makeHelperSocketPair();
    HelperMessage m{{"type", "rpc"},          {"rpc", "start_connection"}, {"name", "Havenway_IKEv2"},
                    {"host", road::kServerName}, {"host_ip", road::kServerIp}, {"id", road::kUser}};
    m["channel"] = HelperValue(std::make_shared<UniqueFd>(std::move(theirs)));
    tap.clear();
    const auto start = Clock::now();
    if (BenchHelper::call(helper.socket(), m) != "YES") return -1;
    *answered = millisSince(start);
    double up = -1;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (up < 0 && Clock::now() < deadline) {
        auto in = receiveHelperMessage(mine.get(), 500, nullptr);
        if (!in) continue;
        if (const auto* rpc = helperString(in->message, "rpc"); rpc && *rpc == "get_password" && in->replyChannel) {
            *asked = millisSince(start);
            sendHelperMessage(in->replyChannel.get(), {{"password", road::kGoodPassword}}, -1, 2000, nullptr);
        } else if (const auto* event = helperString(in->message, "event"); event && *event == "child_up") {
            up = millisSince(start);
        }
    }
    tap.collect(start, &times->firstOut, &times->lastIn);
    times->up = up;
    if (BenchHelper::call(mine.get(), {{"type", "rpc"}, {"rpc", "stop_connection"}}) != "YES") return -1;
    return up;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    if (::geteuid() != 0) {
        std::puts("bench_ike_connect: needs root (network namespaces); skipped");
        return 0;
    }
    if (::access("/usr/sbin/charon-cmd", X_OK) != 0) {
        std::puts("bench_ike_connect: charon-cmd is not installed; skipped");
        return 0;
    }
    road::Testbed bed;
    if (!bed.setUp()) {
        std::printf("bench_ike_connect: %s; skipped\n", bed.why.c_str());
        return 0;
    }
    std::filesystem::create_directories(bed.dir + "/helper");
    BenchHelper helper(bed.dir + "/helper", bed.dir + "/helper/run", {"HAVENWAY_TEST_CA=" + bed.dir + "/ca.pem"});
    if (!helper.start(bed.clientNs)) return std::puts("bench_ike_connect: the helper did not start"), 1;

    WireTap tap(bed.clientNs);
    std::vector<Times> raw, road;
    for (int i = 0; i < runs; ++i) {
        for (const bool rawSide : {firstSideFirst(i), !firstSideFirst(i)}) {
            Times t;
            const CharonCmdTarget target{bed.clientNs,    bed.dir,           road::kServerIp,        road::kUser,
                                         road::kServerName, bed.dir + "/ca.pem", road::kGoodPassword};
            if (rawSide && rawCharonCmd(target, &tap, &t) < 0) {
                std::fprintf(stderr, "the responder's log:\n%s\n", road::readFile(bed.responder->logPath()).c_str());
                return std::puts("bench_ike_connect: charon-cmd did not connect"), 1;
            }
            if (!rawSide && connectAndStop(helper, tap, &t) < 0)
                return std::puts("bench_ike_connect: the road did not connect"), 1;
            (rawSide ? raw : road).push_back(t);
        }
    }
    auto line = [](const char* label, const std::vector<Times>& runs, auto figure) {
        std::vector<double> v;
        for (const auto& t : runs)
            if (const double x = figure(t); x >= 0) v.push_back(x);
        printSpread(label, v);
    };
    // Where each side's time goes: before its first IKE packet (charon's
    // start, and on the road the helper's work), the exchange with the
    // responder, and from the last answer to the tunnel reported up.
    const auto before = [](const Times& t) { return t.firstOut; };
    const auto exchange = [](const Times& t) { return t.firstOut < 0 || t.lastIn < 0 ? -1 : t.lastIn - t.firstOut; };
    const auto after = [](const Times& t) { return t.lastIn < 0 ? -1 : t.up - t.lastIn; };
    printSpreadHeader();
    line("raw charon-cmd to CHILD_SA established", raw, [](const Times& t) { return t.up; });
    line("  of which to the password asked", raw, [](const Times& t) { return t.asked; });
    line("  before the first IKE packet", raw, before);
    line("  first IKE packet to the last answer", raw, exchange);
    line("  last answer to established", raw, after);
    line("our road: start_connection to child_up", road, [](const Times& t) { return t.up; });
    // The helper answers once the start is accepted; the password is asked
    // before charon starts.
    line("  of which to the helper's answer", road, [](const Times& t) { return t.answered; });
    line("  of which to the password asked", road, [](const Times& t) { return t.asked; });
    line("  before the first IKE packet", road, before);
    line("  first IKE packet to the last answer", road, exchange);
    line("  last answer to child_up", road, after);
    std::vector<double> rawUp, roadUp;
    for (const auto& t : raw) rawUp.push_back(t.up);
    for (const auto& t : road) roadUp.push_back(t.up);
    printPairRatio("ratio road / raw", rawUp, roadUp);
    std::printf("%d runs each, in ms, the raw side first in even runs\n", runs);
    return 0;
}
