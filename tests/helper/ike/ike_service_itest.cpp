// A real IKEv2 road: a strongSwan responder (EAP-MSCHAPv2, server
// certificate) in one network namespace, the helper's IKE service with its
// own charon in another.
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <thread>

#include "helper/ike/charon_runner.h"
#include "support/ike_testbed.h"
#include "helper/ike/ike_service.h"
#include "helper/ike/ipsec_transport_vici.h"
#include "helper/esp_probe.h"
#include "helper/ppp/ppp_links.h"
#include "support/temp_dir.h"
#include "support/capture_log.h"

namespace hw::ike {
namespace {

using road::RoadSuite;
using road::kGoodPassword;
using road::kServerIp;
using road::kServerName;
using road::kUser;
using road::readFile;
using road::tail;

using namespace std::chrono_literals;

class RecordingChannel final : public IkeChannel {
public:
    explicit RecordingChannel(std::string password) : password_(std::move(password)) {}
    ~RecordingChannel() override {
        if (onGone) onGone();
    }
    void sendEvent(const std::string& event, const std::string& key, const std::string& value) override {
        std::lock_guard lock(mutex_);
        if (event == "log") {
            logs.push_back(value);
        } else {
            events.push_back(key.empty() ? event : event + ":" + value);
        }
        changed_.notify_all();
    }
    std::optional<std::string> requestPassword(std::chrono::milliseconds) override {
        if (onAsked) onAsked();
        return password_;
    }
    // Waits (bounded) for an event other than log; answers it or "".
    std::string waitForFinal(std::chrono::milliseconds timeout, const std::string& wanted) {
        auto found = [&]() -> std::string {
            for (const auto& e : events)
                if (e == wanted || e.rfind("alert:", 0) == 0 || e == "down" || e == "child_down") return e;
            return {};
        };
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return !found().empty(); });
        return found();
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex_);
        return events;
    }
    std::vector<std::string> events;
    std::vector<std::string> logs;
    std::function<void()> onAsked;
    std::function<void()> onGone;

private:
    std::string password_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

class IkeRoad : public RoadSuite {
protected:
    void SetUp() override {
        if (!bed_->why.empty()) GTEST_SKIP() << bed_->why;
        log_ = test::CaptureLog::install();
        ::setenv("HAVENWAY_TEST_CA", (bed_->dir + "/ca.pem").c_str(), 1);
        options_ = defaultIkeServiceOptions();
        ::unsetenv("HAVENWAY_TEST_CA");
        options_.charon.workDir = bed_->dir + "/cli" + std::to_string(++counter_);
        options_.charon.netnsPath = "/run/netns/" + bed_->clientNs;
        options_.charon.retransmitTries = 2;
        options_.charon.retransmitTimeoutSeconds = 0.5;
        options_.charon.retransmitBase = 1.4;
        options_.initiateTimeout = 30s;
    }
    void TearDown() override {
        log::setSink(nullptr);
        if (HasFailure() && bed_) {
            const std::string tail = readFile(bed_->responder->logPath());
            std::cerr << "responder log:\n" << tail.substr(tail.size() > 4000 ? tail.size() - 4000 : 0) << "\n";
        }
    }

    IkeStartRequest request(std::string hostIp = kServerIp) {
        return IkeStartRequest{"Havenway_IKEv2", kServerName, std::move(hostIp), kUser};
    }

    IkeServiceOptions options_;
    std::shared_ptr<test::CaptureLog> log_;
};

TEST_F(IkeRoad, GoodPasswordConnectsAndStopTearsTheSaDown) {
    auto channel = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_, bed_->runner);
    ASSERT_EQ(service.start(request(), channel), "");
    ASSERT_EQ(channel->waitForFinal(15s, "child_up"), "child_up") << tail(channel->logs);
    EXPECT_EQ(channel->snapshot().front(), "connecting");

    // The responder holds the SA while we are up, and not after the stop.
    EXPECT_EQ(road::responderSaCount(*bed_), 1);
    EXPECT_EQ(service.stop(false), "");
    EXPECT_EQ(channel->snapshot().back(), "down");
    EXPECT_EQ(road::responderSaCount(*bed_), 0);
    EXPECT_FALSE(log_->contains(kGoodPassword));
    // Nothing needs charon now: it ends, and its folder with it.
    EXPECT_FALSE(service.charonRunning());
    EXPECT_FALSE(std::filesystem::exists(options_.charon.workDir));
}

