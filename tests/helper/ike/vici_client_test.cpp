#include "helper/ike/vici_client.h"

#include <gtest/gtest.h>
#include <mutex>
#include <vector>

#include "fake_charon.h"
#include "helper/ike/charon_runner.h"
#include "helper/ike/ike_alerts.h"
#include "helper/ike/ike_service.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;
using test::FakeCharon;

TEST(ViciClient, EventsBeforeAResponseReachTheHandlerFirst) {
    FakeCharon charon([](const ViciPacket& r, std::vector<std::string>& out) {
        out = {FakeCharon::event("log", "one"), FakeCharon::event("ike-updown", "two"),
               FakeCharon::reply(r.type, false, "establishing failed")};
    });
    std::mutex mutex;
    std::vector<std::string> seen;
    auto client = charon.client([&](const std::string& name, const ViciSection& body) {
        std::lock_guard lock(mutex);
        seen.push_back(name + ":" + *body.value("msg"));
    });
    ViciSection args;
    args.set("child", "c");
    auto r = client->request("initiate", args, 5s);
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.errmsg(), "establishing failed");
    EXPECT_EQ(*charon.body("initiate").value("child"), "c");
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::string>{"log:one", "ike-updown:two"}));
}

TEST(ViciClient, RegistrationAndUnknownAnswers) {
    FakeCharon charon([](const ViciPacket& r, std::vector<std::string>& out) {
        if (r.name == "ike-state-change") out = {FakeCharon::frame(ViciPacketType::EventUnknown)};
        if (r.name == "nonsense") out = {FakeCharon::frame(ViciPacketType::CmdUnknown)};
    });
    auto client = charon.client();
    std::string error;
    EXPECT_TRUE(client->registerEvent("log", 5s, &error));
    EXPECT_FALSE(client->registerEvent("ike-state-change", 5s, &error));
    EXPECT_EQ(error, "charon does not know the event");
    EXPECT_FALSE(client->request("nonsense", {}, 5s).ok);
    EXPECT_TRUE(client->isOpen());
}

TEST(ViciClient, BrokenOrLateAnswersCloseTheConnection) {
    struct Row {
        const char* name;
        std::string answer;
        std::chrono::milliseconds wait;
    };
    // Silence: a late answer would be taken for the next command's.
    for (const Row& row : {Row{"unknown element", std::string("\x00\x00\x00\x02\x01\x09", 6), 5000ms},
                           Row{"no answer in time", "", 30ms}}) {
        int calls = 0;  // the next command would get a proper answer
        FakeCharon charon([&](const ViciPacket&, std::vector<std::string>& out) {
            if (calls++ == 0) out = {row.answer};
        });
        auto client = charon.client();
        EXPECT_FALSE(client->request("version", {}, row.wait).ok) << row.name;
        EXPECT_FALSE(client->request("version", {}, 1s).ok) << row.name;
    }
}

TEST(ViciClient, PipelinedRequestsEachGetTheirOwnAnswerInOrder) {
    FakeCharon charon([](const ViciPacket& r, std::vector<std::string>& out) {
        if (r.name == "load-shared") out = {FakeCharon::event("log", "between"), FakeCharon::reply(r.type, false, "bad secret")};
        if (r.name == "nonsense") out = {FakeCharon::frame(ViciPacketType::CmdUnknown)};
    });
    std::vector<std::string> seen;
    auto client = charon.client([&](const std::string& name, const ViciSection&) { seen.push_back(name); });
    ViciSection conn;
    conn.set("name", "c");
    auto batch = client->send({ViciClient::registration("log"), ViciClient::command("load-cert"),
                               ViciClient::command("load-shared"), ViciClient::command("nonsense"),
                               ViciClient::command("load-conn", conn)});
    auto results = client->wait(batch, std::chrono::steady_clock::now() + 5s);
    ASSERT_EQ(results.size(), 5u);
    EXPECT_TRUE(results[0].ok);
    EXPECT_TRUE(results[1].succeeded());
    EXPECT_EQ(results[2].errmsg(), "bad secret");
    EXPECT_EQ(results[3].error, "charon does not know the command");
    EXPECT_TRUE(results[4].succeeded());
    EXPECT_EQ(charon.names(), (std::vector<std::string>{"log", "load-cert", "load-shared", "nonsense", "load-conn"}));
    EXPECT_EQ(*charon.body("load-conn").value("name"), "c");
    EXPECT_EQ(seen, std::vector<std::string>{"log"});
    // The stream is still in step: the next request gets its own answer.
    EXPECT_TRUE(client->request("version", {}, 5s).succeeded());
}

// What a batch did not hear before charon went quiet or away is each
// request's failure; the answers that came still count.
TEST(ViciClient, ABatchCutShortReportsOnlyTheMissingAnswersAsFailed) {
    struct Row {
        const char* name;
        bool hangUp;  // charon closes instead of staying silent
        const char* error;
    };
    for (const Row& row : {Row{"silent", false, "charon did not answer in time"},
                           Row{"gone", true, "charon closed the connection"}}) {
        SCOPED_TRACE(row.name);
        int fd = -1;
        bool quiet = false;  // from the second request on
        FakeCharon charon([&](const ViciPacket& r, std::vector<std::string>& out) {
            quiet = quiet || r.name == "second";
            if (!quiet) return;
            out = {""};
            if (row.hangUp) ::shutdown(fd, SHUT_RDWR);
        });
        auto client = charon.client();
        fd = charon.serverEnd(0);
        auto batch = client->send({ViciClient::command("first"), ViciClient::command("second"), ViciClient::command("third")});
        auto results = client->wait(batch, std::chrono::steady_clock::now() + (row.hangUp ? 5000ms : 100ms));
        EXPECT_TRUE(results[0].succeeded());
        EXPECT_EQ(results[1].error, row.error);
        EXPECT_EQ(results[2].error, row.error);
        // Out of step either way: nothing more goes through this client.
        EXPECT_FALSE(client->request("version", {}, 5s).ok);
    }
}

