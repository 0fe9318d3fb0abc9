// The helper binary on the IKEv2 road: the kill switch with the tunnel
// through it, and what is left of the tunnel when the helper dies.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include <thread>

#include "support/ike_testbed.h"
#include "helper/netns_testbed.h"
#include "helper/running_helper.h"
#include "platform/helper_socket.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;

constexpr const char* kInner = "10.88.0.1";    // the server's, reached only through the tunnel
constexpr const char* kOutside = "10.77.0.9";  // on the client's link
constexpr const char* kClientDevice = "hwk";   // the client's end of the veth, + pid + "c"

// The app's end of one IKEv2 start: answers the password request and
// collects the events until the one wanted.
class AppChannel {
public:
    bool start(helper::test::RunningHelper& helper) {
        auto [mine, theirs] = makeHelperSocketPair();
        mine_ = std::move(mine);
        HelperMessage m{{"type", "rpc"},          {"rpc", "start_connection"}, {"name", "Havenway_IKEv2"},
                        {"host", road::kServerName}, {"host_ip", road::kServerIp}, {"id", road::kUser}};
        m["channel"] = HelperValue(std::make_shared<UniqueFd>(std::move(theirs)));
        auto reply = helper.request(std::move(m));
        return reply && helperString(*reply, "reply") && *helperString(*reply, "reply") == "YES";
    }
    bool waitFor(const std::string& wanted, std::chrono::seconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            auto in = receiveHelperMessage(mine_.get(), 500, nullptr);
            if (!in) continue;
            if (const auto* rpc = helperString(in->message, "rpc"); rpc && *rpc == "get_password" && in->replyChannel) {
                sendHelperMessage(in->replyChannel.get(), {{"password", road::kGoodPassword}}, -1, 2000, nullptr);
                continue;
            }
            if (const auto* event = helperString(in->message, "event")) {
                events.push_back(*event);
                if (*event == wanted) return true;
            }
        }
        return false;
    }
    // The app's stop, over the start's own channel.
    bool stop() {
        auto [mine, theirs] = makeHelperSocketPair();
        if (!sendHelperMessage(mine_.get(), {{"type", "rpc"}, {"rpc", "stop_connection"}}, theirs.get(), 2000, nullptr))
            return false;
        theirs.reset();
        auto reply = receiveHelperMessage(mine.get(), 15000, nullptr);
        const std::string* text = reply ? helperString(reply->message, "reply") : nullptr;
        return text && *text == "YES";
    }
    std::vector<std::string> events;

private:
    UniqueFd mine_;
};

