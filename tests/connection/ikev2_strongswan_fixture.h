#pragma once
// A fake IKE service on the helper's end of a socketpair, for the connector
// and provider tests.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "connection/ikev2_strongswan_connection_provider.h"
#include "connection/ikev2_strongswan_connector.h"
#include "platform/helper_connection.h"
#include "platform/helper_socket.h"
#include "support/fake_helper_tool.h"

namespace hw::test {

using WakingQueue = HelperTestQueue;

class FakeIKEv2Context final : public IKEv2_StrongSwan_ProviderContext {
public:
    std::optional<IKEv2LoginData> recentLoginData() const override { return login; }
    bool useNetworkLock() const override { return lock; }
    bool networkLockActivated() const override { return lockActivated; }
    bool autoReconnectInProgress() const override { return reconnecting; }
    bool intensionallyDisconnectedVPN() const override { return intentional; }
    bool isLoggedInUser() const override { return loggedIn; }
    void tryEnded(const std::optional<ConnectionTicket>& ticket) override {
        ++reconnectRequests;
        reconnectTickets.push_back(ticket);
    }
    std::optional<ConnectionTicket> currentTry() const override { return tryInForce; }
    void enableNetworkLock() override { ++lockEngaged; }

    std::optional<ConnectionTicket> tryInForce;
    std::vector<std::optional<ConnectionTicket>> reconnectTickets;
    std::optional<IKEv2LoginData> login = IKEv2LoginData{"alice", "s3cret"};
    bool lock = false, lockActivated = false, reconnecting = false, intentional = false, loggedIn = true;
    int reconnectRequests = 0, lockEngaged = 0;
};

// The helper tool's connector, handing out the test's connection (or none),
// its back-off timed by nowMs.
class TestHelperTool {
public:
    explicit TestHelperTool(MainQueue& queue)
        : connector(
              queue,
              [this](std::string* error) -> std::shared_ptr<HelperConnection> {
                  ++asked;
                  if (!connection) *error = "creating XPC mach service failed";
                  return connection;
              },
              [this] { return nowMs; }) {}
    std::shared_ptr<HelperConnection> connection;
    int asked = 0;
    std::int64_t nowMs = 0;
    HelperTool_XPC_Connector connector;
};

// The IKE service's side: reads starts, keeps their channels, talks on them.
class FakeIkePeer {
public:
    static constexpr int kWaitMs = 5000;

    explicit FakeIkePeer(HelperConnection& connection) {
        auto [app, helper] = makeHelperSocketPair();
        socket_ = std::move(helper);
        connection.adopt(std::move(app));
    }
    // The next start request; its reply is sent at once.
    HelperMessage takeStart() {
        std::string error;
        auto env = receiveHelperMessage(socket_.get(), kWaitMs, &error);
        EXPECT_TRUE(env) << error;
        if (!env) return {};
        if (auto ch = helperChannel(env->message, "channel")) channels.push_back(UniqueFd(::dup(ch->get())));
        sendHelperMessage(env->replyChannel.get(), {{"reply", "YES"}}, -1, kWaitMs, &error);
        return std::move(env->message);
    }
    // The next take-over request. Refused, its channel is dropped before the
    // answer, as a helper with nothing to hand over drops it.
    HelperMessage takeAttach(bool accept) {
        std::string error;
        auto env = receiveHelperMessage(socket_.get(), kWaitMs, &error);
        EXPECT_TRUE(env) << error;
        if (!env) return {};
        HelperMessage m = std::move(env->message);
        if (auto ch = helperChannel(m, "channel"); ch && accept) channels.push_back(UniqueFd(::dup(ch->get())));
        if (!accept) m.erase("channel");
        sendHelperMessage(env->replyChannel.get(), {{"reply", accept ? "YES" : "NO"}}, -1, kWaitMs, &error);
        return m;
    }
    void event(std::size_t channel, HelperMessage m) {
        std::string error;
        ASSERT_TRUE(sendHelperMessage(channels.at(channel).get(), m, -1, kWaitMs, &error)) << error;
    }
    void event(std::size_t channel, const std::string& name) { event(channel, {{"type", "event"}, {"event", name}}); }
    // Sends a request on a channel; the answer is read off the main thread.
    std::future<std::optional<HelperMessage>> request(std::size_t channel, HelperMessage m) {
        auto [mine, theirs] = makeHelperSocketPair();
        std::string error;
        EXPECT_TRUE(sendHelperMessage(channels.at(channel).get(), m, theirs.get(), kWaitMs, &error)) << error;
        return std::async(std::launch::async, [fd = std::make_shared<UniqueFd>(std::move(mine))]() -> std::optional<HelperMessage> {
            std::string e;
            auto env = receiveHelperMessage(fd->get(), kWaitMs, &e);
            if (!env) return std::nullopt;
            return std::move(env->message);
        });
    }
    std::optional<HelperEnvelope> takeRequest(std::size_t channel) {
        std::string error;
        return receiveHelperMessage(channels.at(channel).get(), kWaitMs, &error);
    }
    std::vector<UniqueFd> channels;

private:
    UniqueFd socket_;
};

}  // namespace hw::test