// An app that goes away with the tunnel up (a crash) leaves it to the uid
// that started it: another uid cannot take it, the owner's next run hears it
// up and can stop it. One that goes away before the tunnel is up takes it down.
TEST_F(IkeRoad, ATunnelUpOutlivesItsAppForTheOwnersNextRun) {
    auto first = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_, bed_->runner);
    IkeStartRequest owned = request();
    owned.owner = 1000;
    ASSERT_EQ(service.start(owned, first), "");
    ASSERT_EQ(first->waitForFinal(15s, "child_up"), "child_up") << tail(first->logs);
    service.channelClosed(first.get());
    EXPECT_EQ(road::responderSaCount(*bed_), 1);
    // As the helper's channel does, its end may report its close once more.
    first->onGone = [&service, gone = first.get()] { service.channelClosed(gone); };
    first.reset();

    auto stranger = std::make_shared<RecordingChannel>("");
    EXPECT_NE(service.attach(1001, stranger), "");
    EXPECT_TRUE(stranger->snapshot().empty());
    auto next = std::make_shared<RecordingChannel>("");
    ASSERT_EQ(service.attach(1000, next), "");
    EXPECT_EQ(next->snapshot(), (std::vector<std::string>{"connecting", "child_up"}));
    EXPECT_EQ(service.stop(false, next.get()), "");
    EXPECT_EQ(next->snapshot().back(), "down");
    EXPECT_EQ(road::responderSaCount(*bed_), 0);
    EXPECT_NE(service.attach(1000, std::make_shared<RecordingChannel>("")), "") << "nothing runs any more";

    // Gone while connecting: nothing is left for anyone.
    auto early = std::make_shared<RecordingChannel>(kGoodPassword);
    ASSERT_EQ(service.start(owned, early), "");
    service.channelClosed(early.get());
    EXPECT_TRUE(test::waitFor([&] { return !service.charonRunning(); }, 15s));
    EXPECT_EQ(road::responderSaCount(*bed_), 0);
    EXPECT_NE(service.attach(1000, std::make_shared<RecordingChannel>("")), "");
}

// However early the app goes, the start ends and takes its charon with it,
// even when the close comes before there was anything to end.
TEST_F(IkeRoad, AChannelClosedAtAnyPointBeforeTheTunnelIsUpLeavesNothing) {
    enum class When { WhileAskedForThePassword, WhileInitiating };
    const struct {
        const char* name;
        When when;
    } rows[] = {
        {"while asked for the password", When::WhileAskedForThePassword},
        {"while initiating", When::WhileInitiating},
    };
    IkeService service(options_, bed_->runner);
    const auto charonStarts = [&] {
        long n = 0;
        for (const auto& line : log_->lines()) n += line.message.rfind("charon started", 0) == 0 ? 1 : 0;
        return n;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const long started = charonStarts();
        // A silent server keeps the initiation going, however slow the close.
        IkeStartRequest owned = request(row.when == When::WhileInitiating ? "10.79.0.2" : kServerIp);
        owned.owner = 1000;
        auto channel = std::make_shared<RecordingChannel>(kGoodPassword);
        std::atomic<bool> closed{false};
        if (row.when == When::WhileAskedForThePassword) {
            channel->onAsked = [&service, &closed, c = channel.get()] {
                service.channelClosed(c);
                closed = true;
                // The answer comes once the close's own end has run: it found no charon.
                std::promise<void> ran;
                service.stopAsync(false, c, [&ran](const std::string&) { ran.set_value(); });
                ran.get_future().wait_for(15s);
            };
        }
        ASSERT_EQ(service.start(owned, channel), "");
        if (row.when == When::WhileInitiating) {
            ASSERT_EQ(channel->waitForFinal(15s, "connecting"), "connecting") << tail(channel->logs);
        }
        if (row.when == When::WhileAskedForThePassword) {
            ASSERT_TRUE(test::waitFor([&] { return closed.load(); }, 15s));
        } else {
            service.channelClosed(channel.get());
        }
        // Not yet started is not ended: the start may still be on its way to it.
        test::waitFor([&] { return charonStarts() > started; }, 5s);
        EXPECT_TRUE(test::waitFor([&] { return !service.charonRunning(); }, 15s));
        EXPECT_EQ(road::responderSaCount(*bed_), 0);
        EXPECT_NE(service.attach(1000, std::make_shared<RecordingChannel>("")), "");
    }
}

