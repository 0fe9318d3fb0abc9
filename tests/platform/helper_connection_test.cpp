#include "platform/helper_connection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/helper_server.h"
#include "support/capture_log.h"
#include "support/fake_helper_tool.h"

namespace hw {
namespace {

using WakingQueue = test::HelperTestQueue;

// A server on its own thread, fed over a socketpair.
class Fixture : public ::testing::Test {
protected:
    void startServer(HelperServer::Handler handler) {
        HelperServer::Options options;
        options.allowedUids = {::getuid()};  // so that it also runs without root
        server_ = std::make_unique<HelperServer>(std::move(options), std::move(handler));
        auto [c, s] = makeHelperSocketPair();
        ASSERT_TRUE(server_->adopt(std::move(s)));
        serverThread_ = std::thread([this] { server_->run(); });
        client_.adopt(std::move(c));
    }
    void stopServer() {
        if (!server_) return;
        server_->stop();
        serverThread_.join();
        server_.reset();
    }
    void TearDown() override {
        client_.cancel();
        stopServer();
    }
    // A server that keeps every request unanswered; waits until it holds n.
    void startHoldingServer() {
        startServer([this](HelperRequest r) {
            std::lock_guard lock(heldMutex_);
            held_.push_back(std::move(r));
        });
    }
    bool holds(std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::lock_guard lock(heldMutex_); held_.size() == n) return true;
            std::this_thread::yield();
        }
        return false;
    }

    std::shared_ptr<test::CaptureLog> log_ = test::CaptureLog::install();
    WakingQueue queue_;
    HelperConnection client_{queue_};
    std::unique_ptr<HelperServer> server_;
    std::thread serverThread_;
    std::mutex heldMutex_;
    std::vector<HelperRequest> held_;
};

HelperServer::Handler echo() {
    return [](HelperRequest r) {
        HelperMessage answer{{"reply", *helperString(r.message, "rpc")}};
        if (auto p = helperDictionary(r.message, "parameters")) answer["parameters"] = HelperValue(*p);
        r.reply(answer);
    };
}

TEST_F(Fixture, RepliesArriveOnTheMainQueueInOrder) {
    startServer(echo());
    std::vector<std::string> got;
    for (int i = 0; i < 50; ++i)
        client_.send({{"rpc", "cmd" + std::to_string(i)}}, [&](HelperReply r) {
            EXPECT_TRUE(queue_.isMainThread());
            ASSERT_TRUE(r.ok()) << r.error;
            got.push_back(*helperString(r.message, "reply"));
        });
    ASSERT_TRUE(queue_.waitFor([&] { return got.size() == 50; }));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(got[i], "cmd" + std::to_string(i));
}

TEST_F(Fixture, LargeMessagesTravelInPieces) {
    startServer(echo());
    std::string big(900 * 1024, 'x');
    std::optional<HelperReply> reply;
    client_.send({{"rpc", "big"}, {"parameters", HelperValue(HelperMessage{{"blob", big}})}},
                 [&](HelperReply r) { reply = std::move(r); });
    ASSERT_TRUE(queue_.waitFor([&] { return reply.has_value(); }));
    ASSERT_TRUE(reply->ok()) << reply->error;
    EXPECT_EQ(*helperString(*helperDictionary(reply->message, "parameters"), "blob"), big);
}

TEST_F(Fixture, AnUnansweredRequestStillGetsExactlyOneReply) {
    startServer([](HelperRequest) {});  // dropped without a word
    int calls = 0;
    HelperReply last;
    client_.send({{"rpc", "ignored"}}, [&](HelperReply r) {
        ++calls;
        last = std::move(r);
    });
    ASSERT_TRUE(queue_.waitFor([&] { return calls == 1; }));
    EXPECT_EQ(last.error, "connection interrupted");
    queue_.inner.runUntilIdle();
    EXPECT_EQ(calls, 1);
}

TEST_F(Fixture, BreakingTheConnectionFailsEveryOutstandingRequestOnce) {
    startHoldingServer();
    int interruptions = 0;
    client_.setInterruptionHandler([&] { ++interruptions; });
    std::vector<std::string> errors;
    for (int i = 0; i < 5; ++i) client_.send({{"rpc", "x"}}, [&](HelperReply r) { errors.push_back(r.error); });
    ASSERT_TRUE(holds(5));
    held_[0].reply({{"reply", "YES"}});
    stopServer();
    held_.clear();
    ASSERT_TRUE(queue_.waitFor([&] { return errors.size() == 5 && interruptions == 1; }));
    EXPECT_EQ(std::count(errors.begin(), errors.end(), ""), 1);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), "connection interrupted"), 4);
    EXPECT_FALSE(client_.isConnected());

    // After the break a request fails at once instead of hanging.
    std::string late;
    client_.send({{"rpc", "late"}}, [&](HelperReply r) { late = r.error; });
    queue_.inner.runUntilIdle();
    EXPECT_EQ(late, "connection invalid");
    EXPECT_EQ(interruptions, 1);
}

TEST_F(Fixture, CancelAnswersOutstandingRequests) {
    startHoldingServer();
    std::string error;
    client_.send({{"rpc", "x"}}, [&](HelperReply r) { error = r.error; });
    client_.cancel();
    // The reader thread may still be posting its answers when cancel returns.
    EXPECT_TRUE(queue_.waitFor([&] { return !error.empty(); }));
    EXPECT_EQ(error, "connection cancelled");
}

TEST(HelperConnectionAlone, WithoutAConnectionEveryRequestFailsAtOnce) {
    test::ManualQueue queue;
    HelperConnection client(queue);
    std::string error;
    EXPECT_FALSE(client.connect("/nonexistent/helper.sock", &error));
    std::optional<HelperReply> reply;
    client.send({{"rpc", "x"}}, [&](HelperReply r) { reply = std::move(r); });
    EXPECT_FALSE(reply);  // never synchronously: always through the queue
    queue.runUntilIdle();
    ASSERT_TRUE(reply);
    EXPECT_FALSE(reply->ok());
}

