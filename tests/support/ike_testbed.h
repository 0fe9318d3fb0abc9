#pragma once
// The IKEv2 road for integration tests: two network namespaces joined by a
// veth pair, a test PKI made with pki, and a strongSwan responder
// (EAP-MSCHAPv2, server certificate) in the server's namespace.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helper/ike/charon_runner.h"
#include "helper/ike/vici_client.h"
#include "platform/posix_process_runner.h"
#include "support/netns_rig.h"
#include "support/run_tool.h"

namespace hw::ike::road {

using namespace std::chrono_literals;

constexpr const char* kUser = "alice";
constexpr const char* kGoodPassword = "correct-horse-77";
constexpr const char* kServerName = "vpn.havenway.test";
constexpr const char* kServerIp = "10.77.0.1";
// Offers only a proposal the client does not make.
constexpr const char* kStrictServerIp = "10.77.0.5";
// Presents a certificate of the right name that no trusted CA signed.
constexpr const char* kRogueServerIp = "10.77.0.6";

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string tail(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = lines.size() > 12 ? lines.size() - 12 : 0; i < lines.size(); ++i) out += lines[i] + "\n";
    return out;
}

using hw::test::runTool;

inline bool ip(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runTool(argv, 5s);
}

// The two namespaces, the test PKI and the responder live for the suite.
struct Testbed {
    std::string why;  // set when the machine cannot run the road
    std::string dir;
    std::string serverNs, clientNs;
    PosixProcessRunner runner;
    std::unique_ptr<CharonRunner> responder;
    std::unique_ptr<ViciClient> responderVici;
    hw::test::NetnsRig rig;

    bool setUp() {
        if (auto missing = hw::test::NetnsRig::unavailable(); !missing.empty()) return fail(missing);
        for (const char* p : {"/usr/lib/ipsec/charon", "/usr/bin/pki"}) {
            if (::access(p, X_OK) != 0) return fail(std::string(p) + " is not installed");
        }
        char tmpl[] = "/tmp/hwike-XXXXXX";
        if (!::mkdtemp(tmpl)) return fail("no temporary folder");
        dir = tmpl;
        serverNs = hw::test::NetnsRig::name("hwike-s-");
        clientNs = hw::test::NetnsRig::name("hwike-c-");
        const std::string veth = hw::test::NetnsRig::name("hwk");
        const bool linked = rig.link(serverNs, veth, "10.77.0.1/24,10.77.0.5/24,10.77.0.6/24", clientNs, veth + "c",
                                     "10.77.0.2/24") &&
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
        if (!runTool(argv, 20s, &text)) return false;
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
                   "server.pem") &&
               pki({"--gen", "--type", "ecdsa", "--size", "256", "--outform", "pem"}, "rogue.key") &&
               pki({"--self", "--in", dir + "/rogue.key", "--type", "ecdsa", "--dn", std::string("CN=") + kServerName,
                    "--san", kServerName, "--lifetime", "2", "--outform", "pem"},
                   "rogue.pem");
    }

    bool startResponder() {
        CharonOptions o;
        o.workDir = dir + "/srv";
        o.netnsPath = "/run/netns/" + serverNs;
        responder = std::make_unique<CharonRunner>(o, runner);
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
        ViciSection rogueKey;
        rogueKey.set("type", "ecdsa").set("data", readFile(dir + "/rogue.key"));
        ViciSection conn;
        auto add = [&](const char* name, const char* address, const char* cert) -> ViciSection& {
            auto& c = conn.addSection(name);
            c.set("version", "2").setList("local_addrs", {address}).setList("pools", {"hwpool"}).set("send_certreq", "no");
            c.addSection("local").set("auth", "pubkey").setList("certs", {readFile(dir + "/" + cert)}).set("id", kServerName);
            c.addSection("remote").set("auth", "eap-mschapv2").set("eap_id", "%any");
            c.addSection("children").addSection(name).setList("local_ts", {"0.0.0.0/0"});
            return c;
        };
        add("srv", kServerIp, "server.pem");
        add("strict", kStrictServerIp, "server.pem").setList("proposals", {"aes128-sha256-modp1024"});
        add("rogue", kRogueServerIp, "rogue.pem");
        for (auto [cmd, body] : {std::pair{"load-key", &key}, {"load-key", &rogueKey}, {"load-pool", &pool},
                                 {"load-shared", &secret}, {"load-conn", &conn}}) {
            auto r = responderVici->request(cmd, *body, 5s);
            if (!r.succeeded()) return fail(std::string("responder ") + cmd + ": " + r.errmsg());
        }
        return true;
    }

    ~Testbed() {
        responderVici.reset();
        responder.reset();
        rig.removeAll();
        if (!dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
};

// A suite on the road: it is set up once for all its tests and torn down after the last.
class RoadSuite : public testing::Test {
protected:
    static void SetUpTestSuite() {
        bed_ = new Testbed;
        bed_->setUp();
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }
    static inline Testbed* bed_ = nullptr;
    static inline int counter_ = 0;  // a fresh work folder for each test
};

// Counts the responder's IKE_SAs of its connection.
inline int responderSaCount(Testbed& bed) {
    int listed = 0;
    ViciClient watcher;
    watcher.setEventHandler([&](const std::string& name, const ViciSection& body) {
        if (name == "list-sa" && body.section("srv")) ++listed;
    });
    if (!watcher.connect(bed.responder->viciSocketPath()) || !watcher.registerEvent("list-sa", 5s)) return -1;
    if (!watcher.request("list-sas", {}, 5s).ok) return -1;
    return listed;
}

}  // namespace hw::ike::road
