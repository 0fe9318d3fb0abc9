#include "helper/ike/vici_client.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <mutex>
#include <vector>

#include "helper/ike/charon_runner.h"
#include "helper/ike/ike_alerts.h"
#include "helper/ike/ike_service.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;

// The charon end of a socketpair, driven by the test.
class FakeCharon {
public:
    FakeCharon() {
        int sv[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        ours_ = sv[0];
        clientFd = sv[1];
    }
    ~FakeCharon() { ::close(ours_); }
    ViciPacket read() {
        std::string payload;
        while (!(payload = next()).size()) {
            char buf[4096];
            const ssize_t n = ::recv(ours_, buf, sizeof buf, 0);
            if (n <= 0) return {};
            frames_.feed(std::string_view(buf, static_cast<std::size_t>(n)));
        }
        return *decodeViciPacket(payload);
    }
    void send(const ViciPacket& p) { writeRaw(*encodeViciPacket(p)); }
    void writeRaw(const std::string& bytes) { ASSERT_EQ(::send(ours_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size())); }
    static ViciPacket event(const std::string& name, const std::string& msg) {
        ViciPacket p;
        p.type = ViciPacketType::Event;
        p.name = name;
        p.body.set("msg", msg);
        return p;
    }
    int clientFd = -1;

private:
    std::string next() { return frames_.next().value_or(std::string()); }
    int ours_ = -1;
    ViciFrameReader frames_;
};

struct Recorder {
    std::mutex mutex;
    std::vector<std::string> seen;
    ViciClient::EventHandler handler() {
        return [this](const std::string& name, const ViciSection& body) {
            std::lock_guard lock(mutex);
            seen.push_back(name + ":" + (body.value("msg") ? *body.value("msg") : ""));
        };
    }
};

TEST(ViciClient, EventsBeforeAResponseReachTheHandlerFirst) {
    FakeCharon charon;
    Recorder rec;
    ViciClient client;
    client.setEventHandler(rec.handler());
    client.adopt(charon.clientFd);

    std::thread peer([&] {
        auto req = charon.read();
        EXPECT_EQ(req.type, ViciPacketType::CmdRequest);
        EXPECT_EQ(req.name, "initiate");
        EXPECT_EQ(*req.body.value("child"), "c");
        charon.send(FakeCharon::event("log", "one"));
        charon.send(FakeCharon::event("ike-updown", "two"));
        ViciPacket reply;
        reply.type = ViciPacketType::CmdResponse;
        reply.body.set("success", "no").set("errmsg", "establishing failed");
        charon.send(reply);
    });
    ViciSection args;
    args.set("child", "c");
    auto r = client.request("initiate", args, 5s);
    peer.join();
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.errmsg(), "establishing failed");
    std::lock_guard lock(rec.mutex);
    EXPECT_EQ(rec.seen, (std::vector<std::string>{"log:one", "ike-updown:two"}));
}

TEST(ViciClient, RegistrationAndUnknownAnswers) {
    FakeCharon charon;
    ViciClient client;
    client.adopt(charon.clientFd);
    std::thread peer([&] {
        EXPECT_EQ(charon.read().type, ViciPacketType::EventRegister);
        ViciPacket confirm;
        confirm.type = ViciPacketType::EventConfirm;
        charon.send(confirm);
        EXPECT_EQ(charon.read().type, ViciPacketType::EventRegister);
        ViciPacket unknown;
        unknown.type = ViciPacketType::EventUnknown;
        charon.send(unknown);
        EXPECT_EQ(charon.read().name, "nonsense");
        ViciPacket unknownCmd;
        unknownCmd.type = ViciPacketType::CmdUnknown;
        charon.send(unknownCmd);
    });
    std::string error;
    EXPECT_TRUE(client.registerEvent("log", 5s, &error));
    EXPECT_FALSE(client.registerEvent("ike-state-change", 5s, &error));
    EXPECT_EQ(error, "charon does not know the event");
    auto r = client.request("nonsense", {}, 5s);
    peer.join();
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(client.isOpen());
}

TEST(ViciClient, BrokenStreamsCloseTheConnection) {
    {
        FakeCharon charon;
        ViciClient client;
        client.adopt(charon.clientFd);
        std::thread peer([&] {
            charon.read();
            charon.writeRaw(std::string("\x00\x00\x00\x02\x01\x09", 6));  // unknown element
        });
        auto r = client.request("version", {}, 5s);
        peer.join();
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(client.isOpen());
    }
    {
        // No answer in time: the late one would be taken for the next command's.
        FakeCharon charon;
        ViciClient client;
        client.adopt(charon.clientFd);
        auto r = client.request("version", {}, 30ms);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "charon did not answer in time");
        EXPECT_FALSE(client.request("version", {}, 1s).ok);
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
    EXPECT_NE(with([](auto& r) { r.id = ""; }), "");
    EXPECT_NE(with([](auto& r) { r.id = "alice\nbob"; }), "");
    EXPECT_NE(with([](auto& r) { r.id = std::string(256, 'a'); }), "");
}

TEST(CharonConfig, LibipsecOutranksTheKernelBackendOnlyWhenChosen) {
    CharonOptions o;
    o.retransmitTries = 2;
    o.retransmitTimeoutSeconds = 0.5;
    const std::string withLib = CharonRunner::strongswanConf(o, true);
    const std::string kernel = CharonRunner::strongswanConf(o, false);
    EXPECT_NE(withLib.find("kernel-libipsec {\n      load = 3"), std::string::npos);
    EXPECT_NE(withLib.find("kernel-netlink {\n      load = 2"), std::string::npos);
    EXPECT_EQ(kernel.find("kernel-libipsec"), std::string::npos);
    for (const auto& conf : {withLib, kernel}) {
        EXPECT_NE(conf.find("retransmit_tries = 2\n"), std::string::npos);
        EXPECT_NE(conf.find("retransmit_timeout = 0.500\n"), std::string::npos);
    }
}

}  // namespace
}  // namespace hw::ike
