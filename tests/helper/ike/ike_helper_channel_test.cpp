#include "helper/ike/ike_helper_channel.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

#include "platform/helper_connection.h"
#include "platform/helper_socket.h"
#include "support/thread_queue.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;

// The app's end: a real HelperConnection whose queue runs on its own thread,
// so the helper's blocking calls get their answers.
class AppSide {
public:
    AppSide() {
        auto [app, helper] = makeHelperSocketPair();
        connection.adopt(std::move(app));
        helperSocket_ = std::move(helper);
    }
    ~AppSide() { connection.cancel(); }
    // Makes a channel and hands the helper its end, as a start would.
    UniqueFd openChannel() {
        auto end = connection.makeChannel(
            [this](HelperIncoming in) {
                std::lock_guard lock(mutex_);
                const auto* type = helperString(in.message, "type");
                const auto* name = helperString(in.message, *type == "event" ? "event" : "rpc");
                seen.push_back(*name);
                if (in.expectsReply()) in.reply({{"password", "s3cret"}});
                cv_.notify_all();
            },
            [this] {
                std::lock_guard lock(mutex_);
                seen.push_back("closed");
                cv_.notify_all();
            });
        channelId = end.id;
        return UniqueFd(::dup(end.peer.channel()->get()));
    }
    bool waitSeen(std::size_t n) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, 5s, [&] { return seen.size() >= n; });
    }

    std::vector<std::string> seen;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    test::ThreadQueue queue_;
    UniqueFd helperSocket_;

public:
    HelperConnection connection{queue_};
    std::uint64_t channelId = 0;
};

TEST(IkeHelperChannel, CarriesEventsThePasswordAndTheAppsStops) {
    AppSide app;
    std::mutex mutex;
    std::vector<std::string> stops;
    IkeHelperChannel::Handlers handlers;
    handlers.stop = [&](bool forced, const IkeChannel*, std::function<void(std::string)> answer) {
        {
            std::lock_guard lock(mutex);
            stops.push_back(forced ? "forced" : "plain");
        }
        answer(forced ? "" : "no active connection");
    };
    std::promise<const IkeChannel*> closed;
    handlers.closed = [&](const IkeChannel* c) { closed.set_value(c); };
    auto channel = std::make_unique<IkeHelperChannel>(app.openChannel(), handlers);

    channel->sendEvent("connecting", "", "");
    channel->sendEvent("alert", "alert", "timeout");
    EXPECT_EQ(channel->requestPassword(5s), "s3cret");
    ASSERT_TRUE(app.waitSeen(3));
    EXPECT_EQ(app.seen, (std::vector<std::string>{"connecting", "alert", "get_password"}));

    struct Row {
        const char* rpc;
        const char* key;
        const char* answer;
    };
    for (const Row& row : {Row{"stop_connection", "error", "no active connection"},
                           Row{"stop_connection_forced", "reply", "YES"}, Row{"get_password", "reply", "NO"}}) {
        std::promise<HelperReply> reply;
        app.connection.sendOnChannel(app.channelId, {{"type", "rpc"}, {"rpc", row.rpc}},
                                     [&](HelperReply r) { reply.set_value(r); });
        auto answered = reply.get_future();
        ASSERT_EQ(answered.wait_for(5s), std::future_status::ready) << row.rpc;
        const HelperReply got = answered.get();
        const auto* text = helperString(got.message, row.key);
        EXPECT_EQ(text ? *text : "", row.answer) << row.rpc;
    }
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(stops, (std::vector<std::string>{"plain", "forced"}));
    }

    // The app goes away: the channel says so once, and stops talking.
    app.connection.cancel();
    auto c = closed.get_future();
    ASSERT_EQ(c.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(c.get(), channel.get());
    EXPECT_FALSE(channel->requestPassword(1s));
}

TEST(IkeHelperChannel, PasswordRequestEndsWhenTheAppDoesNotAnswer) {
    auto [app, helper] = makeHelperSocketPair();
    IkeHelperChannel channel(std::move(helper), {});
    // The app end stays open and never answers: the wait is bounded.
    EXPECT_FALSE(channel.requestPassword(50ms));
}

}  // namespace
}  // namespace hw::ike