TEST(IkeAlerts, CharonLinesMapToTheSevenAlerts) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"received EAP_FAILURE, EAP authentication failed", "local-auth"},
        {"EAP-MS-CHAPv2 failed with error ERROR_AUTHENTICATION_FAILURE: '(null)'", "local-auth"},
        {"received AUTHENTICATION_FAILED notify error", "local-auth"},
        {"constraint check failed: identity 'vpn.example' required ", "remote-auth"},
        {"no trusted ECDSA public key found for 'vpn.example'", "remote-auth"},
        {"unable to resolve vpn.example, initiate aborted", "dns"},
        {"error writing to socket: Network is unreachable", "unreachable"},
        {"giving up after 5 retransmits", "timeout"},
        {"establishing IKE_SA failed, peer not responding", "timeout"},
        {"received NO_PROPOSAL_CHOSEN notify error", "proposal-mismatch"},
        {"received TS_UNACCEPTABLE notify, no CHILD_SA built", "ts-mismatch"},
    };
    for (const auto& [line, alert] : cases) EXPECT_EQ(alertForCharonLog(line), alert) << line;
    EXPECT_FALSE(alertForCharonLog("sending packet: from 10.0.0.2[500] to 10.0.0.1[500] (892 bytes)"));
    EXPECT_FALSE(alertForCharonLog("authentication of 'vpn.example' with ECDSA_WITH_SHA256_DER successful"));
}

TEST(IkeStartValidation, RefusesWhatCouldSteerCharonElsewhere) {
    const IkeStartRequest good{"Havenway_IKEv2", "vpn.example.com", "192.0.2.7", "alice@example.com"};
    EXPECT_EQ(validateIkeStart(good), "");
    auto with = [&](auto change) {
        auto r = good;
        change(r);
        return validateIkeStart(r);
    };
    EXPECT_EQ(with([](auto& r) { r.hostIp = ""; }), "");
    EXPECT_EQ(with([](auto& r) { r.hostIp = "2001:db8::1"; }), "");
    EXPECT_NE(with([](auto& r) { r.name = "x y"; }), "");
    EXPECT_NE(with([](auto& r) { r.name = "a}b"; }), "");
    EXPECT_NE(with([](auto& r) { r.host = ""; }), "");
    EXPECT_NE(with([](auto& r) { r.host = "vpn..example"; }), "");
    EXPECT_NE(with([](auto& r) { r.host = "-vpn.example"; }), "");
    EXPECT_NE(with([](auto& r) { r.host = "vpn.example/../x"; }), "");
    EXPECT_NE(with([](auto& r) { r.hostIp = "10.0.0.1; rm"; }), "");
    // An address of no host, given or as the server's name.
    EXPECT_EQ(with([](auto& r) { r.hostIp = "0.0.0.0"; }), "invalid server address: an unspecified address");
    EXPECT_EQ(with([](auto& r) { r.hostIp = "ff02::1"; }), "invalid server address: a multicast address");
    EXPECT_EQ(with([](auto& r) { r.host = "255.255.255.255"; }), "invalid server host name: the broadcast address");
    EXPECT_EQ(with([](auto& r) { r.hostIp = "127.0.0.1"; }), "invalid server address: a loopback address");
    EXPECT_EQ(with([](auto& r) { r.hostIp = "::ffff:192.0.2.7"; }),
              "invalid server address: an IPv4 address written as IPv6");
    EXPECT_EQ(with([](auto& r) { r.host = "::1"; }), "invalid server host name: a loopback address");
    // Numbers the resolver would read as addresses, "0x0" as 0.0.0.0.
    for (const char* number : {"0x0", "0", "0xffffffff", "3232235777", "127.1"})
        EXPECT_EQ(with([&](auto& r) { r.host = number; }), "invalid server host name: a number, not an address in dotted form")
            << number;
    EXPECT_NE(with([](auto& r) { r.id = ""; }), "");
    EXPECT_NE(with([](auto& r) { r.id = "alice\nbob"; }), "");
    EXPECT_NE(with([](auto& r) { r.id = std::string(256, 'a'); }), "");
}

TEST(CharonConfig, LibipsecOutranksTheKernelBackendOnlyWhenChosen) {
    CharonOptions o;
    o.retransmitTries = 2;
    o.retransmitTimeoutSeconds = 0.5;
    const std::string withLib = CharonRunner::strongswanConf(o, true);
    EXPECT_NE(withLib.find("kernel-libipsec {\n      load = 3"), std::string::npos);
    EXPECT_NE(withLib.find("kernel-netlink {\n      load = 2"), std::string::npos);
    EXPECT_NE(withLib.find("retransmit_timeout = 0.500\n"), std::string::npos);
    EXPECT_EQ(CharonRunner::strongswanConf(o, false).find("kernel-libipsec"), std::string::npos);
}

}  // namespace
}  // namespace hw::ike
