#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

#include "helper/ike/ipsec_transport_vici.h"
#include "helper/ppp/ppp_links.h"
#include "support/capture_log.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;

const std::string kService = "0123456789abcdef0123456789abcdef";
const std::string kName = "havenway-l2tp-" + kService;
const std::string kPsk = "pre-shared \"key\" 7";

// charon's side: each connection the transport opens gets a socketpair and a
// thread that answers every request as `answer` says, and records it.
class FakeCharon {
public:
    using Answer = std::function<void(const ViciPacket& request, std::vector<ViciPacket>& out)>;
    explicit FakeCharon(Answer answer = {}) : answer_(std::move(answer)) {}
    ~FakeCharon() {
        for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
        for (auto& t : threads_) t.join();
        for (int fd : fds_) ::close(fd);
    }

    ViciIpsecTransport::Connector connector() {
        return [this](ViciClient::EventHandler handler, std::string*) {
            int sv[2];
            EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
            auto client = std::make_shared<ViciClient>();
            if (handler) client->setEventHandler(std::move(handler));
            client->adopt(sv[1]);
            std::lock_guard lock(mutex_);
            ++connections;
            fds_.push_back(sv[0]);
            threads_.emplace_back([this, fd = sv[0]] { serve(fd); });
            return client;
        };
    }

    std::vector<std::string> names() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& p : seen_) out.push_back(p.name);
        return out;
    }
    ViciSection body(const std::string& command) {
        std::lock_guard lock(mutex_);
        for (const auto& p : seen_)
            if (p.name == command) return p.body;
        return {};
    }
    int connections = 0;

private:
    void serve(int fd) {
        ViciFrameReader frames;
        for (;;) {
            std::optional<std::string> payload;
            while (!(payload = frames.next())) {
                char buf[4096];
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                frames.feed(std::string_view(buf, static_cast<std::size_t>(n)));
            }
            auto request = decodeViciPacket(*payload);
            ASSERT_TRUE(request);
            {
                std::lock_guard lock(mutex_);
                seen_.push_back(*request);
            }
            std::vector<ViciPacket> out;
            if (answer_) answer_(*request, out);
            if (out.empty()) out.push_back(reply(request->type, true));
            for (const auto& p : out) {
                auto bytes = *encodeViciPacket(p);
                if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) return;
            }
        }
    }

public:
    static ViciPacket reply(ViciPacketType requestType, bool success, const std::string& errmsg = {}) {
        ViciPacket p;
        p.type = requestType == ViciPacketType::EventRegister ? ViciPacketType::EventConfirm : ViciPacketType::CmdResponse;
        if (p.type == ViciPacketType::CmdResponse) {
            p.body.set("success", success ? "yes" : "no");
            if (!errmsg.empty()) p.body.set("errmsg", errmsg);
        }
        return p;
    }
    static ViciPacket logLine(const std::string& msg) {
        ViciPacket p;
        p.type = ViciPacketType::Event;
        p.name = "control-log";
        p.body.set("msg", msg);
        return p;
    }

private:
    Answer answer_;
    std::mutex mutex_;
    std::vector<ViciPacket> seen_;
    std::vector<int> fds_;
    std::vector<std::thread> threads_;
};

helper::ppp::IpsecTransport::Request request(std::string remote = "192.0.2.10") {
    return {kService, std::move(remote), kPsk};
}

const std::vector<std::string> kCleanUp = {"terminate", "unload-conn", "unload-shared"};

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(L2tpIpsecTransport, BringsUpAPskTransportModeSaForL2tpAndTakesItDown) {
    auto log = test::CaptureLog::install();
    FakeCharon charon;
    ViciIpsecTransport transport(charon.connector());
    std::string error;
    ASSERT_TRUE(transport.up(request(), &error)) << error;
    EXPECT_EQ(charon.names(), concat({{"control-log"}, kCleanUp, {"load-shared", "load-conn", "initiate"}}));

    auto key = charon.body("load-shared");
    EXPECT_EQ(*key.value("id"), kName);
    EXPECT_EQ(*key.value("data"), kPsk);
    const auto loaded = charon.body("load-conn");
    const auto* conn = loaded.section(kName);
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(*conn->list("remote_addrs"), std::vector<std::string>{"192.0.2.10"});
    // Only L2TP's own datagrams, never a tunnel for everything.
    const auto* child = conn->section("children")->section(kName);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(*child->value("mode"), "transport");
    EXPECT_EQ(*child->list("local_ts"), std::vector<std::string>{"dynamic[udp/1701]"});
    EXPECT_EQ(*child->list("remote_ts"), std::vector<std::string>{"dynamic[udp/1701]"});
    auto init = charon.body("initiate");
    EXPECT_EQ(*init.value("child"), kName);
    EXPECT_EQ(*init.value("timeout"), "30000");  // charon's bound on the CHILD_SA, not forever

    transport.down(kService);
    EXPECT_EQ(charon.names(), concat({{"control-log"}, kCleanUp, {"load-shared", "load-conn", "initiate"}, kCleanUp}));
    EXPECT_EQ(*charon.body("unload-shared").value("id"), kName);
    EXPECT_FALSE(log->contains(kPsk));
}

