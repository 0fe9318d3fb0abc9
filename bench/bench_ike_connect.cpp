// Time to an IKEv2 tunnel against the same strongSwan responder (EAP-MSCHAPv2,
// server certificate), in one run, alternating:
//   raw   charon-cmd started by hand -> its CHILD_SA established
//   road  the helper's "start_connection" -> the password asked and given ->
//         "child_up", the helper's own charon started on the way
// Each run starts only once the previous charon has exited; the two sides
// take turns going first. Prints min, median and max of each, and of each
// pair's ratio. Needs root; skips otherwise.
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "bench_helper.h"
#include "bench_sides.h"
#include "helper/esp_probe.h"
#include "platform/helper_socket.h"
#include "raw_charon_cmd.h"
#include "support/child_process.h"
#include "support/ike_testbed.h"

namespace {

using namespace hw;
using namespace hw::ike;
using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The IKE packets of one run as the client's namespace saw them: when the
// first left and when the last answer came, on the bench's clock. What lies
// before the first is start-up work; after the last, installing the SA.
class WireTap {
public:
    explicit WireTap(const std::string& ns) {
        UniqueFd own(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
        UniqueFd there(::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
        if (!own || !there || ::setns(there.get(), CLONE_NEWNET) != 0) return;
        // ETH_P_ALL: only such a tap sees what leaves as well.
        fd_.reset(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL)));
        const int on = 1;
        if (fd_) ::setsockopt(fd_.get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        if (::setns(own.get(), CLONE_NEWNET) != 0) std::abort();  // the bench must not stay in there
    }

    // Drops what an earlier run left queued.
    void clear() { collect(nullptr, nullptr); }

    // The first IKE packet out and the last one in, as milliseconds after
    // start; false when the tap saw none.
    bool collect(Clock::time_point start, double* first, double* last) {
        startTime_ = start;
        return collect(first, last);
    }

private:
    bool collect(double* first, double* last) {
        if (!fd_) return false;
        // The kernel stamps packets on the wall clock: mapped to the steady one.
        timespec wall{};
        ::clock_gettime(CLOCK_REALTIME, &wall);
        const auto steadyNow = Clock::now();
        bool sawOut = false, sawIn = false;
        for (;;) {
            unsigned char packet[2048];
            char control[256];
            sockaddr_ll from{};
            iovec io{packet, sizeof packet};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &io;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fd_.get(), &msg, MSG_DONTWAIT);
            if (n < 0) break;
            if (!first || from.sll_protocol != htons(ETH_P_IP)) continue;
            if (n < static_cast<ssize_t>(sizeof(iphdr) + sizeof(udphdr))) continue;
            const auto* ip = reinterpret_cast<const iphdr*>(packet);
            if (ip->protocol != IPPROTO_UDP || n < ip->ihl * 4 + static_cast<ssize_t>(sizeof(udphdr))) continue;
            const auto* udp = reinterpret_cast<const udphdr*>(packet + ip->ihl * 4);
            const auto isIke = [](std::uint16_t port) { return port == 500 || port == 4500; };
            if (!isIke(ntohs(udp->source)) || !isIke(ntohs(udp->dest))) continue;
            timespec stamp{};
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            const double agoMs = (wall.tv_sec - stamp.tv_sec) * 1e3 + (wall.tv_nsec - stamp.tv_nsec) / 1e6;
            const double at = std::chrono::duration<double, std::milli>(steadyNow - startTime_).count() - agoMs;
            if (from.sll_pkttype == PACKET_OUTGOING) {
                if (!sawOut) *first = at;
                sawOut = true;
            } else {
                *last = at;
                sawIn = true;
            }
        }
        return sawOut && sawIn;
    }

    UniqueFd fd_;
    Clock::time_point startTime_{};
};

// Milliseconds from the start of one run.
struct Times {
    double up = -1;        // the tunnel reported established
    double asked = 0;      // the password asked for
    double answered = 0;   // the helper's answer (the road only)
    double firstOut = -1;  // the first IKE packet sent
    double lastIn = -1;    // the last IKE packet received
};

// charon-cmd against the road's responder; its files go to the bench's folder.
double rawCharonCmd(const road::Testbed& bed, WireTap& tap, Times* times) {
    const std::string conf = bed.dir + "/charon-cmd.conf";
    PosixProcessRunner runner;
    std::ofstream(conf) << hw::bench::charonCmdConf(bed.dir + "/charon-cmd.vici", !helper::kernelSupportsEsp(runner));
    tap.clear();
    const auto start = Clock::now();
    const hw::bench::CharonCmdRun run = hw::bench::rawCharonCmd(
        {"--host", road::kServerIp, "--identity", road::kUser, "--remote-identity", road::kServerName, "--cert",
         bed.dir + "/ca.pem", "--profile", "ikev2-eap"},
        conf, road::kGoodPassword, "/run/netns/" + bed.clientNs);
    tap.collect(start, &times->firstOut, &times->lastIn);
    times->asked = run.asked;
    times->up = run.up;
    if (run.up < 0) std::fprintf(stderr, "charon-cmd said:\n%s\n", run.said.c_str());
    return run.up;
}

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
            if (rawSide && rawCharonCmd(bed, tap, &t) < 0) {
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
