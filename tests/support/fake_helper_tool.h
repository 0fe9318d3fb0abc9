#pragma once
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/helper_connection.h"
#include "platform/helper_server.h"
#include "support/manual_queue.h"

namespace hw::test {

// A manual queue that wakes a waiting test when another thread posts, so
// waits on real socket threads are bounded without sleeping.
class HelperTestQueue final : public MainQueue {
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
    void notify() {
        std::lock_guard lock(mutex_);
        ++posts_;
        cv_.notify_all();
    }
    // Runs what is posted until pred holds or twenty seconds pass (generous: a
    // loaded machine must not turn a slow answer into a failure).
    // The count is read before the queue runs: a post landing between the run
    // and the wait would otherwise be waited for until the deadline.
    bool waitFor(const std::function<bool()>& pred) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            std::uint64_t seen = 0;
            {
                std::lock_guard lock(mutex_);
                seen = posts_;
            }
            inner.runUntilIdle();
            if (pred()) return true;
            std::unique_lock lock(mutex_);
            if (!cv_.wait_until(lock, deadline, [&] { return posts_ != seen; })) {
                lock.unlock();
                inner.runUntilIdle();
                return pred();
            }
        }
    }
    ManualQueue inner;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t posts_ = 0;
};

// A stand-in for the helper daemon on the far end of socketpairs: records
// every message and answers through the responder (nothing: the request is
// dropped unanswered).
class FakeHelperTool {
public:
    using Responder = std::function<std::optional<HelperMessage>(const HelperMessage&)>;

    explicit FakeHelperTool(HelperTestQueue& queue) : queue_(queue) { startServer(); }
    ~FakeHelperTool() { stopServer(); }

    // For HelperTool_XPC_Connector: each call is one new connection.
    std::function<std::shared_ptr<HelperConnection>(std::string*)> factory(MainQueue& clientQueue) {
        return [this, &clientQueue](std::string* error) -> std::shared_ptr<HelperConnection> {
            ++connectionsMade;
            if (refuseConnections) {
                *error = "creating XPC mach service failed";
                return nullptr;
            }
            auto [c, s] = makeHelperSocketPair();
            server_->adopt(std::move(s));
            auto conn = std::make_shared<HelperConnection>(clientQueue);
            conn->adopt(std::move(c));
            return conn;
        };
    }

    // Drops every connection, as a helper that dies and comes back.
    void restart() {
        stopServer();
        startServer();
    }

    std::vector<HelperMessage> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    bool waitForMessages(std::size_t n) {
        return queue_.waitFor([&] { return messages().size() >= n; });
    }

    Responder responder = [](const HelperMessage&) -> std::optional<HelperMessage> {
        return HelperMessage{{"reply", "YES"}};
    };
    int connectionsMade = 0;
    bool refuseConnections = false;

private:
    void startServer() {
        HelperServer::Options options;
        options.allowedUids = {::getuid()};  // so that it also runs without root
        server_ = std::make_unique<HelperServer>(options, [this](HelperRequest r) {
            {
                std::lock_guard lock(mutex_);
                messages_.push_back(r.message);
            }
            if (auto answer = responder(r.message)) r.reply(*answer);
            queue_.notify();
        });
        thread_ = std::thread([this] { server_->run(); });
    }
    void stopServer() {
        server_->stop();
        thread_.join();
        server_.reset();
    }

    HelperTestQueue& queue_;
    std::unique_ptr<HelperServer> server_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<HelperMessage> messages_;
};

}  // namespace hw::test