// Talk on a channel both ways runs through the helper's IKE channel test; here,
// what happens once nobody holds the far end, and to a channel never made.
TEST_F(Fixture, AChannelNobodyHoldsFailsItsRequests) {
    startServer([](HelperRequest r) { r.reply({{"reply", "YES"}}); });  // keeps no copy of the channel
    auto channel = client_.makeChannel([](HelperIncoming) {});
    std::string reply;
    client_.send({{"rpc", "start_connection"}, {"channel", channel.peer}},
                 [&](HelperReply r) { reply = *helperString(r.message, "reply"); });
    ASSERT_TRUE(queue_.waitFor([&] { return reply == "YES"; }));
    channel.peer = HelperValue();
    std::optional<HelperReply> stop;
    client_.sendOnChannel(channel.id, {{"rpc", "stop_connection"}}, [&](HelperReply r) { stop = std::move(r); });
    ASSERT_TRUE(queue_.waitFor([&] { return stop.has_value(); }));
    EXPECT_FALSE(stop->ok());

    std::string unknown;
    client_.sendOnChannel(999, {{"rpc", "x"}}, [&](HelperReply r) { unknown = r.error; });
    queue_.inner.runUntilIdle();
    EXPECT_EQ(unknown, "connection invalid");
}

TEST_F(Fixture, AMalformedMessageFailsOnlyThatRequest) {
    startServer(echo());
    // A raw peer on a second connection sends garbage, then a valid request.
    auto [c, s] = makeHelperSocketPair();
    ASSERT_TRUE(server_->adopt(std::move(s)));
    HelperFrame junk{std::string("HW\x01\0D\xff\xff\xff\xff", 9), {}};
    ASSERT_TRUE(sendHelperFrame(c.get(), junk, 1000, nullptr));
    auto [mine, theirs] = makeHelperSocketPair();
    ASSERT_TRUE(sendHelperMessage(c.get(), {{"rpc", "ok"}}, theirs.get(), 1000, nullptr));
    theirs.reset();
    auto reply = receiveHelperMessage(mine.get(), 5000, nullptr);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*helperString(reply->message, "reply"), "ok");
}

// A peer that never reads its reply channels holds its own replies, not the
// loop: the others are answered at once, and its replies still go out once
// it reads.
TEST_F(Fixture, RepliesToChannelsThatAreFullHoldNobodyElse) {
    startServer(echo());
    auto [conn, served] = makeHelperSocketPair();
    ASSERT_TRUE(server_->adopt(std::move(served)));
    std::vector<UniqueFd> stuck;
    int fillers = 0;
    for (int i = 0; i < 10; ++i) {
        auto [mine, theirs] = makeHelperSocketPair();
        for (fillers = 0; ::send(theirs.get(), "x", 1, MSG_DONTWAIT) == 1;) ++fillers;
        ASSERT_TRUE(sendHelperMessage(conn.get(), {{"rpc", "stuck"}}, theirs.get(), 1000, nullptr));
        stuck.push_back(std::move(mine));
    }
    std::string reply;
    const auto asked = std::chrono::steady_clock::now();
    client_.send({{"rpc", "ping"}}, [&](HelperReply r) { reply = *helperString(r.message, "reply"); });
    ASSERT_TRUE(queue_.waitFor([&] { return reply == "ping"; }));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    // The last stuck peer reads: after its filler its reply comes.
    char filler;
    for (int i = 0; i < fillers; ++i) ASSERT_EQ(::recv(stuck.back().get(), &filler, 1, 0), 1);
    auto late = receiveHelperMessage(stuck.back().get(), 5000, nullptr);
    ASSERT_TRUE(late);
    EXPECT_EQ(*helperString(late->message, "reply"), "stuck");
}

TEST(HelperServerPeers, OnlyRootAndTheInstalledUserAreServed) {
    HelperServer::Options strict;
    strict.allowRoot = false;
    HelperServer refusing(strict, [](HelperRequest) {});
    EXPECT_FALSE(refusing.adopt(makeHelperSocketPair().second));

    HelperServer::Options mine = strict;
    mine.allowedUids = {::getuid()};
    HelperServer accepting(mine, [](HelperRequest) {});
    EXPECT_TRUE(accepting.adopt(makeHelperSocketPair().second));

    EXPECT_TRUE(HelperServer({}, {}).peerAllowed(HelperPeer{1, 0, 0}));
    EXPECT_FALSE(HelperServer({}, {}).peerAllowed(HelperPeer{1, 1000, 1000}));
}

TEST(HelperServerSocket, ReplacesAStaleSocket) {
    auto dir = std::filesystem::temp_directory_path() / ("hw-helper-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto path = (dir / "helper.sock").string();
    {  // a socket file left behind by a helper that died
        UniqueFd stale(::socket(AF_UNIX, SOCK_SEQPACKET, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.data(), path.size());
        ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    }
    {
        WakingQueue queue;
        HelperServer server({path, {::getuid()}, true, 0660, std::nullopt, std::nullopt}, echo());
        std::string error;
        ASSERT_TRUE(server.listen(&error)) << error;
        std::thread t([&] { server.run(); });
        HelperConnection client(queue);
        ASSERT_TRUE(client.connect(path, &error)) << error;
        std::string reply;
        client.send({{"rpc", "ping"}}, [&](HelperReply r) { reply = *helperString(r.message, "reply"); });
        EXPECT_TRUE(queue.waitFor([&] { return reply == "ping"; }));
        client.cancel();
        server.stop();
        t.join();
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace hw