class HelperOnTheRoad : public road::RoadSuite {
protected:
    void SetUp() override {
        if (!bed_->why.empty()) GTEST_SKIP() << bed_->why;
        dir_ = bed_->dir + "/helper" + std::to_string(++counter_);
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ + "/helper.conf") << "uid=12345\n";
        std::ofstream(dir_ + "/resolv.conf") << "nameserver 10.77.0.1\n";
        device_ = kClientDevice + std::to_string(::getpid()) + "c";
        // A way out for the lock to save, and an address behind the server.
        ASSERT_TRUE(road::ip({"-n", bed_->clientNs, "route", "replace", "default", "via", road::kServerIp}));
        ASSERT_TRUE(road::ip({"-n", bed_->serverNs, "addr", "replace", std::string(kInner) + "/32", "dev", "lo"}));
        helper_ = std::make_unique<helper::test::RunningHelper>(
            bed_->clientNs, dir_, std::vector<std::string>{"HAVENWAY_TEST_CA=" + bed_->dir + "/ca.pem"});
        ASSERT_TRUE(helper_->start());
    }
    void TearDown() override {
        if (!helper_) return;
        helper_->stop();
        helper_->runOnce({"--reset"});
        helper_.reset();
        road::ip({"-n", bed_->clientNs, "route", "del", "default"});
    }

    // Lock on the way the app engages it for a connect, then the tunnel.
    void connectUnderTheLock(AppChannel& app) {
        ASSERT_EQ(helper_->rpc("staticRouteAddingProcessing",
                               {{"vpnServerAddress", road::kServerIp}, {"defaultGateway", road::kServerIp}}),
                  road::kServerIp);
        ASSERT_EQ(helper_->rpc("enableNetworkLock"), road::kServerIp);
        ASSERT_EQ(helper_->rpc("install_DNS_for_VPN"), "YES");
        ASSERT_EQ(helper_->rpc("disableIPV6"), "YES");
        ASSERT_TRUE(app.start(*helper_));
        ASSERT_TRUE(app.waitFor("child_up", 20s)) << testing::PrintToString(app.events);
    }

    // bindDevice sends it past the tunnel's routes, as clear traffic.
    bool udpArrives(const std::string& host, int port, bool bindDevice = false) {
        return helper::test::NetnsTestbed::udpArrives(bed_->clientNs, bed_->serverNs, host, port,
                                                      bindDevice ? device_ : std::string());
    }

    // Its charon ends with the helper (a tunnel nobody can end would carry
    // traffic the app says is not there); answers that charon.
    int connectThenCrash(AppChannel& app) {
        connectUnderTheLock(app);
        if (HasFatalFailure()) return -1;
        const int charon = charonPid();
        helper_->kill();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (runs(charon) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(runs(charon)) << "charon outlived its helper";
        return charon;
    }

    long long droppedOut() { return helper::test::NetnsTestbed::droppedOutIn(bed_->clientNs); }

    std::string client(std::vector<std::string> args) {
        args.insert(args.begin(), {"ip", "-n", bed_->clientNs});
        std::string out;
        road::runTool(args, 5s, &out);
        return out;
    }

    int charonPid() { return std::atoi(road::readFile(dir_ + "/run/ike/run/charon.pid").c_str()); }
    static bool runs(int pid) {
        const std::string stat = road::readFile("/proc/" + std::to_string(pid) + "/stat");
        const auto close = stat.rfind(')');
        return close != std::string::npos && stat.compare(close + 2, 1, "Z") != 0;
    }

    // Nothing of the tunnel is left in the client's namespace.
    void expectNoTunnelLeft(int charon) {
        EXPECT_FALSE(runs(charon));
        EXPECT_EQ(client({"link", "show"}).find("ipsec"), std::string::npos);
        const std::string rules = client({"rule", "show"});
        EXPECT_EQ(rules.find("lookup 4220"), std::string::npos) << rules;
        EXPECT_EQ(rules.find("lookup 220"), std::string::npos) << rules;
        EXPECT_EQ(client({"route", "show", "table", "4220"}), "");
        EXPECT_EQ(client({"route", "get", kInner}).find("ipsec"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/run/ike"));
    }

    std::string dir_;
    std::string device_;
    std::unique_ptr<helper::test::RunningHelper> helper_;
};

TEST_F(HelperOnTheRoad, TheLockPassesTheTunnelAndNothingElse) {
    AppChannel app;
    connectUnderTheLock(app);
    EXPECT_TRUE(udpArrives(kInner, 9999));

    const long long before = droppedOut();
    EXPECT_FALSE(udpArrives(kOutside, 9999, true));
    // IKE's ports lead to the server only.
    EXPECT_FALSE(udpArrives(kOutside, 4500, true));
    EXPECT_FALSE(udpArrives(kOutside, 500, true));
    EXPECT_GE(droppedOut(), before + 3);
}

TEST_F(HelperOnTheRoad, DisconnectEndsCharonAndEverythingItInstalled) {
    AppChannel app;
    connectUnderTheLock(app);
    const int charon = charonPid();
    ASSERT_TRUE(runs(charon));
    // Its own table, so that clearing it can never touch another daemon's.
    EXPECT_NE(client({"rule", "show"}).find("lookup 4220"), std::string::npos);
    ASSERT_TRUE(app.stop());
    expectNoTunnelLeft(charon);
}

TEST_F(HelperOnTheRoad, AKilledHelpersTunnelStaysLockedAndResetRemovesIt) {
    AppChannel app;
    const int charon = connectThenCrash(app);
    const long long before = droppedOut();
    EXPECT_FALSE(udpArrives(kOutside, 9999, true));
    EXPECT_GT(droppedOut(), before);

    EXPECT_EQ(helper_->runOnce({"--reset"}), 0);
    expectNoTunnelLeft(charon);
    EXPECT_NE(client({"route", "get", kOutside}).find("dev " + device_), std::string::npos);
    EXPECT_TRUE(udpArrives(road::kServerIp, 9999));
}

TEST_F(HelperOnTheRoad, AHelperStartingAfterACrashEndsTheOrphanedTunnelFirst) {
    AppChannel app;
    const int charon = connectThenCrash(app);
    ASSERT_TRUE(helper_->start());
    EXPECT_FALSE(runs(charon));
    EXPECT_EQ(client({"link", "show"}).find("ipsec"), std::string::npos);
    // The lock stays (fail closed) until the app or --reset lifts it.
    EXPECT_GE(droppedOut(), 0);
}

}  // namespace
}  // namespace hw::ike
