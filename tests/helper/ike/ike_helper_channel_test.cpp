#include "helper/ike/ike_helper_channel.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/helper_socket.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;

// What the app's end reads next: an event's or a request's name.
std::string nextName(int app) {
    auto in = receiveHelperMessage(app, 5000, nullptr);
    if (!in) return "<nothing>";
    const auto* event = helperString(in->message, "event");
    const auto* rpc = helperString(in->message, "rpc");
    if (rpc && *rpc == "get_password" && in->replyChannel)
        sendHelperMessage(in->replyChannel.get(), {{"password", "s3cret"}}, -1, 2000, nullptr);
    return event ? *event : rpc ? *rpc : "<unnamed>";
}

TEST(IkeHelperChannel, CarriesEventsThePasswordAndTheAppsStops) {
    auto [app, helper] = makeHelperSocketPair();
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
    auto channel = std::make_unique<IkeHelperChannel>(std::move(helper), handlers);

    channel->sendEvent("connecting", "", "");
    channel->sendEvent("alert", "alert", "timeout");
    std::vector<std::string> seen;
    std::thread appSide([&, fd = app.get()] {
        for (int i = 0; i < 3; ++i) seen.push_back(nextName(fd));
    });
    EXPECT_EQ(channel->requestPassword(5s), "s3cret");
    appSide.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"connecting", "alert", "get_password"}));

    struct Row {
        const char* rpc;
        const char* key;
        const char* answer;
    };
    // The app may not ask the helper for a password.
    for (const Row& row : {Row{"stop_connection", "error", "no active connection"},
                           Row{"stop_connection_forced", "reply", "YES"}, Row{"get_password", "reply", "NO"}}) {
        auto [mine, theirs] = makeHelperSocketPair();
        ASSERT_TRUE(sendHelperMessage(app.get(), {{"type", "rpc"}, {"rpc", row.rpc}}, theirs.get(), 2000, nullptr));
        auto reply = receiveHelperMessage(mine.get(), 5000, nullptr);
        ASSERT_TRUE(reply) << row.rpc;
        const auto* text = helperString(reply->message, row.key);
        EXPECT_EQ(text ? *text : "", row.answer) << row.rpc;
    }
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(stops, (std::vector<std::string>{"plain", "forced"}));
    }

    // The app goes away: the channel says so once, and stops talking.
    app.reset();
    auto c = closed.get_future();
    ASSERT_EQ(c.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(c.get(), channel.get());
    EXPECT_FALSE(channel->requestPassword(1s));
}

TEST(IkeHelperChannel, PasswordRequestEndsWhenTheAppDoesNotAnswer) {
    auto [app, helper] = makeHelperSocketPair();
    IkeHelperChannel channel(std::move(helper), {});
    EXPECT_FALSE(channel.requestPassword(50ms));
}

}  // namespace
}  // namespace hw::ike