// The app answers while charon starts; a charon started for this start
// holds no SA, so it is sent no terminate.
TEST_F(IkeRoad, ThePasswordIsAskedBeforeCharonStartsAndAFreshCharonIsSentNoTerminate) {
    auto channel = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_, bed_->runner);
    std::optional<bool> charonRanWhenAsked;
    channel->onAsked = [&] { charonRanWhenAsked = service.charonRunning(); };
    ASSERT_EQ(service.start(request(), channel), "");
    ASSERT_EQ(channel->waitForFinal(15s, "child_up"), "child_up") << tail(channel->logs);
    EXPECT_EQ(charonRanWhenAsked, false);
    const std::string log = readFile(options_.charon.workDir + "/run/charon.log");
    EXPECT_NE(log.find("vici initiate"), std::string::npos) << log;
    EXPECT_EQ(log.find("vici terminate"), std::string::npos) << log;
    EXPECT_EQ(service.stop(false), "");
}

TEST_F(IkeRoad, CharonDyingWhileUpReportsDownAndTheNextStartRunsANewOne) {
    auto first = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_, bed_->runner);
    ASSERT_EQ(service.start(request(), first), "");
    ASSERT_EQ(first->waitForFinal(15s, "child_up"), "child_up") << tail(first->logs);
    const int pid = std::atoi(readFile(options_.charon.workDir + "/run/charon.pid").c_str());
    ASSERT_GT(pid, 1);
    ::kill(pid, SIGKILL);
    EXPECT_EQ(first->waitForFinal(5s, "down"), "down");

    auto second = std::make_shared<RecordingChannel>(kGoodPassword);
    ASSERT_EQ(service.start(request(), second), "");
    EXPECT_EQ(second->waitForFinal(15s, "child_up"), "child_up") << tail(second->logs);
}

TEST_F(IkeRoad, NewerStartReplacesOneStuckInInitiateAndTheOlderHearsNothingMore) {
    auto stuck = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_, bed_->runner);
    ASSERT_EQ(service.start(request("10.79.0.2"), stuck), "");  // silent: waits in retransmits
    ASSERT_EQ(stuck->waitForFinal(5s, "connecting"), "connecting");
    auto fresh = std::make_shared<RecordingChannel>(kGoodPassword);
    ASSERT_EQ(service.start(request(), fresh), "");
    EXPECT_EQ(fresh->waitForFinal(15s, "child_up"), "child_up") << tail(fresh->logs);
    EXPECT_EQ(stuck->snapshot(), std::vector<std::string>{"connecting"});
    EXPECT_EQ(road::responderSaCount(*bed_), 1);
}

