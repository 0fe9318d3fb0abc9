// L2TP's IPsec through the helper's one charon, against a real IKEv1 PSK
// responder in a network namespace. Where the kernel lacks ESP, transport
// mode cannot be installed: the negotiation must then end in the kernel's
// refusal, at once and with nothing left loaded.
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <gtest/gtest.h>
#include <iostream>
#include <optional>
#include <thread>

#include "helper/ike/ike_service.h"
#include "helper/ike/ike_testbed.h"
#include "helper/ike/ipsec_transport_vici.h"
#include "helper/esp_probe.h"
#include "helper/ppp/ppp_links.h"
#include "support/temp_dir.h"
#include "support/capture_log.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;

constexpr const char* kL2tpServerIp = "10.77.0.7";
constexpr const char* kPsk = "l2tp-shared-secret-9";
const std::string kService = "00112233445566778899aabbccddeeff";

class L2tpIpsecRoad : public road::RoadSuite {
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
        if (!bed_->why.empty()) GTEST_SKIP() << bed_->why;
        log_ = test::CaptureLog::install();
        auto options = defaultIkeServiceOptions();
        options.charon.workDir = bed_->dir + "/l2tp" + std::to_string(++counter_);
        options.charon.netnsPath = "/run/netns/" + bed_->clientNs;
        options.charon.retransmitTries = 1;
        options.charon.retransmitTimeoutSeconds = 0.5;
        options.charon.retransmitBase = 1.0;
        ike_ = std::make_shared<IkeService>(options, bed_->runner);
        L2tpIpsecOptions transportOptions;
        transportOptions.establishTimeout = 10s;
        transport_ = std::make_unique<ViciIpsecTransport>(
            [this](ViciClient::EventHandler h, std::string* error) { return ike_->connectToCharon(std::move(h), error); },
            transportOptions, [this] { ike_->charonReleased(); });
    }
    void TearDown() override {
        log::setSink(nullptr);
        if (HasFailure() && bed_) {
            const std::string text = road::readFile(bed_->responder->logPath());
            std::cerr << "responder log:\n" << text.substr(text.size() > 3000 ? text.size() - 3000 : 0) << "\n";
        }
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

    std::shared_ptr<test::CaptureLog> log_;
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
