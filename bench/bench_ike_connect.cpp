// Time to an IKEv2 tunnel against the same strongSwan responder (EAP-MSCHAPv2,
// server certificate), in one run, alternating:
//   raw   charon-cmd started by hand -> its CHILD_SA established
//   road  the helper's "start_connection" -> the password asked and given ->
//         "child_up", the helper's own charon started on the way
// Each run starts only once the previous charon has exited. Prints the
// medians and the ratio. Needs root; skips otherwise.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench_helper.h"
#include "helper/esp_probe.h"
#include "platform/helper_socket.h"
#include "support/child_process.h"
#include "support/ike_testbed.h"

namespace {

using namespace hw;
using namespace hw::ike;
using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The road's own charon settings (ports, plugins, ESP backend) for
// charon-cmd, whose defaults differ; its files go to the bench's folder.
std::string charonCmdConf(const road::Testbed& bed) {
    PosixProcessRunner runner;
    std::string conf = CharonRunner::strongswanConf(CharonOptions{}, !helper::kernelSupportsEsp(runner));
    auto replace = [&](const std::string& from, const std::string& to) {
        if (auto at = conf.find(from); at != std::string::npos) conf.replace(at, from.size(), to);
    };
    replace("charon {", "charon-cmd {");
    replace("/run/charon.vici", bed.dir + "/charon-cmd.vici");
    replace("/run/charon.log", "stderr");  // on its terminal, where the bench reads it
    return conf;
}

// charon-cmd asks for the EAP password on its terminal: a pty answers it.
double rawCharonCmd(const road::Testbed& bed, double* asked) {
    const std::string ca = bed.dir + "/ca.pem", ns = "/run/netns/" + bed.clientNs, conf = bed.dir + "/charon-cmd.conf";
    std::ofstream(conf) << charonCmdConf(bed);
    const auto start = Clock::now();
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) return -1;
    if (pid == 0) {
        const int fd = ::open(ns.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0 || ::setenv("STRONGSWAN_CONF", conf.c_str(), 1) != 0) ::_exit(127);
        ::execl("/usr/sbin/charon-cmd", "charon-cmd", "--host", road::kServerIp, "--identity", road::kUser,
                "--remote-identity", road::kServerName, "--cert", ca.c_str(), "--profile", "ikev2-eap", nullptr);
        ::_exit(127);
    }
    std::string seen;
    double established = -1;
    bool answered = false;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (established < 0 && Clock::now() < deadline) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
        if (!answered && seen.find("assword") != std::string::npos) {
            *asked = millisSince(start);
            const std::string line = std::string(road::kGoodPassword) + "\n";
            answered = ::write(terminal, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        }
        const auto child = seen.find("CHILD_SA");
        if (child != std::string::npos && seen.find("established", child) != std::string::npos)
            established = millisSince(start);
    }
    ::kill(pid, SIGINT);
    hw::test::waitChild(pid, std::chrono::seconds(10));  // gone before the next run: killed at the bound
    ::close(terminal);
    if (established < 0) std::fprintf(stderr, "charon-cmd said:\n%s\n", seen.substr(seen.size() > 2000 ? seen.size() - 2000 : 0).c_str());
    return established;
}

// start_connection -> child_up on the real helper, the password given when
// asked; then the app's stop, which answers once charon has ended.
double connectAndStop(BenchHelper& helper, double* answered, double* asked) {
    auto [mine, theirs] = makeHelperSocketPair();
    HelperMessage m{{"type", "rpc"},          {"rpc", "start_connection"}, {"name", "Havenway_IKEv2"},
                    {"host", road::kServerName}, {"host_ip", road::kServerIp}, {"id", road::kUser}};
    m["channel"] = HelperValue(std::make_shared<UniqueFd>(std::move(theirs)));
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

    std::vector<double> raw, rawAsked, road, answered, asked;
    for (int i = 0; i < runs; ++i) {
        double rawPrompt = 0;
        const double r = rawCharonCmd(bed, &rawPrompt);
        if (r < 0) {
            std::fprintf(stderr, "the responder's log:\n%s\n", road::readFile(bed.responder->logPath()).c_str());
            return std::puts("bench_ike_connect: charon-cmd did not connect"), 1;
        }
        raw.push_back(r);
        rawAsked.push_back(rawPrompt);
        double a = 0, p = 0;
        const double t = connectAndStop(helper, &a, &p);
        if (t < 0) return std::puts("bench_ike_connect: the road did not connect"), 1;
        road.push_back(t);
        answered.push_back(a);
        asked.push_back(p);
    }
    auto line = [](const char* label, const std::vector<double>& v) {
        std::printf("%-40s %10.1f %10.1f %10.1f\n", label, median(v), *std::min_element(v.begin(), v.end()),
                    *std::max_element(v.begin(), v.end()));
    };
    std::printf("%-40s %10s %10s %10s\n", "", "median_ms", "min_ms", "max_ms");
    line("raw charon-cmd to CHILD_SA established", raw);
    line("  of which to the password asked", rawAsked);
    line("our road: start_connection to child_up", road);
    // Where the road's time goes: the helper's answer (charon started, the
    // connection loaded, the initiation begun), the password asked for
    // after the server's certificate, then the rest of the exchange.
    line("  of which to the helper's answer", answered);
    line("  of which to the password asked", asked);
    std::printf("ratio road / raw: %.2f over %d runs each\n", median(road) / median(raw), runs);
    return 0;
}
