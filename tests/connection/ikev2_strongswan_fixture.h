#pragma once
// A fake IKE service on the helper's end of a socketpair, for the connector
// and provider tests.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>

#include <gtest/gtest.h>

#include "connection/ikev2_strongswan_connector.h"
#include "platform/helper_connection.h"
#include "platform/helper_socket.h"
#include "support/manual_queue.h"

namespace hw::test {

// A manual queue that wakes the test when the connection's thread posts, so
// waits on it are bounded without sleeping.
class WakingQueue final : public MainQueue {
public:
    void post(Task task) override {
        inner.post(std::move(task));
        std::lock_guard lock(mutex_);
        ++posts_;
        cv_.notify_all();
    }
    void postAfter(double ms, Task task) override { inner.postAfter(ms, std::move(task)); }
    std::unique_ptr<Timer> startTimer(double ms, bool repeats, Task task) override {
        return inner.startTimer(ms, repeats, std::move(task));
    }
    bool isMainThread() const override { return inner.isMainThread(); }

    // Runs posted tasks until pred holds or five seconds pass.
    bool waitFor(const std::function<bool()>& pred) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            inner.runUntilIdle();
            if (pred()) return true;
            std::unique_lock lock(mutex_);
            const auto seen = posts_;
            if (!cv_.wait_until(lock, deadline, [&] { return posts_ != seen; })) return pred();
        }
    }
    ManualQueue inner;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t posts_ = 0;
};

// The helper tool's connector, handing out the test's connection (or none).
class TestHelperTool {
public:
    explicit TestHelperTool(MainQueue& queue)
        : connector(queue, [this](std::string* error) -> std::shared_ptr<HelperConnection> {
              ++asked;
              if (!connection) *error = "creating XPC mach service failed";
              return connection;
          }) {}
    std::shared_ptr<HelperConnection> connection;
    int asked = 0;
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
    // A request the app sent on a channel (a stop), with its reply channel.
    std::optional<HelperEnvelope> takeRequest(std::size_t channel) {
        std::string error;
        return receiveHelperMessage(channels.at(channel).get(), kWaitMs, &error);
    }
    std::vector<UniqueFd> channels;

private:
    UniqueFd socket_;
};

}  // namespace hw::test