// Each way a start can fail ends in its own alert, through a real charon.
TEST_F(IkeRoad, EachFailureRaisesItsOwnAlert) {
    struct Row {
        const char* alert;
        const char* hostIp;
        const char* password = kGoodPassword;
        bool resolves = true;
        bool blocked = false;  // the name resolves to 0.0.0.0, as a blocking resolver answers
    };
    const Row rows[] = {
        {"local-auth", kServerIp, "wrong-password"},
        {"proposal-mismatch", road::kStrictServerIp},
        {"remote-auth", road::kRogueServerIp},
        {"dns", "", kGoodPassword, false},
        {"dns", "", kGoodPassword, true, true},
        {"timeout", "10.79.0.2"},  // silent
        {"unreachable", "10.80.0.1"},  // no route
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.alert);
        auto options = options_;
        // The responder pauses before it refuses an MS-CHAPv2 answer; our
        // retransmits must outlast that pause.
        if (row.password != std::string(kGoodPassword)) options.charon.retransmitTimeoutSeconds = 4;
        if (!row.resolves) options.resolve = [](const std::string&) -> std::optional<std::string> { return {}; };
        if (row.blocked) options.resolve = [](const std::string&) -> std::optional<std::string> { return "0.0.0.0"; };
        options.charon.workDir += std::string(row.alert) + (row.blocked ? "-blocked" : "");
        auto channel = std::make_shared<RecordingChannel>(row.password);
        IkeService service(options, bed_->runner);
        ASSERT_EQ(service.start(request(row.hostIp), channel), "");
        const std::string wanted = std::string("alert:") + row.alert;
        EXPECT_EQ(channel->waitForFinal(30s, wanted), wanted) << tail(channel->logs);
    }
    EXPECT_FALSE(log_->contains("wrong-password"));
}

TEST_F(IkeRoad, SecondDaemonInTheNamespaceGetsAClearError) {
    CharonOptions o;
    o.workDir = bed_->dir + "/second";
    o.netnsPath = "/run/netns/" + bed_->serverNs;
    CharonRunner second(o, bed_->runner);
    std::string error;
    EXPECT_FALSE(second.start(&error));
    EXPECT_NE(error.find("another program holds UDP port 500"), std::string::npos) << error;
}

