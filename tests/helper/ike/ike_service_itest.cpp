// A real IKEv2 road: a strongSwan responder (EAP-MSCHAPv2, server
// certificate) in one network namespace, the helper's IKE service with its
// own charon in another.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>

#include "helper/ike/charon_runner.h"
#include "helper/ike/ike_service.h"
#include "helper/ike/run_program.h"
#include "helper/ike/vici_client.h"
#include "support/capture_log.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kUser = "alice";
constexpr const char* kGoodPassword = "correct-horse-77";
constexpr const char* kServerName = "vpn.havenway.test";
constexpr const char* kServerIp = "10.77.0.1";

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string tail(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = lines.size() > 12 ? lines.size() - 12 : 0; i < lines.size(); ++i) out += lines[i] + "\n";
    return out;
}

bool ip(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/sbin/ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, 5s) == 0;
}

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
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] {
            for (const auto& e : events) {
                if (e == wanted || e.rfind("alert:", 0) == 0 || e == "down" || e == "child_down") return true;
            }
            return false;
        });
        for (const auto& e : events) {
            if (e == wanted || e.rfind("alert:", 0) == 0 || e == "down" || e == "child_down") return e;
        }
        return {};
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

// The two namespaces, the test PKI and the responder live for the suite.
struct Testbed {
    std::string why;  // set when the machine cannot run the road
    std::string dir;
    std::string serverNs, clientNs;
    std::unique_ptr<CharonRunner> responder;
    std::unique_ptr<ViciClient> responderVici;

    bool setUp() {
        if (::geteuid() != 0) return fail("needs root for network namespaces and charon");
        for (const char* p : {"/usr/lib/ipsec/charon", "/usr/bin/pki", "/usr/sbin/ip"}) {
            if (::access(p, X_OK) != 0) return fail(std::string(p) + " is not installed");
        }
        char tmpl[] = "/tmp/hwike-XXXXXX";
        if (!::mkdtemp(tmpl)) return fail("no temporary folder");
        dir = tmpl;
        const std::string tag = std::to_string(::getpid());
        serverNs = "hwike-s-" + tag;
        clientNs = "hwike-c-" + tag;
        if (!ip({"netns", "add", serverNs}) || !ip({"netns", "add", clientNs})) return fail("cannot create network namespaces");
        const bool linked = ip({"-n", serverNs, "link", "set", "lo", "up"}) && ip({"-n", clientNs, "link", "set", "lo", "up"}) &&
                            ip({"link", "add", "hwk" + tag, "netns", serverNs, "type", "veth", "peer", "name", "hwk" + tag + "c", "netns", clientNs}) &&
                            ip({"-n", serverNs, "addr", "add", "10.77.0.1/24", "dev", "hwk" + tag}) &&
                            ip({"-n", serverNs, "link", "set", "hwk" + tag, "up"}) &&
                            ip({"-n", clientNs, "addr", "add", "10.77.0.2/24", "dev", "hwk" + tag + "c"}) &&
                            ip({"-n", clientNs, "link", "set", "hwk" + tag + "c", "up"}) &&
                            // A silent network: the server's side does not forward, and drops
                            // what is not its own without a word.
                            ip({"-n", clientNs, "route", "add", "10.79.0.0/24", "via", kServerIp});
        if (!linked) return fail("cannot wire the namespaces");
        if (!makePki()) return fail("pki could not make the test certificates");
        return startResponder();
    }

    bool fail(std::string reason) {
        why = std::move(reason);
        return false;
    }