TEST(L2tpIpsecTransport, AFailedNegotiationNamesItsFirstCauseAndLeavesNothingLoaded) {
    auto log = test::CaptureLog::install();
    FakeCharon charon([](const ViciPacket& r, std::vector<ViciPacket>& out) {
        if (r.name != "initiate") return;
        out.push_back(FakeCharon::logLine("sending retransmit 5 of request message ID 0, seq 1"));
        out.push_back(FakeCharon::logLine("giving up after 5 retransmits"));
        out.push_back(FakeCharon::logLine("establishing IKE_SA failed, peer not responding"));
        out.push_back(FakeCharon::reply(ViciPacketType::CmdRequest, false, "establishing CHILD_SA failed"));
    });
    ViciIpsecTransport transport(charon.connector());
    std::string error;
    EXPECT_FALSE(transport.up(request(), &error));
    EXPECT_EQ(error, "the L2TP server did not answer the IPsec negotiation");
    EXPECT_EQ(charon.names(), concat({{"control-log"}, kCleanUp, {"load-shared", "load-conn", "initiate"}, kCleanUp}));
    // Nothing came up: a later hang-up has nothing to end and starts no daemon.
    const int before = charon.connections;
    transport.down(kService);
    EXPECT_EQ(charon.connections, before);
    EXPECT_FALSE(log->contains(kPsk));
}

TEST(L2tpIpsecTransport, ARefusedKeyOrConnectionIsAnErrorNotAHang) {
    FakeCharon charon([](const ViciPacket& r, std::vector<ViciPacket>& out) {
        if (r.name == "load-conn") out.push_back(FakeCharon::reply(r.type, false, "parsing proposal failed"));
    });
    ViciIpsecTransport transport(charon.connector());
    std::string error;
    EXPECT_FALSE(transport.up(request(), &error));
    EXPECT_EQ(error, "loading the IPsec connection failed: parsing proposal failed");
    EXPECT_EQ(charon.names().back(), "unload-shared");  // the key does not stay behind

    ViciIpsecTransport unavailable([](ViciClient::EventHandler, std::string* why) -> std::shared_ptr<ViciClient> {
        *why = "UDP port 500 is already in use";
        return nullptr;
    });
    EXPECT_FALSE(unavailable.up(request(), &error));
    EXPECT_EQ(error, "the IKE daemon is not available: UDP port 500 is already in use");
}

TEST(L2tpIpsecTransport, RefusesBadRequestsBeforeReachingCharon) {
    FakeCharon charon;
    ViciIpsecTransport transport(charon.connector());
    std::string error;
    auto badId = request();
    badId.serviceID = "../etc";
    EXPECT_FALSE(transport.up(badId, &error));
    EXPECT_FALSE(transport.up(request("10.0.0.1 --proposals x"), &error));
    EXPECT_EQ(error, "invalid L2TP server address");
    auto noKey = request();
    noKey.sharedSecret.clear();
    EXPECT_FALSE(transport.up(noKey, &error));
    auto controlChar = request();
    controlChar.sharedSecret = "a\nb";
    EXPECT_FALSE(transport.up(controlChar, &error));
    EXPECT_EQ(charon.connections, 0);
}

TEST(L2tpIpsecErrors, TheFirstKnownCauseWinsElseCharonsOwnError) {
    // Wrong key, timeout and the kernel's refusal meet a real charon in the integration test.
    EXPECT_EQ(l2tpIpsecError({"initiating Main Mode", "received NO_PROPOSAL_CHOSEN error notify",
                              "giving up after 5 retransmits"}, "x"),
              "the L2TP server accepts none of our IPsec proposals");
    EXPECT_EQ(l2tpIpsecError({"initiating Main Mode IKE_SA"}, "establishing CHILD_SA failed"),
              "the IPsec negotiation with the L2TP server failed: establishing CHILD_SA failed");
}

TEST(L2tpServerRoute, OnlyAServerBehindAGatewayGetsAHostRoute) {
    auto path = helper::ppp::serverPathFrom(
        "203.0.113.5 via 10.0.2.2 dev eth0 src 10.0.2.15 uid 0 \\    cache \n");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->gateway, "10.0.2.2");
    EXPECT_EQ(path->device, "eth0");
    EXPECT_FALSE(helper::ppp::serverPathFrom("10.0.2.7 dev eth0 src 10.0.2.15 uid 0 \\    cache"));
    EXPECT_FALSE(helper::ppp::serverPathFrom("RTNETLINK answers: Network is unreachable"));
}

}  // namespace
}  // namespace hw::ike
