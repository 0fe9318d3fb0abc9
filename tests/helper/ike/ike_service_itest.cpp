// A real IKEv2 road: a strongSwan responder (EAP-MSCHAPv2, server
// certificate) in one network namespace, the helper's IKE service with its
// own charon in another.
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "helper/ike/charon_runner.h"
#include "helper/ike/ike_testbed.h"
#include "helper/ike/ike_service.h"
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
    void sendEvent(const std::string& event, const std::string& key, const std::string& value) override {
        std::lock_guard lock(mutex_);
        if (event == "log") {
            logs.push_back(value);
        } else {
            events.push_back(key.empty() ? event : event + ":" + value);
        }
        changed_.notify_all();
    }
    std::optional<std::string> requestPassword(std::chrono::milliseconds) override { return password_; }
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
    };
    const Row rows[] = {
        {"local-auth", kServerIp, "wrong-password"},
        {"proposal-mismatch", road::kStrictServerIp},
        {"remote-auth", road::kRogueServerIp},
        {"dns", "", kGoodPassword, false},
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
        options.charon.workDir += row.alert;
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

}  // namespace
}  // namespace hw::ike