    bool pki(const std::vector<std::string>& args, const std::string& out) {
        std::vector<std::string> argv{"/usr/bin/pki"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string text;
        if (runProgram(argv, 20s, &text) != 0) return false;
        std::ofstream f(dir + "/" + out);
        f << text;
        return bool(f);
    }

    bool makePki() {
        return pki({"--gen", "--type", "ecdsa", "--size", "256", "--outform", "pem"}, "ca.key") &&
               pki({"--self", "--ca", "--lifetime", "2", "--in", dir + "/ca.key", "--type", "ecdsa", "--dn",
                    "CN=Havenway Test CA", "--outform", "pem"},
                   "ca.pem") &&
               pki({"--gen", "--type", "ecdsa", "--size", "256", "--outform", "pem"}, "server.key") &&
               pki({"--issue", "--cacert", dir + "/ca.pem", "--cakey", dir + "/ca.key", "--type", "priv", "--in",
                    dir + "/server.key", "--dn", std::string("CN=") + kServerName, "--san", kServerName, "--flag",
                    "serverAuth", "--flag", "ikeIntermediate", "--lifetime", "2", "--outform", "pem"},
                   "server.pem");
    }

    bool startResponder() {
        CharonOptions o;
        o.workDir = dir + "/srv";
        o.netnsPath = "/run/netns/" + serverNs;
        responder = std::make_unique<CharonRunner>(o);
        std::string error;
        if (!responder->start(&error)) return fail("responder charon: " + error);
        responderVici = std::make_unique<ViciClient>();
        if (!responderVici->connect(responder->viciSocketPath(), &error)) return fail(error);
        ViciSection key;
        key.set("type", "ecdsa").set("data", readFile(dir + "/server.key"));
        ViciSection pool;
        pool.addSection("hwpool").set("addrs", "10.99.0.0/24");
        ViciSection secret;
        secret.set("id", "alice").set("type", "EAP").set("data", kGoodPassword).setList("owners", {kUser});
        ViciSection conn;
        auto& c = conn.addSection("srv");
        c.set("version", "2").setList("local_addrs", {kServerIp}).setList("pools", {"hwpool"}).set("send_certreq", "no");
        c.addSection("local").set("auth", "pubkey").setList("certs", {readFile(dir + "/server.pem")}).set("id", kServerName);
        c.addSection("remote").set("auth", "eap-mschapv2").set("eap_id", "%any");
        c.addSection("children").addSection("srv").setList("local_ts", {"0.0.0.0/0"});
        for (auto [cmd, body] : {std::pair{"load-key", &key}, {"load-pool", &pool}, {"load-shared", &secret}, {"load-conn", &conn}}) {
            auto r = responderVici->request(cmd, *body, 5s);
            if (!r.succeeded()) return fail(std::string("responder ") + cmd + ": " + r.errmsg());
        }
        return true;
    }

    ~Testbed() {
        responderVici.reset();
        responder.reset();
        if (!clientNs.empty()) runProgram({"/usr/sbin/ip", "netns", "delete", clientNs}, 5s);
        if (!serverNs.empty()) runProgram({"/usr/sbin/ip", "netns", "delete", serverNs}, 5s);
        if (!dir.empty()) {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    }
};

class IkeRoad : public testing::Test {
protected:
    static void SetUpTestSuite() {
        bed_ = new Testbed;
        bed_->setUp();
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }
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

    static Testbed* bed_;
    static int counter_;
    IkeServiceOptions options_;
    std::shared_ptr<test::CaptureLog> log_;
};
Testbed* IkeRoad::bed_ = nullptr;
int IkeRoad::counter_ = 0;

TEST_F(IkeRoad, GoodPasswordConnectsAndStopTearsTheSaDown) {
    auto channel = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_);
    ASSERT_EQ(service.start(request(), channel), "");
    ASSERT_EQ(channel->waitForFinal(15s, "child_up"), "child_up") << tail(channel->logs);
    EXPECT_EQ(channel->snapshot().front(), "connecting");

    // The responder holds the SA while we are up, and not after the stop.
    std::atomic<int> listed{0};
    ViciClient watcher;
    watcher.setEventHandler([&](const std::string& name, const ViciSection& body) {
        if (name == "list-sa" && body.section("srv")) ++listed;
    });
    std::string error;
    ASSERT_TRUE(watcher.connect(bed_->responder->viciSocketPath(), &error)) << error;
    ASSERT_TRUE(watcher.registerEvent("list-sa", 5s, &error)) << error;
    ASSERT_TRUE(watcher.request("list-sas", {}, 5s).ok);
    EXPECT_EQ(listed.load(), 1);

    EXPECT_EQ(service.stop(false), "");
    EXPECT_EQ(channel->snapshot().back(), "down");
    listed = 0;
    ASSERT_TRUE(watcher.request("list-sas", {}, 5s).ok);
    EXPECT_EQ(listed.load(), 0);
    EXPECT_FALSE(log_->contains(kGoodPassword));
}

TEST_F(IkeRoad, WrongPasswordRaisesLocalAuth) {
    // The responder pauses before it refuses an MS-CHAPv2 answer; our
    // retransmits must outlast that pause.
    options_.charon.retransmitTimeoutSeconds = 4;
    auto channel = std::make_shared<RecordingChannel>("wrong-password");
    IkeService service(options_);
    ASSERT_EQ(service.start(request(), channel), "");
    EXPECT_EQ(channel->waitForFinal(30s, "alert:local-auth"), "alert:local-auth") << tail(channel->logs);
    EXPECT_FALSE(log_->contains("wrong-password"));
}

TEST_F(IkeRoad, SilentServerTimesOut) {
    auto channel = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_);
    ASSERT_EQ(service.start(request("10.79.0.2"), channel), "");
    EXPECT_EQ(channel->waitForFinal(20s, "alert:timeout"), "alert:timeout") << tail(channel->logs);
}

TEST_F(IkeRoad, AddressWithoutRouteIsUnreachable) {
    auto channel = std::make_shared<RecordingChannel>(kGoodPassword);
    IkeService service(options_);
    ASSERT_EQ(service.start(request("10.80.0.1"), channel), "");
    EXPECT_EQ(channel->waitForFinal(20s, "alert:unreachable"), "alert:unreachable") << tail(channel->logs);
}

TEST_F(IkeRoad, SecondDaemonInTheNamespaceGetsAClearError) {
    CharonOptions o;
    o.workDir = bed_->dir + "/second";
    o.netnsPath = "/run/netns/" + bed_->serverNs;
    CharonRunner second(o);
    std::string error;
    EXPECT_FALSE(second.start(&error));
    EXPECT_NE(error.find("UDP port 500 is already in use"), std::string::npos) << error;
}

}  // namespace
}  // namespace hw::ike