TEST_F(IkeRoad, AnIpv6OnlyHolderOfTheNatTPortIsNamedAtOnce) {
    int holder = -1;
    std::thread([&] {
        const int ns = ::open(options_.charon.netnsPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) return;
        ::close(ns);
        holder = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(holder, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(4500);
        a.sin6_addr = in6addr_any;
        if (::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(holder);
            holder = -1;
        }
    }).join();
    ASSERT_GE(holder, 0);
    CharonRunner charon(options_.charon, bed_->runner);
    std::string error;
    EXPECT_FALSE(charon.start(&error));
    ::close(holder);
    EXPECT_NE(error.find("another program holds UDP port 4500"), std::string::npos) << error;
}

TEST_F(IkeRoad, OurOwnLeftoverCharonIsEndedRatherThanReportedAsABusyPort) {
    CharonOptions o = options_.charon;
    CharonRunner leftover(o, bed_->runner);
    std::string error;
    ASSERT_TRUE(leftover.start(&error)) << error;
    CharonRunner next(o, bed_->runner);
    EXPECT_TRUE(next.start(&error)) << error;
    EXPECT_FALSE(leftover.running());
}

// charon is started from a thread that ends with the connect; it lives as
// long as the helper that started it, and no longer: one left behind would
// carry traffic while the app says it is not connected.
TEST_F(IkeRoad, OurCharonEndsWithTheHelperThatStartedIt) {
    const CharonOptions o = options_.charon;
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    const pid_t helper = ::fork();
    if (helper == 0) {
        pid_t charon = -1;
        auto* runner = new CharonRunner(o, bed_->runner);  // kept: it goes with this process
        std::thread([&] {
            std::string error;
            if (runner->start(&error)) charon = runner->pid();
        }).join();
        [[maybe_unused]] auto n = ::write(report[1], &charon, sizeof charon);
        for (;;) ::pause();
    }
    ASSERT_GT(helper, 0);
    ::close(report[1]);
    pid_t charon = -1;
    [[maybe_unused]] auto n = ::read(report[0], &charon, sizeof charon);
    ::close(report[0]);
    auto runs = [](pid_t pid) {
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        return !stat.empty() && stat.find(") Z ") == std::string::npos;
    };
    const bool started = charon > 0 && runs(charon);
    ::kill(helper, SIGKILL);
    ::waitpid(helper, nullptr, 0);
    ASSERT_TRUE(started) << "no charon outlived the thread that started it";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (runs(charon) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    const bool ended = !runs(charon);
    CharonRunner(o, bed_->runner).endLeftovers();
    EXPECT_TRUE(ended) << "charon outlived its helper";
}

constexpr const char* kL2tpServerIp = "10.77.0.7";
constexpr const char* kPsk = "l2tp-shared-secret-9";
const std::string kService = "00112233445566778899aabbccddeeff";

// L2TP's IPsec through the same charon, against an IKEv1 PSK responder. Where
// the kernel lacks ESP, transport mode cannot be installed: the negotiation
// must then end in the kernel's refusal, at once and with nothing loaded.
class L2tpIpsecRoad : public IkeRoad {
protected:
    static void SetUpTestSuite() {
        RoadSuite::SetUpTestSuite();
        if (bed_->why.empty()) addResponder();
    }
    static void addResponder() {
        const std::string dev = "hwk" + std::to_string(::getpid());
        if (!road::ip({"-n", bed_->serverNs, "addr", "add", std::string(kL2tpServerIp) + "/24", "dev", dev})) {
            bed_->why = "cannot add the L2TP server's address";
            return;
        }
        ViciSection key;
        key.set("id", "l2tp").set("type", "IKE").set("data", kPsk);
        ViciSection conn;
        auto& c = conn.addSection("l2tp");
        c.set("version", "1").setList("local_addrs", {kL2tpServerIp});
        c.addSection("local").set("auth", "psk");
        c.addSection("remote").set("auth", "psk");
        auto& child = c.addSection("children").addSection("l2tp");
        child.set("mode", "transport").setList("local_ts", {"dynamic[udp/1701]"}).setList("remote_ts", {"dynamic[udp/1701]"});
        for (auto [cmd, body] : {std::pair{"load-shared", &key}, {"load-conn", &conn}}) {
            auto r = bed_->responderVici->request(cmd, *body, 5s);
            if (!r.succeeded()) bed_->why = std::string("responder ") + cmd + ": " + r.errmsg();
        }
    }

    void SetUp() override {
        IkeRoad::SetUp();
        if (IsSkipped()) return;
        auto options = options_;
        options.charon.retransmitTries = 1;
        options.charon.retransmitBase = 1.0;
        ike_ = std::make_shared<IkeService>(options, bed_->runner);
        L2tpIpsecOptions transportOptions;
        transportOptions.establishTimeout = 10s;
        transport_ = std::make_unique<ViciIpsecTransport>(
            [this](ViciClient::EventHandler h, std::string* error) { return ike_->connectToCharon(std::move(h), error); },
            transportOptions, [this] { ike_->charonReleased(); });
    }
    void TearDown() override {
        IkeRoad::TearDown();
        transport_.reset();
        ike_.reset();
    }

    // The connections the client's charon holds.
    std::vector<std::string> loadedConnections() {
        std::vector<std::string> names;
        std::mutex mutex;
        std::string error;
        auto vici = ike_->connectToCharon(
            [&](const std::string& event, const ViciSection& body) {
                if (event != "list-conn") return;
                std::lock_guard lock(mutex);
                for (const auto& e : body.entries()) names.push_back(e.key);
            },
            &error);
        EXPECT_TRUE(vici) << error;
        if (!vici || !vici->registerEvent("list-conn", 5s, &error)) return {"?"};
        vici->request("list-conns", {}, 5s);
        vici->close();
        std::lock_guard lock(mutex);
        return names;
    }

    helper::ppp::IpsecTransport::Request request(std::string remote = kL2tpServerIp, std::string psk = kPsk) {
        return {kService, std::move(remote), std::move(psk)};
    }

    std::shared_ptr<IkeService> ike_;
    std::unique_ptr<ViciIpsecTransport> transport_;
};

TEST_F(L2tpIpsecRoad, CharonTakesTheConnectionAndNegotiatesWithTheKey) {
    // Either way charon took our proposal set: it refuses one it cannot build.
    std::string error;
    const bool up = transport_->up(request(), &error);
    if (helper::kernelSupportsEsp(bed_->runner)) {
        ASSERT_TRUE(up) << error;
        transport_->down(kService);
    } else {
        // Main mode completed with the key; quick mode's SA has nowhere to go.
        EXPECT_FALSE(up);
        EXPECT_EQ(error, "the kernel refused the IPsec security association");
    }
    EXPECT_TRUE(loadedConnections().empty());
    EXPECT_FALSE(log_->contains(kPsk));
}

TEST_F(L2tpIpsecRoad, AWrongKeyOrASilentServerFailsBoundedWithItsCauseAndCharonEnds) {
    std::string error;
    EXPECT_FALSE(transport_->up(request(kL2tpServerIp, "not-the-key"), &error));
    EXPECT_EQ(error, "the L2TP server refused the IPsec pre-shared key");
    EXPECT_FALSE(log_->contains("not-the-key"));
    // No service needs charon any more.
    EXPECT_TRUE(hw::test::waitFor([&] { return !ike_->charonRunning(); }, 10s));

    EXPECT_FALSE(transport_->up(request("10.79.0.9"), &error));
    EXPECT_EQ(error, "the L2TP server did not answer the IPsec negotiation");
    EXPECT_TRUE(loadedConnections().empty());
}

// Stands in for xl2tpd: waits until it is told to end.
constexpr char kStandInXl2tpd[] = R"SH(#!/bin/sh
trap 'exit 0' TERM
while :; do sleep 5 & wait $!; done
)SH";

class RecordingTransport final : public helper::ppp::IpsecTransport {
public:
    bool up(const Request& r, std::string*) override {
        std::lock_guard lock(mutex);
        calls.push_back("up " + r.remote);
        return true;
    }
    void down(const std::string&) override {
        std::lock_guard lock(mutex);
        calls.push_back("down");
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;
};

std::string routeTo(const std::string& address) {
    std::string out;
    road::runTool({"ip", "route", "show", address + "/32"}, 5s, &out);
    return out;
}

TEST(L2tpLink, TheServerKeepsAHostRouteThroughTheGatewayWhileTheLinkRuns) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
    hw::test::TempDir dir;
    auto transport = std::make_shared<RecordingTransport>();
    helper::ppp::setIpsecTransport(transport);
    std::string failure;
    // Namespaces belong to a thread: this one's network is its own, and so is
    // that of every process it and the link's monitor start.
    std::thread([&] {
        auto check = [&](bool ok, const std::string& what) {
            if (!ok && failure.empty()) failure = what;
            return ok;
        };
        if (!check(::unshare(CLONE_NEWNET) == 0, "unshare")) return;
        auto ip = road::ip;
        if (!check(ip({"link", "add", "d0", "type", "veth", "peer", "name", "d1"}) &&
                       ip({"addr", "add", "10.66.0.2/24", "dev", "d0"}) && ip({"link", "set", "d1", "up"}) &&
                       ip({"link", "set", "d0", "up"}) && ip({"route", "add", "default", "via", "10.66.0.1"}),
                   "wiring the namespace"))
            return;
        auto paths = helper::ppp::PppPaths::under(dir.path() + "/state", dir.path() + "/run");
        paths.logFile = dir.file("ppp.log");
        paths.xl2tpd = dir.file("xl2tpd");
        hw::test::TempDir::write(paths.xl2tpd, kStandInXl2tpd);
        ::chmod(paths.xl2tpd.c_str(), 0755);
        PosixProcessRunner runner;
        std::optional<helper::ppp::PppLinks> links;
        links.emplace(paths, runner, [](std::string*) { return true; });
        helper::ppp::PppService service{kService, "Havenway", helper::ppp::PppServiceType::L2TP, "203.0.113.5", "alice"};
        std::string error;
        if (!check(links->start(service, {"password", kPsk}, &error), "start: " + error)) return;
        check(routeTo("203.0.113.5").find("via 10.66.0.1 dev d0") != std::string::npos, "no host route while up");
        links->stop(kService, true);
        {
            std::unique_lock lock(transport->mutex);
            check(transport->changed.wait_for(lock, 10s, [&] { return transport->calls.size() == 2; }), "no down");
        }
        // The link's monitor removes the route after taking IPsec down; going
        // away joins it.
        links.reset();
        check(routeTo("203.0.113.5").empty(), "the host route outlived the link");
    }).join();
    helper::ppp::setIpsecTransport(nullptr);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(transport->calls, (std::vector<std::string>{"up 203.0.113.5", "down"}));
}

}  // namespace
}  // namespace hw::ike
